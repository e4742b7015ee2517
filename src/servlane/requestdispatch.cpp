#include "requestdispatch.h"

#include "accesscheck.h"
#include "cgirequests.h"
#include "directorylisting.h"
#include "documentresponder.h"
#include "erroranswers.h"
#include "filelookup.h"
#include "hostnamecache.h"
#include "httpformat.h"
#include "servervariables.h"
#include "servlane.h"
#include "socketlayer.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLoggingCategory>
#include <exception>

Q_LOGGING_CATEGORY(lcDispatch, "casalux.servlane", QtWarningMsg)

namespace servlane {

RequestDispatch::RequestDispatch(Servlane& server, ServerParts& parts)
    : m_server(server), m(parts), m_cgi(std::make_unique<CgiRequests>(server, parts, *this))
{
}

RequestDispatch::~RequestDispatch() = default;

void RequestDispatch::stopPrograms()
{
    m_cgi->stopAll();
}

void RequestDispatch::onRequest(int index)
{
    ConnectionSlot* s = m.sockets->slot(index);
    if (!s)
        return;
    // CGI programs and pages with echo tags may need REMOTE_HOST: look the
    // client up first, for a bounded time, without holding anyone else up.
    // A name already known answers at once: the slot is still Handling here,
    // so the request goes on straight away.
    if (m_server.CGIEnable() || m_server.SSIEnable()) {
        const quint64 generation = s->generation;
        m.hostNames->resolve(s->clientAddress, m.sockets->limits().hostLookupTimeoutMs, this,
                             [this, index, generation] {
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
    const ConnectionSlot* s = m.sockets->slot(index);
    if (!s || s->generation != generation)
        return; // that connection is long gone; the slot serves another
    if (s->state == SlotState::Abandoned) {
        m.sockets->send(index, QByteArray()); // the client left: free the slot
        return;
    }
    if (s->state == SlotState::Handling)
        action();
}

void RequestDispatch::handleRequest(int index)
{
    ConnectionSlot* s = m.sockets->slot(index);
    if (!s)
        return;
    try {
        HttpRequest& r = s->request;
        switch (FileLookup::checkRequestPath(r.requestPath)) {
        case FileLookup::Check::BadRequest:
            sendRefusal(index, 400, QStringLiteral("malformed request path"));
            return;
        case FileLookup::Check::Forbidden:
            sendRefusal(index, 403, QStringLiteral("request path leaves the document root"));
            return;
        case FileLookup::Check::Ok:
            break;
        }
        mapRequestPath(index);
        QString fileName = r.requestPath;
        if (const qsizetype backslash = fileName.lastIndexOf(QLatin1Char('\\')); backslash >= 0)
            fileName = fileName.mid(backslash + 1);
        if (!m_server.TrapFileEnable() || !isTrapped(fileName)) {
            sendWebPage(index, false, QString());
            return;
        }
        const QString credentials =
            r.userName.isEmpty() ? QString() : r.userName + QLatin1Char(':') + r.password;
        s->responseStatus.clear();
        s->extraHeader.clear();
        m.sockets->setTrapped(index);
        Q_EMIT m_server.FileRequest(index, fileName, credentials);
    } catch (const std::exception& e) {
        m.reportFailure(QStringLiteral("Error - TCP::DataArrival. ["), 0,
                        QString::fromLocal8Bit(e.what()));
        sendWebPage(index, true, QStringLiteral("500"));
    }
}

void RequestDispatch::onRejected(int index, int status, bool refusal)
{
    if (refusal)
        sendRefusal(index, status, QStringLiteral("request refused"));
    else
        sendWebPage(index, true, QString::number(status));
}

void RequestDispatch::onTrapExpired(int index)
{
    m.reportFailure(QStringLiteral("Error - SendWebPage. ["), 503,
                    QStringLiteral("No answer from the host for connection ") +
                        QString::number(index));
    sendRefusal(index, 503, QStringLiteral("host did not answer"));
}

void RequestDispatch::mapRequestPath(int index)
{
    HttpRequest& r = m.sockets->slot(index)->request;
    if (r.requestPath.isEmpty())
        return; // names nothing, not the root
    const FileLookup::Result found = m.lookup->resolve(r.requestPath);
    if (!found.exists || !found.isDirectory)
        return;
    const QString name =
        m.lookup->findIndexPage(found.localPath, m_server.IndexPageNames().split(QLatin1Char(',')));
    if (name.isEmpty())
        return;
    QString path = r.requestPath + QLatin1Char('/') + name;
    while (path.contains(QLatin1String("//")))
        path.replace(QLatin1String("//"), QLatin1String("/"));
    r.requestPath = path;
}

bool RequestDispatch::isTrapped(const QString& fileName) const
{
    const QString types = m_server.TrapFileTypes();
    if (types.trimmed().isEmpty())
        return true;
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    // As the setting was always read: the extension found anywhere in the
    // list text.
    return types.contains(fileName.mid(dot + 1), Qt::CaseInsensitive);
}

void RequestDispatch::sendWebPage(int index, bool errorMode, const QString& statusCode)
{
    m.requests += 1;
    try {
        if (errorMode)
            m.sockets->send(index, errorAnswer(index, statusCode));
        else
            sendDocument(index);
    } catch (const std::exception& e) {
        m.reportFailure(QStringLiteral("Error - SendWebPage. ["), 0,
                        QString::fromLocal8Bit(e.what()));
        m.sockets->closeWithoutAnswer(index);
    }
}

void RequestDispatch::sendHostAnswer(int index, const QByteArray& data, const QString& contentType)
{
    const ConnectionSlot* s = m.sockets->slot(index);
    if (!s)
        return;
    m.requests += 1;
    const QString status = s->responseStatus.isEmpty() ? QStringLiteral("200") : s->responseStatus;
    m.sockets->send(index, Response(HttpFormat::buildHeader(
                                        m_server.ServerSoftware(), status, data.size(), contentType,
                                        true, s->extraHeader, QDateTime::currentDateTimeUtc()),
                                    data));
}

void RequestDispatch::sendDocument(int index)
{
    const HttpRequest r = m.sockets->slot(index)->request;
    if (r.requestPath.isEmpty()) {
        // Nothing to serve and nothing is sent; the slot is freed at once
        // rather than held until the client gives up.
        m.sockets->closeWithoutAnswer(index);
        return;
    }
    const FileLookup::Result found = m.lookup->resolve(r.requestPath);
    if (found.outside) {
        sendRefusal(index, 403, QStringLiteral("resolves outside the document root"));
        return;
    }
    // The path alone decides what runs: nothing in the query ever makes a
    // program of a file.
    const bool cgi =
        m_server.CGIEnable() && r.requestPath.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive);
    const bool foundFile = found.exists && !found.isDirectory;
    const QString program =
        cgi ? m_cgi->programFor(r.requestPath, foundFile ? found.localPath : QString()) : QString();
    // The look-up remembers files for a moment: a file is checked afresh
    // before it is opened, so nothing that took its place (a FIFO, which
    // would block) is read.
    if (cgi ? program.isEmpty()
            : !found.exists ||
                  (!found.isDirectory && !FileLookup::isRegularFile(found.localPath))) {
        finishDocument(index, QStringLiteral("404"), errorAnswer(index, QStringLiteral("404")));
        return;
    }

    // Guarded by the real folder of what is served, whatever the spelling of
    // the path: a file by the folder that holds it, a folder (its listing)
    // by its own. A program from the CGI folder has no folder in the root.
    const bool directory = !cgi && found.isDirectory;
    const QString accessFile = cgi && !foundFile ? m.lookup->accessFileAlong(r.requestPath)
                                                 : m.lookup->accessFileFor(found);
    const AccessCheck::Verdict verdict = AccessCheck::check(
        accessFile, r.userName, r.password, AccessCheck::Source(m_server.AuthenticationSource()),
        m_server.AuthenticationSourceFile(), m.nameInUse);
    if (!verdict.allowed) {
        applySettings();
        finishDocument(index, QStringLiteral("401"), m.errors->challenge(verdict.realm, directory));
        return;
    }

    if (cgi) {
        m_cgi->runCgi(index, program);
        return;
    }
    QString status = QStringLiteral("200");
    Response response;
    if (directory) {
        if (m_server.DirectoryBrowseEnable()) {
            const QByteArray page =
                DirectoryListing::page(*m.lookup, found.localPath, r.requestPath, m.nameInUse)
                    .toLatin1();
            response =
                Response(HttpFormat::buildHeader(m_server.ServerSoftware(), status, page.size(),
                                                 QStringLiteral("text/html"), true, QString(),
                                                 QDateTime::currentDateTimeUtc()),
                         page);
        } else {
            status = QStringLiteral("403");
            response = errorAnswer(index, status);
        }
    } else {
        if (m_server.SSIEnable() && m_cgi->runExecTags(index, found.localPath))
            return; // the page is built once its programs are done
        response = fileResponse(index, found.localPath, status);
    }
    finishDocument(index, status, response);
}

void RequestDispatch::finishDocument(int index, const QString& statusCode, const Response& response)
{
    const ConnectionSlot* s = m.sockets->slot(index);
    if (!s)
        return;
    const HttpRequest& r = s->request;
    const QString line =
        m.accessLogWanted()
            ? HttpFormat::accessLogLine(s->clientAddress, QDateTime::currentDateTimeUtc(),
                                        r.requestTarget, statusCode, response.size(), r.referer,
                                        r.userAgent)
            : QString();
    m.sockets->send(index, response);
    m.bytesSent += double(response.size());
    if (!line.isEmpty())
        Q_EMIT m_server.HTTPLog(line);
}

void RequestDispatch::sendRefusal(int index, int status, const QString& why)
{
    m.requests += 1;
    const ConnectionSlot* s = m.sockets->slot(index);
    if (!s)
        return;
    const QString code = QString::number(status);
    applySettings();
    const QByteArray response = m.errors->builtIn(code);
    qCInfo(lcDispatch).noquote() << "refused" << code << s->clientAddress
                                 << s->request.requestTarget << why;
    const QString line =
        m.accessLogWanted()
            ? HttpFormat::accessLogLine(s->clientAddress, QDateTime::currentDateTimeUtc(),
                                        s->request.requestTarget, code, response.size(),
                                        s->request.referer, s->request.userAgent)
            : QString();
    m.sockets->send(index, response);
    if (!line.isEmpty())
        Q_EMIT m_server.HTTPLog(line);
}

PageProcessor::Context RequestDispatch::pageContext(int index, const QString& localPath)
{
    PageProcessor::Context context;
    context.variable = [this, index, localPath](const QString& name) {
        return variable(index, name, localPath);
    };
    context.queryValue = [this, index](const QString& name) {
        const ConnectionSlot* s = m.sockets->slot(index);
        return s ? s->query.value(name) : QString();
    };
    context.exec = [this](const QString& kind, const QString& command) {
        return m_cgi->execOutput(kind, command);
    };
    context.callFunction = [this, index](const QString& name) {
        if (ConnectionSlot* s = m.sockets->slot(index))
            s->functionReturn.clear();
        Q_EMIT m_server.CallFunction(index, name);
        const ConnectionSlot* s = m.sockets->slot(index);
        return s ? s->functionReturn : QString();
    };
    return context;
}

void RequestDispatch::applySettings()
{
    m.responder->setSettings(
        {m_server.ServerSoftware(), m_server.SSIEnable(), m_server.HTMLFunctionsEnable()});
    m.errors->setSettings({m_server.ServerSoftware(), m_server.hostFolder(),
                           m_server.VerboseErrorsEnable(), m_server.ErrorFilesEnable()});
}

Response RequestDispatch::errorAnswer(int index, const QString& statusCode)
{
    applySettings();
    return m.errors->answer(statusCode, pageContext(index, QString()));
}

Response RequestDispatch::fileResponse(int index, const QString& localPath, QString& statusCode)
{
    applySettings();
    QString readError;
    Response response =
        m.responder->fileResponse(localPath, statusCode, pageContext(index, localPath), &readError);
    if (readError.isEmpty())
        return response;
    // Found a moment ago (the look-up remembers files briefly) but gone now.
    if (const ConnectionSlot* s = m.sockets->slot(index))
        m.lookup->forget(s->request.requestPath);
    if (!QFileInfo::exists(localPath)) {
        statusCode = QStringLiteral("404");
        return errorAnswer(index, statusCode);
    }
    m.reportFailure(QStringLiteral("Error - SendWebPage. ["), 500, readError);
    statusCode = QStringLiteral("500");
    return m.errors->builtIn(statusCode);
}

QString RequestDispatch::variable(int index, const QString& name, const QString& localPath) const
{
    const ConnectionSlot* s = m.sockets->slot(index);
    if (!s)
        return {};
    ServerVariables::Context c;
    c.request = &s->request;
    c.localPath = localPath;
    c.clientAddress = s->clientAddress;
    c.remoteHost = m.hostNames->cached(s->clientAddress);
    if (c.remoteHost.isNull())
        m.hostNames->prefetch(s->clientAddress); // for the next request; "Unknown" for now
    c.serverName = m.nameInUse;
    c.serverPort = m_server.ServerPort();
    c.serverSoftware = m_server.ServerSoftware();
    c.serverIp = m.addressInUse;
    c.now = QDateTime::currentDateTime();
    return ServerVariables::value(name, c);
}

} // namespace servlane
