#include "pageprocessor.h"

#include "filelookup.h"
#include "openfile.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace servlane {

namespace {

bool startsWithCi(const QByteArray& text, const char* prefix)
{
    return text.toLower().startsWith(QByteArray(prefix).toLower());
}

// Where the next server-side include ("<!--#") or function tag ("<%")
// starts, or -1.
qsizetype nextTag(const QByteArray& page, qsizetype from)
{
    const qsizetype a = page.indexOf("<!--#", from);
    const qsizetype b = page.indexOf("<%", from);
    return (a < 0) ? b : (b < 0 ? a : std::min(a, b));
}

} // namespace

QByteArray PageProcessor::normaliseTags(const QByteArray& page)
{
    QByteArray out;
    out.reserve(page.size());
    qsizetype pos = 0;
    while (pos < page.size()) {
        const qsizetype start = nextTag(page, pos);
        if (start < 0)
            break;
        const qsizetype end = page.indexOf('>', start);
        if (end < 0)
            break;
        out.append(page.constData() + pos, start - pos);
        for (qsizetype i = start; i <= end; ++i) {
            if (page[i] != ' ' && page[i] != '"')
                out.append(page[i]);
        }
        pos = end + 1;
    }
    out.append(page.constData() + pos, page.size() - pos);
    return out;
}

QByteArray PageProcessor::process(const QByteArray& page, const QString& pageLocalPath,
                                  const Context& context)
{
    QStringList chain{pageLocalPath};
    return processNested(page, pageLocalPath, context, chain);
}

QByteArray PageProcessor::processNested(const QByteArray& input, const QString& pageLocalPath,
                                        const Context& context, QStringList& chain)
{
    if (!context.ssi && !context.functions)
        return input;
    const QByteArray page = normaliseTags(input);
    QHash<QByteArray, QByteArray> functionAnswers; // one call per distinct tag
    QByteArray out;
    out.reserve(page.size());
    qsizetype pos = 0;
    while (pos < page.size()) {
        const qsizetype start = nextTag(page, pos);
        if (start < 0)
            break;
        out.append(page.constData() + pos, start - pos);
        const bool ssiTag = QByteArrayView(page).sliced(start).startsWith("<!--#");
        const QByteArray closer = ssiTag ? QByteArray("-->") : QByteArray("%>");
        const qsizetype end = page.indexOf(closer, start);
        if (end < 0) {
            pos = start;
            break;
        }
        const qsizetype tagEnd = end + closer.size();
        const QByteArray tag = page.mid(start, tagEnd - start);
        const qsizetype openLength = ssiTag ? 5 : 2;
        const QByteArray inner = page.mid(start + openLength, end - start - openLength);
        pos = tagEnd;

        if (ssiTag) {
            if (context.ssi && startsWithCi(inner, "echovar=")) {
                out.append(context.variable(QString::fromLatin1(inner.mid(8))).toLatin1());
                continue;
            }
            if (context.ssi && context.exec) {
                const char* kind = startsWithCi(inner, "execcmd=")   ? "execcmd"
                                   : startsWithCi(inner, "execcgi=") ? "execcgi"
                                                                     : nullptr;
                if (kind) {
                    const auto output =
                        context.exec(QString::fromLatin1(kind), QString::fromLatin1(inner.mid(8)));
                    out.append(output ? *output : tag);
                    continue;
                }
            }
            bool included = false;
            if (context.ssi) {
                for (const char* kind : {"includefile=", "includevirtual=", "include="}) {
                    if (!startsWithCi(inner, kind))
                        continue;
                    const QString path = QString::fromLatin1(inner.mid(qstrlen(kind)));
                    QByteArray content;
                    included = include(QString::fromLatin1(kind), path, pageLocalPath, context,
                                       chain, content);
                    if (included)
                        out.append(content);
                    break;
                }
            }
            // A missing include file, exec tags and anything unknown stay as
            // written.
            if (!included)
                out.append(tag);
        } else {
            if (inner.startsWith('=')) {
                const QByteArray body = inner.mid(1);
                if (context.ssi && startsWithCi(body, "Request.ServerVariables(") &&
                    body.endsWith(')')) {
                    out.append(
                        context.variable(QString::fromLatin1(body.mid(24).chopped(1))).toLatin1());
                    continue;
                }
                if (context.ssi && startsWithCi(body, "Request.QueryString(") &&
                    body.endsWith(')')) {
                    out.append(context.queryValue(QString::fromLatin1(body.mid(20).chopped(1)))
                                   .toLatin1());
                    continue;
                }
                if (context.functions && startsWithCi(body, "Function")) {
                    auto it = functionAnswers.find(tag);
                    if (it == functionAnswers.end())
                        it = functionAnswers.insert(
                            tag, context.callFunction(QString::fromLatin1(body.mid(8))).toLatin1());
                    out.append(*it);
                    continue;
                }
            }
            out.append(tag);
        }
    }
    if (pos < page.size())
        out.append(page.constData() + pos, page.size() - pos);
    return out;
}

bool PageProcessor::include(const QString& kind, const QString& path, const QString& pageLocalPath,
                            const Context& context, QStringList& chain, QByteArray& out)
{
    if (!context.lookup || chain.size() > kMaxIncludeDepth)
        return false;
    const FileLookup& lookup = *context.lookup;
    QString localPath;
    if (kind == QLatin1String("includefile=")) {
        // Relative to the page's own folder, but never above the root.
        QString wanted = path;
        wanted.replace(QLatin1Char('\\'), QLatin1Char('/'));
        const QString joined =
            QDir::cleanPath(QFileInfo(pageLocalPath).absolutePath() + QLatin1Char('/') + wanted);
        if (!lookup.contains(joined))
            return false;
        const FileLookup::Result found = lookup.resolve(joined.mid(lookup.root().size()));
        if (found.exists && !found.isDirectory)
            localPath = found.localPath;
    } else {
        localPath = lookup.resolveVirtual(path);
    }
    // The look-up remembers files for a moment: checked afresh before the
    // open, so a FIFO that took a file's place is never opened.
    if (localPath.isEmpty() || FileLookup::isAccessFile(QFileInfo(localPath).fileName()) ||
        chain.contains(localPath) || !FileLookup::isRegularFile(localPath))
        return false;
    const std::optional<QByteArray> read = OpenFile::readWhole(localPath, kMaxIncludeSize);
    if (!read)
        return false;
    const QByteArray& content = *read;
    const QString type = context.mimeType ? context.mimeType(localPath) : QString();
    if (type.trimmed().compare(QLatin1String("text/html"), Qt::CaseInsensitive) != 0) {
        out = content;
        return true;
    }
    chain.append(localPath);
    out = processNested(content, localPath, context, chain);
    chain.removeLast();
    return true;
}

} // namespace servlane
