#include "requestdispatch.h"

#include "accesscheck.h"
#include "cgirequests.h"
#include "cgirunner.h"
#include "directorylisting.h"
#include "documentresponder.h"
#include "erroranswers.h"
#include "filelookup.h"
#include "hostnamecache.h"
#include "httpformat.h"
#include "servervariables.h"
#include "socketlayer.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLoggingCategory>
#include <exception>

Q_LOGGING_CATEGORY(lcDispatch, "casalux.servlane", QtWarningMsg)

namespace servlane {

RequestDispatch::RequestDispatch(ServerParts& parts)
    : m_parts(parts), m_cgi(std::make_unique<CgiRequests>(parts, *this))
{
}

RequestDispatch::~RequestDispatch() = default;

void RequestDispatch::setSettings(const ServerSettings& settings)
{
    m_settings = settings;
    m_indexPages = settings.indexPageNames.split(QLatin1Char(','));
    m_parts.responder->setSettings(
        {settings.serverSoftware, settings.ssiEnable, settings.functionsEnable});
    m_parts.errors->setSettings({settings.serverSoftware, settings.hostFolder,
                                 settings.verboseErrors, settings.errorFilesEnable});
    m_cgi->setSettings({settings.serverSoftware, settings.cgiDirectory,
                        CgiRunner::timeoutMs(settings.cgiTimeoutSeconds)});
}

void RequestDispatch::stopPrograms()
{
    m_cgi->stopPrograms();
}

void RequestDispatch::onRequest(int index)
{
    ConnectionSlot* s = m_parts.sockets->slot(index);
    if (!s)
        return;
    // CGI programs and pages with echo tags may need REMOTE_HOST: look the
    // client up first, for a bounded time, without holding anyone else up.
    // A name already known answers at once: the slot is still Handling here,
    // so the request goes on straight away.
    if (m_settings.cgiEnable || m_settings.ssiEnable) {
        const quint64 generation = s->generation;
        m_parts.hostNames->resolve(s->clientAddress, m_parts.sockets->limits().hostLookupTimeoutMs,
                                   this, [this, index, generation] {
                                       whileStillWanted(index, generation,
                                                        [this, index] { handleRequest(index); });
                                   });
        return;
    }
    handleRequest(index);
}

void RequestDispatch::whileStillWanted(int index, quint64 generation,
                                       const std::function<void()>& action)
{
    const ConnectionSlot* s = m_parts.sockets->slot(index);
    if (!s || s->generation != generation)
        return; // that connection is long gone; the slot serves another
    if (s->state == SlotState::Abandoned) {
        m_parts.sockets->send(index, QByteArray()); // the client left: free the slot
        return;
    }
    if (s->state == SlotState::Handling)
        action();
}

void RequestDispatch::handleRequest(int index)
{
    ConnectionSlot* s = m_parts.sockets->slot(index);
    if (!s)
        return;
    try {
        HttpRequest& r = s->request;
        switch (FileLookup::checkRequestPath(r.requestPath)) {
        case FileLookup::Check::BadRequest:
            sendRefusal(index, HttpStatus(400), QStringLiteral("malformed request path"));
            return;
        case FileLookup::Check::Forbidden:
            sendRefusal(index, HttpStatus(403),
                        QStringLiteral("request path leaves the document root"));
            return;
        case FileLookup::Check::Ok:
            break;
        }
        mapRequestPath(index);
        QString fileName = r.requestPath;
        if (const qsizetype backslash = fileName.lastIndexOf(QLatin1Char('\\')); backslash >= 0)
            fileName = fileName.mid(backslash + 1);
        if (!m_settings.trapEnable || !isTrapped(fileName)) {
            serveFromRoot(index);
            return;
        }
        const QString credentials =
            r.userName.isEmpty() ? QString() : r.userName + QLatin1Char(':') + r.password;
        s->responseStatus = HttpStatus();
        s->extraHeader.clear();
        m_parts.sockets->setTrapped(index);
        Q_EMIT fileRequested(index, fileName, credentials);
    } catch (const std::exception& e) {
        m_parts.reportFailure(QStringLiteral("Error - TCP::DataArrival. ["), 0,
                              QString::fromLocal8Bit(e.what()));
        sendErrorPage(index, HttpStatus(500));
    }
}

void RequestDispatch::onRejected(int index, int status, bool refusal)
{
    if (refusal)
        sendRefusal(index, HttpStatus(status), QStringLiteral("request refused"));
    else
        sendErrorPage(index, HttpStatus(status));
}

void RequestDispatch::onTrapExpired(int index)
{
    m_parts.reportFailure(QStringLiteral("Error - SendWebPage. ["), 503,
                          QStringLiteral("No answer from the host for connection ") +
                              QString::number(index));
    sendRefusal(index, HttpStatus(503), QStringLiteral("host did not answer"));
}

void RequestDispatch::mapRequestPath(int index)
{
    HttpRequest& r = m_parts.sockets->slot(index)->request;
    if (r.requestPath.isEmpty())
        return; // names nothing, not the root
    const FileLookup::Result found = m_parts.lookup->resolve(r.requestPath);
    if (!found.exists || !found.isDirectory)
        return;
    const QString name = m_parts.lookup->findIndexPage(found.localPath, m_indexPages);
    if (name.isEmpty())
        return;
    QString path = r.requestPath + QLatin1Char('/') + name;
    while (path.contains(QLatin1String("//")))
        path.replace(QLatin1String("//"), QLatin1String("/"));
    r.requestPath = path;
}

bool RequestDispatch::isTrapped(const QString& fileName) const
{
    const QString types = m_settings.trapFileTypes;
    if (types.trimmed().isEmpty())
        return true;
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    // As the setting was always read: the extension found anywhere in the
    // list text.
    return types.contains(fileName.mid(dot + 1), Qt::CaseInsensitive);
}

void RequestDispatch::serveFromRoot(int index)
{
    answerGuarded(index, [this, index] { sendDocument(index); });
}

void RequestDispatch::sendErrorPage(int index, const HttpStatus& status)
{
    answerGuarded(index, [this, index, &status] {
        m_parts.sockets->send(index, errorAnswer(index, status));
    });
}

void RequestDispatch::answerGuarded(int index, const std::function<void()>& answer)
{
    m_parts.requests += 1;
    try {
        answer();
    } catch (const std::exception& e) {
        m_parts.reportFailure(QStringLiteral("Error - SendWebPage. ["), 0,
                              QString::fromLocal8Bit(e.what()));
        m_parts.sockets->closeWithoutAnswer(index);
    }
}

void RequestDispatch::sendHostAnswer(int index, const QByteArray& data, const QString& contentType)
{
    const ConnectionSlot* s = m_parts.sockets->slot(index);
    if (!s)
        return;
    m_parts.requests += 1;
    m_parts.sockets->send(
        index, Response(HttpFormat::buildHeader(m_settings.serverSoftware, s->responseStatus,
                                                data.size(), contentType, true, s->extraHeader,
                                                QDateTime::currentDateTimeUtc()),
                        data));
}

void RequestDispatch::sendDocument(int index)
{
    const HttpRequest r = m_parts.sockets->slot(index)->request;
    if (r.requestPath.isEmpty()) {
        // Nothing to serve and nothing is sent; the slot is freed at once
        // rather than held until the client gives up.
        m_parts.sockets->closeWithoutAnswer(index);
        return;
    }
    const FileLookup::Result found = m_parts.lookup->resolve(r.requestPath);
    if (found.outside) {
        sendRefusal(index, HttpStatus(403), QStringLiteral("resolves outside the document root"));
        return;
    }
    // The path alone decides what runs: nothing in the query ever makes a
    // program of a file.
    const bool cgi =
        m_settings.cgiEnable && r.requestPath.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive);
    const bool foundFile = found.exists && !found.isDirectory;
    const QString program =
        cgi ? m_cgi->programFor(r.requestPath, foundFile ? found.localPath : QString()) : QString();
    // The look-up remembers files for a moment: a file is checked afresh
    // before it is opened, so nothing that took its place (a FIFO, which
    // would block) is read. That same look serves the file cache.
    const FileCache::Look look =
        foundFile && !cgi ? FileCache::Look::at(found.localPath) : FileCache::Look();
    if (cgi ? program.isEmpty()
            : !found.exists || (!found.isDirectory && !look.isRegularFile())) {
        finishDocument(index, HttpStatus(404), errorAnswer(index, HttpStatus(404)));
        return;
    }

    // Guarded by the real folder of what is served, whatever the spelling of
    // the path: a file by the folder that holds it, a folder (its listing)
    // by its own. A program from the CGI folder has no folder in the root.
    const bool directory = !cgi && found.isDirectory;
    const QString accessFile = cgi && !foundFile ? m_parts.lookup->accessFileAlong(r.requestPath)
                                                 : m_parts.lookup->accessFileFor(found);
    const AccessCheck::Verdict verdict =
        AccessCheck::check(accessFile, r.userName, r.password, m_settings.authSource,
                           m_settings.authSourceFile, m_parts.nameInUse);
    if (!verdict.allowed) {
        finishDocument(index, HttpStatus(401), m_parts.errors->challenge(verdict.realm, directory));
        return;
    }

    if (cgi) {
        m_cgi->runCgi(index, program);
        return;
    }
    HttpStatus status;
    Response response;
    if (directory) {
        if (m_settings.browseEnable) {
            const QByteArray page = DirectoryListing::page(*m_parts.lookup, found.localPath,
                                                           r.requestPath, m_parts.nameInUse)
                                        .toLatin1();
            response =
                Response(HttpFormat::buildHeader(m_settings.serverSoftware, status, page.size(),
                                                 QStringLiteral("text/html"), true, QString(),
                                                 QDateTime::currentDateTimeUtc()),
                         page);
        } else {
            status = HttpStatus(403);
            response = errorAnswer(index, status);
        }
    } else {
        if (m_settings.ssiEnable && m_cgi->runExecTags(index, found.localPath))
            return; // the page is built once its programs are done
        response = fileResponse(index, found.localPath, status, &look);
    }
    finishDocument(index, status, response);
}

void RequestDispatch::finishDocument(int index, const HttpStatus& status, const Response& response)
{
    const ConnectionSlot* s = m_parts.sockets->slot(index);
    if (!s)
        return;
    const HttpRequest& r = s->request;
    const QString line = m_parts.accessLogWanted()
                             ? HttpFormat::accessLogLine(
                                   s->clientAddress, QDateTime::currentDateTimeUtc(),
                                   r.requestTarget, status, response.size(), r.referer, r.userAgent)
                             : QString();
    m_parts.sockets->send(index, response);
    m_parts.bytesSent += double(response.size());
    if (!line.isEmpty())
        Q_EMIT accessLogged(line);
}

void RequestDispatch::sendRefusal(int index, const HttpStatus& status, const QString& why)
{
    m_parts.requests += 1;
    const ConnectionSlot* s = m_parts.sockets->slot(index);
    if (!s)
        return;
    const QByteArray response = m_parts.errors->builtIn(status);
    qCInfo(lcDispatch).noquote() << "refused" << status.code() << s->clientAddress
                                 << s->request.requestTarget << why;
    const QString line =
        m_parts.accessLogWanted()
            ? HttpFormat::accessLogLine(s->clientAddress, QDateTime::currentDateTimeUtc(),
                                        s->request.requestTarget, status, response.size(),
                                        s->request.referer, s->request.userAgent)
            : QString();
    m_parts.sockets->send(index, response);
    if (!line.isEmpty())
        Q_EMIT accessLogged(line);
}

PageProcessor::Context RequestDispatch::pageContext(int index, const QString& localPath)
{
    PageProcessor::Context context;
    context.variable = [this, index, localPath](const QString& name) {
        return variable(index, name, localPath);
    };
    context.queryValue = [this, index](const QString& name) {
        const ConnectionSlot* s = m_parts.sockets->slot(index);
        return s ? s->query.value(name) : QString();
    };
    context.exec = [this](const QString& kind, const QString& command) {
        return m_cgi->execOutput(kind, command);
    };
    context.callFunction = [this, index](const QString& name) {
        if (ConnectionSlot* s = m_parts.sockets->slot(index))
            s->functionReturn.clear();
        Q_EMIT functionCalled(index, name);
        const ConnectionSlot* s = m_parts.sockets->slot(index);
        return s ? s->functionReturn : QString();
    };
    return context;
}

Response RequestDispatch::errorAnswer(int index, const HttpStatus& status)
{
    return m_parts.errors->answer(status, pageContext(index, QString()));
}

Response RequestDispatch::fileResponse(int index, const QString& localPath, HttpStatus& status,
                                       const FileCache::Look* look)
{
    QString readError;
    Response response = m_parts.responder->fileResponse(
        localPath, status, pageContext(index, localPath), &readError, look);
    if (readError.isEmpty())
        return response;
    // Found a moment ago (the look-up remembers files briefly) but gone now.
    if (const ConnectionSlot* s = m_parts.sockets->slot(index))
        m_parts.lookup->forget(s->request.requestPath);
    if (!QFileInfo::exists(localPath)) {
        status = HttpStatus(404);
        return errorAnswer(index, status);
    }
    m_parts.reportFailure(QStringLiteral("Error - SendWebPage. ["), 500, readError);
    status = HttpStatus(500);
    return m_parts.errors->builtIn(status);
}

QString RequestDispatch::variable(int index, const QString& name, const QString& localPath) const
{
    const ConnectionSlot* s = m_parts.sockets->slot(index);
    if (!s)
        return {};
    ServerVariables::Context c;
    c.request = &s->request;
    c.localPath = localPath;
    c.clientAddress = s->clientAddress;
    c.remoteHost = m_parts.hostNames->cached(s->clientAddress);
    if (c.remoteHost.isNull())
        m_parts.hostNames->prefetch(s->clientAddress); // for the next request; "Unknown" for now
    c.serverName = m_parts.nameInUse;
    c.serverPort = QString::number(m_settings.serverPort);
    c.serverSoftware = m_settings.serverSoftware;
    c.serverIp = m_parts.addressInUse;
    c.now = QDateTime::currentDateTime();
    return ServerVariables::value(name, c);
}

} // namespace servlane
