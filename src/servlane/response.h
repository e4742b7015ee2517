#pragma once

#include <QByteArray>

namespace servlane {

// One answer as it goes out: the header block and the content, kept apart so
// a file's bytes can be sent from where they are held (the file cache)
// without first being copied behind the header. `head` may also hold a whole
// answer built in one piece.
struct Response {
    Response() = default;
    Response(QByteArray whole) : head(std::move(whole)) {} // NOLINT: a whole answer converts
    Response(QByteArray header, QByteArray content)
        : head(std::move(header)), body(std::move(content))
    {
    }

    qsizetype size() const { return head.size() + body.size(); }
    QByteArray toByteArray() const { return body.isEmpty() ? head : head + body; }

    QByteArray head;
    QByteArray body;
};

} // namespace servlane
