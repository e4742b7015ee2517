#include "erroranswers.h"

#include "documentresponder.h"
#include "errorpages.h"
#include "httpformat.h"

#include <QDateTime>
#include <QFileInfo>

namespace servlane {

ErrorAnswers::ErrorAnswers(const DocumentResponder& responder) : m_responder(responder) {}

Response ErrorAnswers::answer(const HttpStatus& status, const PageProcessor::Context& page) const
{
    if (m_settings.verboseErrors && m_settings.errorFiles) {
        const QString folder = m_settings.hostFolder + QStringLiteral("/html/errors/");
        QString file = folder + QStringLiteral("http") + status.code() + QStringLiteral(".html");
        if (!QFileInfo(file).isFile())
            file = folder + QStringLiteral("http404.html");
        if (QFileInfo(file).isFile()) {
            HttpStatus sent = status;
            Response response = m_responder.fileResponse(file, sent, page);
            if (sent == status)
                return response;
        }
    }
    return builtIn(status);
}

QByteArray ErrorAnswers::builtIn(const HttpStatus& status) const
{
    const QByteArray body =
        m_settings.verboseErrors ? ErrorPages::page(status).toLatin1() : QByteArray();
    return HttpFormat::buildHeader(m_settings.serverSoftware, status, body.size(),
                                   QStringLiteral("text/html"), true, QString(),
                                   QDateTime::currentDateTimeUtc()) +
           body;
}

QByteArray ErrorAnswers::challenge(const QString& realm, bool folder) const
{
    return HttpFormat::buildHeader(m_settings.serverSoftware, HttpStatus(401), 0,
                                   QStringLiteral("text/html"), false, QString(),
                                   QDateTime::currentDateTimeUtc()) +
           (folder ? QByteArrayLiteral("WWW-authenticate: Basic realm=")
                   : QByteArrayLiteral("WWW-Authenticate: Basic realm=")) +
           realm.toLatin1() + "\r\n\r\n";
}

} // namespace servlane
