#include "httpstatus.h"

#include <array>
#include <utility>

namespace servlane {

namespace {

// Only codes this table knows get a reason; the server's own limit answers
// (413, 414, 431) are listed so their status lines read sensibly.
constexpr std::array<std::pair<const char*, const char*>, 18> kReasons{{
    {"200", "OK"},
    {"201", "Created"},
    {"202", "Accepted"},
    {"204", "No Content"},
    {"301", "Moved Permanently"},
    {"302", "Moved Temporarily"},
    {"304", "Not Modified"},
    {"400", "Bad Request"},
    {"401", "Unauthorized"},
    {"403", "Forbidden"},
    {"404", "Not Found"},
    {"413", "Payload Too Large"},
    {"414", "URI Too Long"},
    {"431", "Request Header Fields Too Large"},
    {"500", "Internal Server Error"},
    {"501", "Not Implemented"},
    {"502", "Bad Gateway"},
    {"503", "Service Unavailable"},
}};

} // namespace

HttpStatus::HttpStatus(int code) : HttpStatus(QString::number(code)) {}

HttpStatus::HttpStatus(QString code) : m_code(std::move(code)), m_reason("Undefined Status Code")
{
    for (const auto& [number, reason] : kReasons) {
        if (m_code == QLatin1String(number)) {
            m_reason = QLatin1String(reason);
            break;
        }
    }
}

HttpStatus HttpStatus::fromText(const QString& code)
{
    return HttpStatus(code.trimmed());
}

HttpStatus HttpStatus::fromReason(QStringView reason)
{
    for (const auto& [number, text] : kReasons) {
        if (reason == QLatin1String(text))
            return HttpStatus(QString::fromLatin1(number));
    }
    return HttpStatus(299);
}

} // namespace servlane
