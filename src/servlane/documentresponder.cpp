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

Response DocumentResponder::fileResponse(const QString& localPath, QString& statusCode,
                                         const PageProcessor::Context& page,
                                         QString* readError) const
{
    QByteArray content;
    QString error;
    if (!m_files.read(localPath, content, error)) {
        if (readError)
            *readError = error;
        statusCode = QStringLiteral("500");
        return {};
    }
    const QString type = typeOf(localPath);
    if (type.compare(QLatin1String("text/html"), Qt::CaseInsensitive) == 0 &&
        (m_settings.ssi || m_settings.functions)) {
        PageProcessor::Context context = page;
        context.ssi = m_settings.ssi;
        context.functions = m_settings.functions;
        context.lookup = &m_lookup;
        context.mimeType = [this](const QString& path) { return typeOf(path); };
        content = PageProcessor::process(content, localPath, context);
    }
    return {HttpFormat::buildHeader(m_settings.serverSoftware, statusCode, content.size(), type,
                                    true, QString(), QDateTime::currentDateTimeUtc()),
            content};
}

} // namespace servlane
