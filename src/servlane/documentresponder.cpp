#include "documentresponder.h"

#include "filelookup.h"
#include "httpformat.h"
#include "mimetable.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace servlane {

DocumentResponder::DocumentResponder(const FileLookup& lookup, const MimeTable& mime)
    : m_lookup(lookup), m_mime(mime)
{
}

QString DocumentResponder::typeOf(const QString& localPath) const
{
    return m_mime.typeForExtension(MimeTable::extensionOf(localPath));
}

Response DocumentResponder::fileResponse(const QString& localPath, HttpStatus& status,
                                         const PageProcessor::Context& page,
                                         QString* readError, const FileCache::Look* look) const
{
    const QString type = typeOf(localPath);
    const bool processed = type.compare(QLatin1String("text/html"), Qt::CaseInsensitive) == 0 &&
                           (m_settings.ssi || m_settings.functions);
    FileCache::Content content;
    QString error;
    // A page whose tags are processed is needed whole (the page processor
    // bounds it); any other file above the cache's entry size is sent from
    // disk as it is.
    const bool ok = processed ? m_files.read(localPath, content.bytes, error, look)
                              : m_files.fetch(localPath, content, error, look);
    if (!ok) {
        if (readError)
            *readError = error;
        status = HttpStatus(500);
        return {};
    }
    if (content.file) {
        const qint64 size = content.file->size();
        return {HttpFormat::buildHeader(m_settings.serverSoftware, status, size, type, true,
                                        QString(), QDateTime::currentDateTimeUtc()),
                std::move(content.file), 0, size};
    }
    if (processed) {
        PageProcessor::Context context = page;
        context.ssi = m_settings.ssi;
        context.functions = m_settings.functions;
        context.lookup = &m_lookup;
        context.mimeType = [this](const QString& path) { return typeOf(path); };
        content.bytes = PageProcessor::process(content.bytes, localPath, context);
    }
    return {HttpFormat::buildHeader(m_settings.serverSoftware, status, content.bytes.size(), type,
                                    true, QString(), QDateTime::currentDateTimeUtc()),
            content.bytes};
}

} // namespace servlane
