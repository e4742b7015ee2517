#pragma once

#include "openfile.h"

#include <QByteArray>
#include <memory>

namespace servlane {

// One answer as it goes out: the header block, content held in memory, and
// optionally a part of an open file that follows the content. They are kept
// apart so a file's bytes go from where they are held (the file cache, or
// the file itself through sendfile) without first being copied behind the
// header. `head` may also hold a whole answer built in one piece.
struct Response {
    Response() = default;
    Response(QByteArray whole) : head(std::move(whole)) {} // NOLINT: a whole answer converts
    Response(QByteArray header, QByteArray content)
        : head(std::move(header)), body(std::move(content))
    {
    }
    Response(QByteArray header, std::shared_ptr<const OpenFile> part, qint64 offset, qint64 length)
        : head(std::move(header)), file(std::move(part)), fileOffset(offset),
          fileLength(file ? length : 0)
    {
    }

    qint64 size() const { return qint64(head.size()) + body.size() + fileLength; }
    // Everything in one piece; a file part is read in (only for answers
    // known to be small, such as error pages).
    QByteArray toByteArray() const;

    // The answer to a HEAD request: the header block up to and including
    // its blank line, nothing after it (the Content-Length stays what the
    // full answer announces).
    Response headerOnly() const;

    QByteArray head;
    QByteArray body;
    std::shared_ptr<const OpenFile> file;
    qint64 fileOffset = 0;
    qint64 fileLength = 0;
};

} // namespace servlane
