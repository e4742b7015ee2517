// libFuzzer target for the request parser and the path checks behind it:
// any bytes a client can send must give "need more", a request or a
// refusal, never a crash, an overflow or a path that climbs out.
#include "filelookup.h"
#include "percentcodec.h"
#include "requestparser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    servlane::RequestLimits limits;
    limits.maxRequestLine = 512; // small limits reach the refusal paths sooner
    limits.maxHeaderBlock = 1024;
    limits.maxHeaderCount = 16;
    limits.maxBody = 2048;
    const auto r = servlane::RequestParser::parse(bytes, limits);
    if (r.state == servlane::RequestParser::State::Complete) {
        const QString& path = r.request.requestPath;
        const auto check = servlane::FileLookup::checkRequestPath(path);
        // A path that passed the check never names a parent folder.
        if (check == servlane::FileLookup::Check::Ok) {
            for (const QString& segment : path.split(QLatin1Char('/'))) {
                const auto decoded = servlane::PercentCodec::decodeStrict(segment.toLatin1());
                if (decoded && (*decoded == ".." || decoded->contains('/')))
                    std::abort();
            }
        }
        if (r.consumed > bytes.size())
            std::abort();
    }
    servlane::PercentCodec::decodeStrict(bytes);
    return 0;
}
