#include "requestparser.h"

#include "percentcodec.h"

#include <QList>
#include <QVarLengthArray>

namespace servlane {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

RequestParser::Result rejected(int status, bool refusal = true)
{
    RequestParser::Result r;
    r.state = RequestParser::State::Rejected;
    r.status = status;
    r.refusal = refusal;
    return r;
}

// Value after `name` on a header line, trimmed; null when absent. The line
// is searched as it arrived (Latin-1); only a value found becomes a string.
QString valueAfter(QLatin1String line, QLatin1String name, Qt::CaseSensitivity cs)
{
    const qsizetype at = line.indexOf(name, 0, cs);
    if (at < 0)
        return {};
    QString v = QString(line.sliced(at + name.size())).trimmed();
    if (v.isNull())
        v = QLatin1String("");
    return v;
}

// Value of the header `name` (with its colon) when the line is that header:
// the name starts the line, in any letter case. Null otherwise.
QString headerValue(QLatin1String line, QLatin1String name)
{
    if (!line.startsWith(name, Qt::CaseInsensitive))
        return {};
    QString v = QString(line.sliced(name.size())).trimmed();
    if (v.isNull())
        v = QLatin1String("");
    return v;
}

// User name and password of Basic credentials ("Basic" in any case, then
// Base64 of user:password, split at the first colon). Text that is not
// Base64 carries none: both come back empty, not null.
void basicCredentials(const QString& value, QString& user, QString& password)
{
    user = QLatin1String("");
    password = QString();
    if (!value.startsWith(QLatin1String("basic"), Qt::CaseInsensitive))
        return;
    const QString encoded = value.mid(5).trimmed();
    for (const QChar c : encoded) {
        if (c.unicode() > 0x7f)
            return;
    }
    const auto bytes = QByteArray::fromBase64Encoding(
        encoded.toLatin1(), QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!bytes)
        return;
    const QString decoded = QString::fromLatin1(*bytes);
    const qsizetype colon = decoded.indexOf(QLatin1Char(':'));
    user = (colon < 0 ? decoded : decoded.left(colon)).trimmed();
    password = colon < 0 ? QString() : decoded.mid(colon + 1).trimmed();
}

} // namespace

bool RequestParser::hasControlCharacters(const QByteArray& requestLine)
{
    for (qsizetype i = 0; i < requestLine.size(); ++i) {
        const auto c = static_cast<unsigned char>(requestLine[i]);
        if (c < 0x20 || c == 0x7f)
            return true;
        if (c == '%' && i + 2 < requestLine.size()) {
            const int hi = PercentCodec::hexValue(requestLine[i + 1]);
            const int lo = PercentCodec::hexValue(requestLine[i + 2]);
            if (hi >= 0 && lo >= 0) {
                const int v = hi * 16 + lo;
                if (v < 0x20 || v == 0x7f)
                    return true;
            }
        }
    }
    return false;
}

QString RequestParser::requestTarget(const QString& requestLine)
{
    // The target starts at the fifth character (after "GET "; for longer
    // methods the leading blank is trimmed off) and ends at the first space
    // after it.
    const qsizetype space = requestLine.indexOf(QLatin1Char(' '), 5);
    if (space < 0)
        return QLatin1String("");
    return requestLine.mid(4, space - 4).trimmed();
}

QString RequestParser::remainingPath(const QString& target)
{
    qsizetype from = 0;
    if (target.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        from = 7;
    else if (target.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        from = 8;
    const qsizetype slash = target.indexOf(QLatin1Char('/'), from);
    return slash < 0 ? QLatin1String("") : target.mid(slash);
}

RequestParser::Result RequestParser::parse(const QByteArray& data, const RequestLimits& limits)
{
    // The head is taken trimmed: blank lines before the request line are
    // skipped, but never more than a request line's worth.
    qsizetype begin = 0;
    while (begin < data.size() && isBlank(data[begin]))
        ++begin;
    if (begin > limits.maxRequestLine)
        return rejected(400);

    const qsizetype lineEnd = data.indexOf('\n', begin);
    if (lineEnd < 0) {
        if (data.size() - begin > limits.maxRequestLine)
            return rejected(414);
        return {};
    }
    qsizetype lineLength = lineEnd - begin;
    if (lineLength > 0 && data[lineEnd - 1] == '\r')
        --lineLength;
    if (lineLength > limits.maxRequestLine)
        return rejected(414);
    const QByteArray requestLine = data.mid(begin, lineLength);
    if (hasControlCharacters(requestLine))
        return rejected(400);

    // The head ends at the first empty line; bare LF line ends are accepted
    // since hand-typed requests use them.
    qsizetype headEnd = -1;
    qsizetype separator = 0;
    {
        const qsizetype crlf = data.indexOf("\r\n\r\n", lineEnd - 1 >= begin ? lineEnd - 1 : begin);
        const qsizetype lflf = data.indexOf("\n\n", lineEnd);
        if (crlf >= 0 && (lflf < 0 || crlf < lflf)) {
            headEnd = crlf;
            separator = 4;
        } else if (lflf >= 0) {
            headEnd = lflf;
            separator = 2;
        }
    }
    if (headEnd < 0) {
        if (data.size() - (lineEnd + 1) > limits.maxHeaderBlock)
            return rejected(431);
        return {};
    }

    const qsizetype blockStart = lineEnd + 1;
    const QByteArray block =
        headEnd + 1 > blockStart ? data.mid(blockStart, headEnd + 1 - blockStart) : QByteArray();
    if (block.size() > limits.maxHeaderBlock)
        return rejected(431);
    if (block.contains('\0'))
        return rejected(400);

    // Header lines as they stand in the buffer, empty ones left out.
    QVarLengthArray<QLatin1String, 32> lines;
    for (qsizetype from = 0; from <= block.size();) {
        qsizetype end = block.indexOf('\n', from);
        if (end < 0)
            end = block.size();
        qsizetype length = end - from;
        if (length > 0 && block[end - 1] == '\r')
            --length;
        if (length > 0)
            lines.append(QLatin1String(block.constData() + from, length));
        from = end + 1;
    }
    if (lines.size() > limits.maxHeaderCount)
        return rejected(431);

    Result result;
    result.headComplete = true;
    HttpRequest& req = result.request;
    req.headerText = QString::fromLatin1(data.constData() + begin, headEnd + separator - begin);

    QStringList accepts;
    QString contentLength;
    int contentLengthLines = 0;
    bool chunked = false;
    bool expectContinue = false;
    for (const QLatin1String line : std::as_const(lines)) {
        if (const QString expect = headerValue(line, QLatin1String("expect:")); !expect.isNull())
            expectContinue = expect.compare(QLatin1String("100-continue"), Qt::CaseInsensitive) == 0;
        const QString accept = valueAfter(line, QLatin1String("accept:"), Qt::CaseInsensitive);
        if (!accept.isNull())
            accepts.append(accept);
        if (req.referer.isNull())
            req.referer = valueAfter(line, QLatin1String("referer:"), Qt::CaseInsensitive);
        // These three count only as what starts the line, in any letter
        // case: "X-Authorization: Basic ..." is no credential.
        if (req.userAgent.isNull())
            req.userAgent = headerValue(line, QLatin1String("user-agent:"));
        if (req.userName.isNull()) {
            const QString auth = headerValue(line, QLatin1String("authorization:"));
            if (!auth.isNull())
                basicCredentials(auth, req.userName, req.password);
        }
        if (const QString length = headerValue(line, QLatin1String("content-length:"));
            !length.isNull()) {
            contentLength = length;
            ++contentLengthLines;
        }
        if (line.startsWith(QLatin1String("transfer-encoding:"), Qt::CaseInsensitive))
            chunked = true;
        if (line.startsWith(QLatin1String("content-type:"), Qt::CaseInsensitive))
            req.contentType = QString(line.sliced(13)).trimmed();
    }
    req.accept = accepts.join(QStringLiteral(", "));
    if (req.accept.endsWith(QLatin1Char(',')))
        req.accept.chop(1);
    if (req.referer.isNull())
        req.referer = QLatin1String("");
    if (req.userAgent.isNull())
        req.userAgent = QLatin1String("");
    // Two lengths are how requests get smuggled past proxies: refuse.
    if (contentLengthLines > 1)
        return rejected(400);

    // A body without a length (chunked) is not taken; with both, the two
    // could be read differently on the way here: refuse.
    if (chunked)
        return rejected(contentLengthLines > 0 ? 400 : 411);

    const QString line = QString::fromLatin1(requestLine);
    const bool head = line.startsWith(QLatin1String("HEAD "));
    bool isGet = head || line.startsWith(QLatin1String("GET "));
    if (!isGet && !line.startsWith(QLatin1String("POST ")))
        return rejected(501);
    qint64 bodyLength = 0;
    if (!isGet) {
        if (contentLength.isEmpty())
            return rejected(400, false);
        for (const QChar c : std::as_const(contentLength)) {
            if (!c.isDigit() || c.unicode() > 0x7f)
                return rejected(400);
        }
        // Bounded by length before conversion so the number cannot overflow;
        // one to twelve ASCII digits always convert.
        if (contentLength.size() > 12)
            return rejected(413);
        bodyLength = contentLength.toLongLong();
        if (bodyLength > limits.maxBody)
            return rejected(413);
        // An announced empty body is served as a GET.
        isGet = bodyLength == 0;
    }
    req.method = head    ? QStringLiteral("HEAD")
                 : isGet ? QStringLiteral("GET")
                         : QStringLiteral("POST");

    result.consumed = headEnd + separator;
    if (!isGet) {
        const qsizetype bodyStart = headEnd + separator;
        if (data.size() - bodyStart < bodyLength) {
            // Head complete, body still arriving. An HTTP/1.1 client may
            // hold its body until it is told to go on.
            result.expectsContinue = expectContinue && data.size() == bodyStart &&
                                     line.endsWith(QLatin1String(" HTTP/1.1"));
            return result;
        }
        req.contentLength = contentLength;
        req.queryData = QString::fromLatin1(data.mid(bodyStart, bodyLength));
        result.consumed = bodyStart + bodyLength;
    }

    req.requestTarget = requestTarget(line);
    const QString remaining = remainingPath(req.requestTarget);
    const qsizetype question = remaining.indexOf(QLatin1Char('?'));
    if (question >= 0) {
        req.requestPath = remaining.left(question);
        if (isGet)
            req.queryData = remaining.mid(question + 1);
    } else {
        req.requestPath = remaining;
    }
    if (req.queryData.isNull())
        req.queryData = QLatin1String("");
    req.fileName = req.requestPath.mid(req.requestPath.lastIndexOf(QLatin1Char('/')) + 1);

    result.state = State::Complete;
    return result;
}

} // namespace servlane
