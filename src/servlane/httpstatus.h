#pragma once

#include <QLatin1String>
#include <QString>

namespace servlane {

// One status of an answer: the three characters of its code, as they go
// into the status line and the access log, and the reason phrase the
// server's table gives them ("Undefined Status Code" for a code it does not
// know). The host may name any three characters as a status, so the code is
// kept as text; the phrase points into the table and costs nothing to copy.
class HttpStatus final {
public:
    HttpStatus() : HttpStatus(200) {}
    explicit HttpStatus(int code);

    // The code as the host gave it, blanks trimmed.
    static HttpStatus fromText(const QString& code);
    // The code of a reason phrase; 299 for a phrase the table does not know.
    static HttpStatus fromReason(QStringView reason);

    const QString& code() const { return m_code; }
    QLatin1String reason() const { return m_reason; }

    bool operator==(const HttpStatus& other) const { return m_code == other.m_code; }

private:
    explicit HttpStatus(QString code);

    QString m_code;
    QLatin1String m_reason;
};

} // namespace servlane
