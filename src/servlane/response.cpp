#include "response.h"

namespace servlane {

QByteArray Response::toByteArray() const
{
    if (!file || fileLength <= 0)
        return body.isEmpty() ? head : head + body;
    return head + body + file->read(fileOffset, fileLength);
}

Response Response::headerOnly() const
{
    // The blank line lies in the head in every answer built here; the body
    // is looked at only for an answer whose head was split oddly.
    if (const qsizetype end = head.indexOf("\r\n\r\n"); end >= 0)
        return Response(head.left(end + 4));
    const QByteArray joined = head + body;
    if (const qsizetype end = joined.indexOf("\r\n\r\n"); end >= 0)
        return Response(joined.left(end + 4));
    // No blank line at all: not a well-formed answer. Whatever it holds is
    // header text, never content.
    return Response(joined);
}

} // namespace servlane
