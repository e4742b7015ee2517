#include "servlane.h"

#include "accesscheck.h"
#include "cgirunner.h"
#include "cls_strings.h"
#include "cls_winutil.h"
#include "directorylisting.h"
#include "documentresponder.h"
#include "filelookup.h"
#include "hostnamecache.h"
#include "httpformat.h"
#include "mimetable.h"
#include "percentcodec.h"
#include "servervariables.h"
#include "settingspropertystore.h"
#include "socketlayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QLoggingCategory>
#include <QMetaMethod>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <cmath>
#include <exception>

Q_LOGGING_CATEGORY(lcServlane, "casalux.servlane", QtWarningMsg)

using namespace servlane;

namespace {

QString boolText(bool b)
{
    return b ? QStringLiteral("True") : QStringLiteral("False");
}

bool parseBool(const QString& text, bool fallback)
{
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || t == QLatin1String("1") ||
        t == QLatin1String("-1"))
        return true;
    if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0 || t == QLatin1String("0"))
        return false;
    return fallback;
}

// Whole number at the start of a text, the way the stored values were read:
// "8080" and "8080 " give 8080, "abc" gives 0. Clamped to 32 bits.
qint64 leadingNumber(const QString& text)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+')))
        negative = t[i++] == QLatin1Char('-');
    qint64 n = 0;
    for (; i < t.size() && t[i].isDigit() && t[i].unicode() < 0x80; ++i) {
        n = n * 10 + (t[i].unicode() - '0');
        if (n > 0x7fffffffLL)
            n = 0x7fffffffLL + (negative ? 1 : 0);
    }
    return negative ? -n : n;
}

int clampInt(qint64 value, qint64 low, qint64 high)
{
    return int(std::clamp(value, low, high));
}

QString removeSpaces(const QString& text)
{
    QString t = text;
    t.remove(QLatin1Char(' '));
    return t;
}

} // namespace

Servlane::Servlane(QObject* parent) : Servlane(std::make_unique<SettingsPropertyStore>(), parent) {}

Servlane::Servlane(std::unique_ptr<PropertyStore> store, QObject* parent)
    : QObject(parent), m_store(std::move(store)), m_sockets(std::make_unique<SocketLayer>()),
      m_lookup(std::make_unique<FileLookup>()), m_mime(std::make_unique<MimeTable>()),
      m_responder(std::make_unique<DocumentResponder>(*m_lookup, *m_mime)),
      m_hostNames(new HostNameCache(this))
{
    m_serverSoftware = QStringLiteral("Orbrook Servlane/1.1");
    m_hostFolder =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    if (m_store)
        readProperties();
    connect(m_sockets.get(), &SocketLayer::requestReady, this, &Servlane::onRequest);
    connect(m_sockets.get(), &SocketLayer::requestRejected, this, &Servlane::onRejected);
    connect(m_sockets.get(), &SocketLayer::trapExpired, this, &Servlane::onTrapExpired);
    connect(m_sockets.get(), &SocketLayer::received, this,
            [this](qint64 n) { m_bytesReceived += double(n); });
    connect(m_sockets.get(), &SocketLayer::failure, this, &Servlane::reportFailure);
}

Servlane::~Servlane()
{
    m_sockets->stopHousekeeping();
    m_sockets->killAllConnections();
    m_sockets->closeListener();
}

void Servlane::setHostFolder(const QString& folder)
{
    m_hostFolder = folder;
}

void Servlane::setRequestLimits(const RequestLimits& limits)
{
    m_sockets->setLimits(limits);
}

quint16 Servlane::listeningPort() const
{
    return m_sockets->isListening() ? m_sockets->serverPort() : 0;
}

// ---- properties ---------------------------------------------------------

void Servlane::readProperties()
{
    const PropertyStore& s = *m_store;
    auto text = [&s](const char* key, const QString& def) {
        return s.readValue(QString::fromLatin1(key), def);
    };
    auto flag = [&](const char* key, bool def) { return parseBool(text(key, boolText(def)), def); };
    auto number = [&](const char* key, int def) {
        return leadingNumber(text(key, QString::number(def)));
    };
    m_serverIp = text("ServerIP", m_serverIp).trimmed();
    m_serverPort = int(leadingNumber(text("ServerPort", QString::number(m_serverPort))));
    m_serverSoftware = text("ServerSoftware", m_serverSoftware);
    // An empty stored name must not replace one the host set before.
    if (const QString name = text("ServerName", QString()); !name.isEmpty())
        m_serverName = name;
    m_contentTypeSource =
        e_ContentTypeSource(clampInt(number("ContentTypeSource", m_contentTypeSource), 0, 2));
    m_contentTypeSourceFile = text("ContentTypeSourceFile", m_contentTypeSourceFile);
    m_authSource = e_AuthSource(clampInt(number("AuthenticationSource", m_authSource), 0, 3));
    m_authSourceFile = text("AuthenticationSourceFile", m_authSourceFile);
    m_cgiEnable = flag("CGIEnable", m_cgiEnable);
    m_cgiDirectory = text("CGIDirectory", m_cgiDirectory);
    m_cgiTimeout = clampInt(number("CGITimeout", m_cgiTimeout), 0, 2'000'000'000);
    m_ssiEnable = flag("SSIEnable", m_ssiEnable);
    m_functionsEnable = flag("HTMLFunctionsEnable", m_functionsEnable);
    m_browseEnable = flag("DirectoryBrowseEnable", m_browseEnable);
    m_errorFilesEnable = flag("ErrorFilesEnable", m_errorFilesEnable);
    m_verboseErrors = flag("VerboseErrorsEnable", m_verboseErrors);
    m_maxConnections = clampInt(number("ServerMaxConnections", m_maxConnections), 2, 10000);
    m_connectionTimeout =
        clampInt(number("ConnectionTimeout", m_connectionTimeout), 0, 2'000'000'000);
    m_virtualPath = text("VirtualPath", m_virtualPath);
    m_indexPageNames = removeSpaces(text("IndexPageNames", m_indexPageNames));
    m_trapEnable = flag("TrapFileEnable", m_trapEnable);
    m_trapFileTypes = removeSpaces(text("TrapFileTypes", m_trapFileTypes));
}

void Servlane::store(const char* key, const QString& value)
{
    if (m_store)
        m_store->writeValue(QString::fromLatin1(key), value);
}

void Servlane::setServerIP(const QString& value)
{
    m_serverIp = value.trimmed();
    store("ServerIP", m_serverIp);
}

void Servlane::setServerPort(const QString& value)
{
    m_serverPort = int(leadingNumber(value));
    store("ServerPort", QString::number(m_serverPort));
}

void Servlane::setServerSoftware(const QString& value)
{
    m_serverSoftware = value;
    store("ServerSoftware", value);
}

void Servlane::setServerName(const QString& value)
{
    m_serverName = value;
    store("ServerName", value);
}

void Servlane::setContentTypeSource(e_ContentTypeSource value)
{
    m_contentTypeSource = e_ContentTypeSource(clampInt(value, 0, 2));
    store("ContentTypeSource", QString::number(int(m_contentTypeSource)));
}

void Servlane::setContentTypeSourceFile(const QString& value)
{
    m_contentTypeSourceFile = value;
    store("ContentTypeSourceFile", value);
}

void Servlane::setAuthenticationSource(e_AuthSource value)
{
    m_authSource = e_AuthSource(clampInt(value, 0, 3));
    store("AuthenticationSource", QString::number(int(m_authSource)));
}

void Servlane::setAuthenticationSourceFile(const QString& value)
{
    m_authSourceFile = value;
    store("AuthenticationSourceFile", value);
}

void Servlane::setCGIEnable(bool value)
{
    m_cgiEnable = value;
    store("CGIEnable", boolText(value));
}

void Servlane::setCGIDirectory(const QString& value)
{
    m_cgiDirectory = value;
    store("CGIDirectory", value);
}

void Servlane::setCGITimeout(int value)
{
    m_cgiTimeout = clampInt(value, 0, 2'000'000'000);
    store("CGITimeout", QString::number(m_cgiTimeout));
}

void Servlane::setSSIEnable(bool value)
{
    m_ssiEnable = value;
    store("SSIEnable", boolText(value));
}

void Servlane::setHTMLFunctionsEnable(bool value)
{
    m_functionsEnable = value;
    store("HTMLFunctionsEnable", boolText(value));
}

void Servlane::setDirectoryBrowseEnable(bool value)
{
    m_browseEnable = value;
    store("DirectoryBrowseEnable", boolText(value));
}

void Servlane::setErrorFilesEnable(bool value)
{
    m_errorFilesEnable = value;
    store("ErrorFilesEnable", boolText(value));
}

void Servlane::setVerboseErrorsEnable(bool value)
{
    m_verboseErrors = value;
    store("VerboseErrorsEnable", boolText(value));
}

void Servlane::setMaxConnections(int value)
{
    m_maxConnections = clampInt(value, 2, 10000);
    store("ServerMaxConnections", QString::number(m_maxConnections));
}

void Servlane::setConnectionTimeout(int value)
{
    m_connectionTimeout = clampInt(value, 0, 2'000'000'000);
    store("ConnectionTimeout", QString::number(m_connectionTimeout));
}

void Servlane::setVirtualPath(const QString& value)
{
    m_virtualPath = value;
    store("VirtualPath", value);
}

void Servlane::setIndexPageNames(const QString& value)
{
    m_indexPageNames = removeSpaces(value);
    store("IndexPageNames", m_indexPageNames);
}

void Servlane::setTrapFileEnable(bool value)
{
    m_trapEnable = value;
    store("TrapFileEnable", boolText(value));
}

void Servlane::setTrapFileTypes(const QString& value)
{
    m_trapFileTypes = removeSpaces(value);
    store("TrapFileTypes", m_trapFileTypes);
}

// ---- start, stop, statistics --------------------------------------------

bool Servlane::StartServer()
{
    if (m_running)
        return false;
    try {
        m_startingOrStopping = true;
        m_running = true;
        m_sockets->setPaused(true);
        m_mime->load(MimeTable::Source(int(m_contentTypeSource)), m_contentTypeSourceFile);
        if (m_virtualPath.isEmpty())
            setVirtualPath(m_hostFolder);
        if (m_cgiDirectory.isEmpty())
            setCGIDirectory(m_virtualPath + QStringLiteral("/scripts"));
        m_lookup->setDocumentRoot(m_virtualPath);
        if (m_lookup->root().isEmpty())
            reportFailure(QStringLiteral("Error - StartServer. ["), 76,
                          QStringLiteral("Path not found: ") + m_virtualPath);

        Q_EMIT StatusLine(QStringLiteral("Starting Server ..."));
        Q_EMIT HTTPLog(QLatin1Char('#') + HttpFormat::formatLogTime(QDateTime::currentDateTime()) +
                       QStringLiteral(" - Starting Server ..."));

        m_sockets->createSlots(m_maxConnections);
        const QHostAddress address =
            m_serverIp.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(m_serverIp);
        if (m_serverPort < 0 || m_serverPort > 65535 || address.isNull())
            reportFailure(QStringLiteral("Error - TCP::Listen. ["), 10049,
                          QStringLiteral("Address or port not valid: ") + m_serverIp +
                              QLatin1Char(':') + QString::number(m_serverPort));
        else
            m_sockets->listen(address, quint16(m_serverPort));
        m_sockets->setFreeConnections(m_maxConnections);
        m_started = QDateTime::currentDateTime();

        m_nameInUse = m_serverName.isEmpty() ? QHostInfo::localHostName() : m_serverName;
        m_addressInUse = m_serverIp.isEmpty() ? m_sockets->localAddress() : m_serverIp;
        const QString port = QString::number(m_sockets->serverPort());

        const QStringList settingsLines{
            QStringLiteral("#Connection Timeout [min]: ") + QString::number(m_connectionTimeout),
            QStringLiteral("#CGI Enabled: ") + boolText(m_cgiEnable),
            QStringLiteral("#CGI Directory: ") + m_cgiDirectory,
            QStringLiteral("#CGI Timeout [sec]: ") + QString::number(m_cgiTimeout),
            QStringLiteral("#SSI Enabled: ") + boolText(m_ssiEnable),
            QStringLiteral("#HTML Functions Enabled: ") + boolText(m_functionsEnable),
            QStringLiteral("#Directory Browsing: ") + boolText(m_browseEnable),
            QStringLiteral("#Verbose Server Errors: ") + boolText(m_verboseErrors),
            QStringLiteral("#Use Error Files:") + boolText(m_errorFilesEnable),
            QStringLiteral("#Max Connections: ") + QString::number(m_maxConnections),
            QStringLiteral("#Server Name: ") + m_nameInUse,
            m_serverIp.isEmpty() ? QStringLiteral("#Server IP Address: All Available")
                                 : QStringLiteral("#Server IP Address: ") + m_serverIp,
            QStringLiteral("#HTTP Port: ") + port,
            QStringLiteral("#HTML Home Path: ") + m_virtualPath,
            QStringLiteral("#Index Page Name: ") + m_indexPageNames,
        };
        for (const QString& line : settingsLines)
            Q_EMIT HTTPLog(line);

        Q_EMIT StatusLine(m_serverIp.isEmpty()
                              ? QStringLiteral("Server Started. All Available IP Addresses:") +
                                    port + QStringLiteral(" - ") + m_nameInUse
                              : QStringLiteral("Server Started. ") + m_serverIp + QLatin1Char(':') +
                                    port + QStringLiteral(" - ") + m_nameInUse);
        Q_EMIT HTTPLog(QLatin1Char('#') + HttpFormat::formatLogTime(QDateTime::currentDateTime()) +
                       QStringLiteral(" - Server Started."));
        m_sockets->startHousekeeping(m_connectionTimeout);
        m_startingOrStopping = false;
        m_sockets->setPaused(false);
        return true;
    } catch (const std::exception& e) {
        reportFailure(QStringLiteral("Error - StartServer. ["), 0,
                      QString::fromLocal8Bit(e.what()));
        return false;
    }
}

bool Servlane::StopServer()
{
    try {
        m_startingOrStopping = true;
        m_sockets->setPaused(true);
        m_sockets->stopHousekeeping();
        Q_EMIT HTTPLog(QLatin1Char('#') + HttpFormat::formatLogTime(QDateTime::currentDateTime()) +
                       QStringLiteral(" - Stopping Server ..."));
        Q_EMIT StatusLine(QStringLiteral("Stopping Server ..."));
        m_sockets->killAllConnections();
        m_sockets->closeListener();
        for (const QPointer<CgiRunner>& runner : std::as_const(m_runners)) {
            if (runner) {
                runner->abandon();
                runner->deleteLater();
            }
        }
        m_runners.clear();
        m_running = false;
        Q_EMIT StatusLine(QStringLiteral("Server Stopped."));
        Q_EMIT HTTPLog(QLatin1Char('#') + HttpFormat::formatLogTime(QDateTime::currentDateTime()) +
                       QStringLiteral(" - Server Stopped."));
    } catch (const std::exception& e) {
        reportFailure(QStringLiteral("Error - StopServer. ["), 0, QString::fromLocal8Bit(e.what()));
    }
    return true;
}

QString Servlane::Version() const
{
    return QStringLiteral("%1.%2.%3")
        .arg(kVersionMajor)
        .arg(kVersionMinor)
        .arg(kVersionRevision, 3, 10, QLatin1Char('0'));
}

QString Servlane::Stats_BytesReceived() const
{
    return QString::number(std::llround(m_bytesReceived / 1024.0)) + QLatin1Char('K');
}

QString Servlane::Stats_BytesSent() const
{
    return QString::number(std::llround(m_bytesSent / 1024.0)) + QLatin1Char('K');
}

QString Servlane::Stats_Requests() const
{
    return QString::number(qint64(m_requests));
}

QString Servlane::Stats_Errors() const
{
    return QString::number(qint64(m_errors));
}

QString Servlane::Stats_UpTime() const
{
    if (!m_started.isValid())
        return {};
    return cls_WinUtil::UpTime(m_started.secsTo(QDateTime::currentDateTime()));
}

QString Servlane::Stats_FreeConnections() const
{
    return QString::number(m_sockets->freeConnections()) + QLatin1Char('/') +
           QString::number(m_maxConnections);
}

QString Servlane::AboutText() const
{
    return QStringLiteral("Servlane HTTP server ") + Version() + QStringLiteral(" (") +
           m_serverSoftware + QLatin1Char(')');
}

void Servlane::ShowAboutBox()
{
    qCInfo(lcServlane).noquote() << AboutText();
}

void Servlane::reportFailure(const QString& prefix, int code, const QString& description)
{
    m_errors += 1;
    qCInfo(lcServlane).noquote() << prefix << code << description;
    Q_EMIT LogEvent(prefix + QString::number(code) + QStringLiteral("] ") + description);
}

// ---- requests -----------------------------------------------------------

void Servlane::onRequest(int index)
{
    ConnectionSlot* s = m_sockets->slot(index);
    if (!s)
        return;
    // CGI programs and pages with echo tags may need REMOTE_HOST: look the
    // client up first, for a bounded time, without holding anyone else up.
    // A name already known answers at once: the slot is still Handling here,
    // so the request goes on straight away.
    if (m_cgiEnable || m_ssiEnable) {
        const quint64 generation = s->generation;
        m_hostNames->resolve(s->clientAddress, m_sockets->limits().hostLookupTimeoutMs, this,
                             [this, index, generation] {
                                 whileStillWanted(index, generation,
                                                  [this, index] { handleRequest(index); });
                             });
        return;
    }
    handleRequest(index);
}

void Servlane::whileStillWanted(int index, quint64 generation,
                                const std::function<void()>& action)
{
    const ConnectionSlot* s = m_sockets->slot(index);
    if (!s || s->generation != generation)
        return; // that connection is long gone; the slot serves another
    if (s->state == SlotState::Abandoned) {
        m_sockets->send(index, QByteArray()); // the client left: free the slot
        return;
    }
    if (s->state == SlotState::Handling)
        action();
}

void Servlane::handleRequest(int index)
{
    ConnectionSlot* s = m_sockets->slot(index);
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
        if (!m_trapEnable || !isTrapped(fileName)) {
            sendWebPage(index, false, QString());
            return;
        }
        const QString credentials =
            r.userName.isEmpty() ? QString() : r.userName + QLatin1Char(':') + r.password;
        s->responseStatus.clear();
        s->extraHeader.clear();
        m_sockets->setTrapped(index);
        Q_EMIT FileRequest(index, fileName, credentials);
    } catch (const std::exception& e) {
        reportFailure(QStringLiteral("Error - TCP::DataArrival. ["), 0,
                      QString::fromLocal8Bit(e.what()));
        sendWebPage(index, true, QStringLiteral("500"));
    }
}

void Servlane::onRejected(int index, int status, bool refusal)
{
    if (refusal)
        sendRefusal(index, status, QStringLiteral("request refused"));
    else
        sendWebPage(index, true, QString::number(status));
}

void Servlane::onTrapExpired(int index)
{
    reportFailure(QStringLiteral("Error - SendWebPage. ["), 503,
                  QStringLiteral("No answer from the host for connection ") +
                      QString::number(index));
    sendRefusal(index, 503, QStringLiteral("host did not answer"));
}

void Servlane::mapRequestPath(int index)
{
    HttpRequest& r = m_sockets->slot(index)->request;
    if (r.requestPath.isEmpty())
        return; // names nothing, not the root
    const FileLookup::Result found = m_lookup->resolve(r.requestPath);
    if (!found.exists || !found.isDirectory)
        return;
    const QString name =
        m_lookup->findIndexPage(found.localPath, cls_Strings::Split(m_indexPageNames));
    if (name.isEmpty())
        return;
    QString path = r.requestPath + QLatin1Char('/') + name;
    while (path.contains(QLatin1String("//")))
        path.replace(QLatin1String("//"), QLatin1String("/"));
    r.requestPath = path;
}

bool Servlane::isTrapped(const QString& fileName) const
{
    if (m_trapFileTypes.trimmed().isEmpty())
        return true;
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    // As the setting was always read: the extension found anywhere in the
    // list text.
    return m_trapFileTypes.contains(fileName.mid(dot + 1), Qt::CaseInsensitive);
}

void Servlane::sendWebPage(int index, bool errorMode, const QString& statusCode)
{
    m_requests += 1;
    try {
        if (errorMode)
            sendData(index, errorResponse(index, statusCode));
        else
            sendDocument(index);
    } catch (const std::exception& e) {
        reportFailure(QStringLiteral("Error - SendWebPage. ["), 0,
                      QString::fromLocal8Bit(e.what()));
        m_sockets->closeWithoutAnswer(index);
    }
}

void Servlane::sendDocument(int index)
{
    const HttpRequest r = m_sockets->slot(index)->request;
    if (r.requestPath.isEmpty()) {
        // Nothing to serve and nothing is sent; the slot is freed at once
        // rather than held until the client gives up.
        m_sockets->closeWithoutAnswer(index);
        return;
    }
    const FileLookup::Result found = m_lookup->resolve(r.requestPath);
    if (found.outside) {
        sendRefusal(index, 403, QStringLiteral("resolves outside the document root"));
        return;
    }
    const bool cgi =
        m_cgiEnable && (r.requestPath.toUpper().endsWith(QLatin1String(".EXE")) ||
                        r.fullUrl.contains(QLatin1String(".exe?"), Qt::CaseInsensitive));
    const QString program = cgi ? cgiProgram(r.requestPath, found.exists && !found.isDirectory
                                                                ? found.localPath
                                                                : QString())
                                : QString();
    if (cgi ? program.isEmpty()
            : !found.exists || FileLookup::isAccessFile(QFileInfo(found.localPath).fileName())) {
        finishDocument(index, QStringLiteral("404"), errorResponse(index, QStringLiteral("404")));
        return;
    }

    // A folder is protected by its own access file: the request's folder for
    // a file, the folder itself when one is asked for (its listing shows
    // what it holds).
    const bool directory = !cgi && found.isDirectory;
    const QString folder = directory ? r.requestPath
                                     : r.requestPath.left(r.requestPath.lastIndexOf(QLatin1Char('/')));
    const AccessCheck::Verdict verdict = AccessCheck::check(
        m_lookup->accessFileIn(folder), r.userName, r.password, AccessCheck::Source(m_authSource),
        m_authSourceFile, m_nameInUse);
    if (!verdict.allowed) {
        const QByteArray challenge =
            (directory ? QByteArrayLiteral("WWW-authenticate: Basic realm=")
                       : QByteArrayLiteral("WWW-Authenticate: Basic realm=")) +
            verdict.realm.toLatin1() + "\r\n\r\n";
        finishDocument(index, QStringLiteral("401"),
                       HttpFormat::buildHeader(m_serverSoftware, QStringLiteral("401"), 0,
                                               QStringLiteral("text/html"), false, QString(),
                                               QDateTime::currentDateTimeUtc()) +
                           challenge);
        return;
    }

    if (cgi) {
        runCgi(index, program);
        return;
    }
    QString status = QStringLiteral("200");
    Response response;
    if (directory) {
        if (m_browseEnable) {
            const QByteArray page =
                DirectoryListing::page(found.localPath, r.requestPath, m_nameInUse,
                                       found.localPath == m_lookup->root())
                    .toLatin1();
            response = HttpFormat::buildHeader(m_serverSoftware, status, page.size(),
                                               QStringLiteral("text/html"), true, QString(),
                                               QDateTime::currentDateTimeUtc()) +
                       page;
        } else {
            status = QStringLiteral("403");
            response = errorResponse(index, status);
        }
    } else {
        if (m_ssiEnable) {
            QList<QPair<QString, QString>> tags = execTags(index, found.localPath);
            if (!tags.isEmpty()) {
                runExecTags(index, found.localPath, std::move(tags));
                return;
            }
        }
        response = fileResponse(index, found.localPath, status);
    }
    finishDocument(index, status, response);
}

void Servlane::finishDocument(int index, const QString& statusCode, const Response& response)
{
    const ConnectionSlot* s = m_sockets->slot(index);
    if (!s)
        return;
    const HttpRequest& r = s->request;
    const QString line =
        accessLogWanted() ? HttpFormat::accessLogLine(s->clientAddress,
                                                      QDateTime::currentDateTimeUtc(),
                                                      r.requestTarget, statusCode,
                                                      response.size(), r.referer, r.userAgent)
                          : QString();
    sendData(index, response);
    m_bytesSent += double(response.size());
    if (!line.isEmpty())
        Q_EMIT HTTPLog(line);
}

namespace {

// `name` in `folder`: exact first, then ignoring case; must stay inside it.
QString programIn(const QString& folder, const QString& name)
{
    if (folder.isEmpty() || name.isEmpty() || name.contains(QLatin1Char('/')) ||
        name.contains(QLatin1Char('\\')) || name == QLatin1String("..") ||
        name == QLatin1String("."))
        return {};
    QString base = folder;
    base.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString canonicalFolder = QFileInfo(base).canonicalFilePath();
    if (canonicalFolder.isEmpty())
        return {};
    QString entry;
    if (QFileInfo::exists(canonicalFolder + QLatin1Char('/') + name)) {
        entry = name;
    } else {
        const QStringList all = QDir(canonicalFolder).entryList(QDir::Files | QDir::Hidden);
        for (const QString& e : all) {
            if (e.compare(name, Qt::CaseInsensitive) == 0) {
                entry = e;
                break;
            }
        }
    }
    if (entry.isEmpty())
        return {};
    const QFileInfo info(canonicalFolder + QLatin1Char('/') + entry);
    const QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty() || !canonical.startsWith(canonicalFolder + QLatin1Char('/')) ||
        !QFileInfo(canonical).isFile())
        return {};
    return canonical;
}

} // namespace

QString Servlane::cgiProgram(const QString& requestPath, const QString& foundPath) const
{
    if (!foundPath.isEmpty())
        return foundPath;
    // Not under the document root: the program of that name in CGIDirectory.
    const QString name =
        PercentCodec::decodeSpaces(requestPath.mid(requestPath.lastIndexOf(QLatin1Char('/')) + 1));
    return programIn(m_cgiDirectory, name);
}

QStringList Servlane::cgiEnvironment(int index, const QString& localPath) const
{
    // The child's own environment: ours without any name of the table, then
    // the table in its order. Nothing else from the request gets in.
    const QStringList& names = ServerVariables::names();
    QStringList env;
    const QStringList inherited = QProcessEnvironment::systemEnvironment().toStringList();
    for (const QString& entry : inherited) {
        const QString name = entry.left(entry.indexOf(QLatin1Char('=')));
        if (!names.contains(name))
            env << entry;
    }
    for (const QString& name : names) {
        QString value = variable(index, name, localPath);
        value.remove(QLatin1Char('\0'));
        env << name + QLatin1Char('=') + value;
    }
    return env;
}

void Servlane::startProgram(int index, const QString& program, const QStringList& arguments,
                            const QString& localPath, std::function<void(const QByteArray&)> done)
{
    const ConnectionSlot* s = m_sockets->slot(index);
    if (!s)
        return;
    CgiRunner::Job job;
    job.program = program;
    job.arguments = arguments;
    job.environment = cgiEnvironment(index, localPath);
    if (s->request.method == QLatin1String("POST"))
        job.input = s->request.queryData.toLatin1();
    job.timeoutMs = CgiRunner::timeoutMs(m_cgiTimeout);
    job.maxOutput = m_sockets->limits().maxCgiOutput;

    auto* runner = new CgiRunner(this);
    m_runners.removeAll(nullptr);
    m_runners.append(runner);
    const quint64 generation = s->generation;
    connect(runner, &CgiRunner::finished, this,
            [this, runner, index, generation, program, done](const QByteArray& output) {
                runner->deleteLater();
                if (runner->timedOut())
                    reportFailure(QStringLiteral("Error - SendWebPage. ["), 504,
                                  QStringLiteral("Program stopped after the time-out: ") + program);
                else if (runner->truncated())
                    reportFailure(QStringLiteral("Error - SendWebPage. ["), 507,
                                  QStringLiteral("Program output cut at the limit: ") + program);
                whileStillWanted(index, generation, [&] { done(output); });
            });
    runner->start(job);
}

void Servlane::runCgi(int index, const QString& program)
{
    const ConnectionSlot* s = m_sockets->slot(index);
    const QString name = QFileInfo(program).fileName();
    const QStringList arguments = CgiRunner::argumentsFor(name, s->request.queryData);
    startProgram(index, program, arguments, program, [this, index, program](const QByteArray& out) {
        // The program's own header lines, if any, are part of the body.
        const QByteArray response =
            HttpFormat::buildHeader(m_serverSoftware, QStringLiteral("200"), out.size(),
                                    m_responder->typeOf(program), true, QString(),
                                    QDateTime::currentDateTimeUtc()) +
            out;
        finishDocument(index, QStringLiteral("200"), response);
    });
}

QList<QPair<QString, QString>> Servlane::execTags(int index, const QString& localPath)
{
    if (m_responder->typeOf(localPath).compare(QLatin1String("text/html"), Qt::CaseInsensitive))
        return {};
    QFile file(localPath);
    if (file.size() > PageProcessor::kMaxIncludeSize || !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray page = file.readAll();
    if (!PageProcessor::normaliseTags(page).toLower().contains("<!--#exec") &&
        !page.toLower().contains("<!--#include"))
        return {};
    // A dry pass over the page and its includes, host functions left alone,
    // to learn which programs it runs.
    QList<QPair<QString, QString>> tags;
    PageProcessor::Context context = pageContext(index, localPath);
    context.ssi = true;
    context.functions = false;
    context.lookup = m_lookup.get();
    context.mimeType = [this](const QString& path) { return m_responder->typeOf(path); };
    context.exec = [&tags](const QString& kind, const QString& command) {
        const QPair<QString, QString> tag{kind, command};
        if (!tags.contains(tag))
            tags.append(tag);
        return std::optional<QByteArray>();
    };
    PageProcessor::process(page, localPath, context);
    return tags;
}

bool Servlane::execProgram(const QString& kind, const QString& command, QString& program,
                           QStringList& arguments) const
{
    QString text = command;
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (kind == QLatin1String("execcgi")) {
        // Like a virtual include: relative to the document root, never above;
        // else the program of that name in the CGI folder.
        program = m_lookup->resolveVirtual(text);
        if (program.isEmpty()) {
            const QString relative = FileLookup::virtualPath(text);
            program = programIn(m_cgiDirectory, relative.mid(relative.lastIndexOf('/') + 1));
        }
        return !program.isEmpty();
    }
    QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return false;
    const QString first = words.takeFirst();
    arguments = words;
    program = programIn(m_cgiDirectory, first);
    if (program.isEmpty())
        program = first.startsWith(QLatin1Char('/')) ? first
                                                     : QStandardPaths::findExecutable(first);
    return !program.isEmpty();
}

void Servlane::runExecTags(int index, const QString& localPath,
                           QList<QPair<QString, QString>> tags)
{
    // One program after the other; the page is built when the last is done.
    auto outputs = std::make_shared<QHash<QString, QByteArray>>();
    auto next = std::make_shared<std::function<void()>>();
    // The step holds itself only weakly; a running program's callback keeps
    // it alive, so it goes away with the last program or a departed client.
    std::weak_ptr<std::function<void()>> weak = next;
    *next = [this, index, localPath, tags, outputs, weak]() {
        const std::shared_ptr<std::function<void()>> self = weak.lock();
        if (!self)
            return;
        if (outputs->size() == tags.size()) {
            m_execOutputs = *outputs;
            QString status = QStringLiteral("200");
            const Response response = fileResponse(index, localPath, status);
            m_execOutputs.clear();
            finishDocument(index, status, response);
            return;
        }
        const QPair<QString, QString> tag = tags[outputs->size()];
        const QString key = tag.first + QLatin1Char('=') + tag.second;
        QString program;
        QStringList arguments;
        if (!execProgram(tag.first, tag.second, program, arguments)) {
            outputs->insert(key, CgiRunner::failureText(QStringLiteral("Create::Process Failed."),
                                                        QStringLiteral("Program not found: ") +
                                                            tag.second,
                                                        2));
            (*self)();
            return;
        }
        startProgram(index, program, arguments, localPath,
                     [outputs, self, key](const QByteArray& out) {
                         QByteArray text = out;
                         text.replace("\r\n", "<br>");
                         outputs->insert(key, text);
                         (*self)();
                     });
    };
    (*next)();
}

void Servlane::sendRefusal(int index, int status, const QString& why)
{
    m_requests += 1;
    const ConnectionSlot* s = m_sockets->slot(index);
    if (!s)
        return;
    const QString code = QString::number(status);
    m_responder->setSettings(responderSettings());
    const QByteArray response = m_responder->refusal(code);
    qCInfo(lcServlane).noquote() << "refused" << code << s->clientAddress
                                 << s->request.requestTarget << why;
    const QString line =
        accessLogWanted()
            ? HttpFormat::accessLogLine(s->clientAddress, QDateTime::currentDateTimeUtc(),
                                        s->request.requestTarget, code, response.size(),
                                        s->request.referer, s->request.userAgent)
            : QString();
    sendData(index, response);
    if (!line.isEmpty())
        Q_EMIT HTTPLog(line);
}

bool Servlane::accessLogWanted() const
{
    // Formatting the line costs as much as a small file; skip it when no one
    // listens.
    static const QMetaMethod signal = QMetaMethod::fromSignal(&Servlane::HTTPLog);
    return isSignalConnected(signal);
}

void Servlane::sendData(int index, const Response& data)
{
    m_sockets->send(index, data);
}

PageProcessor::Context Servlane::pageContext(int index, const QString& localPath)
{
    PageProcessor::Context context;
    context.variable = [this, index, localPath](const QString& name) {
        return variable(index, name, localPath);
    };
    context.queryValue = [this, index](const QString& name) {
        const ConnectionSlot* s = m_sockets->slot(index);
        return s ? s->query.value(name) : QString();
    };
    context.exec = [this](const QString& kind, const QString& command) {
        const auto it = m_execOutputs.constFind(kind + QLatin1Char('=') + command);
        return it == m_execOutputs.constEnd() ? std::optional<QByteArray>() : *it;
    };
    context.callFunction = [this, index](const QString& name) {
        if (ConnectionSlot* s = m_sockets->slot(index))
            s->functionReturn.clear();
        Q_EMIT CallFunction(index, name);
        const ConnectionSlot* s = m_sockets->slot(index);
        return s ? s->functionReturn : QString();
    };
    return context;
}

QByteArray Servlane::errorResponse(int index, const QString& statusCode)
{
    m_responder->setSettings(responderSettings());
    return m_responder->errorResponse(statusCode, pageContext(index, QString()));
}

Response Servlane::fileResponse(int index, const QString& localPath, QString& statusCode)
{
    m_responder->setSettings(responderSettings());
    QString readError;
    Response response =
        m_responder->fileResponse(localPath, statusCode, pageContext(index, localPath), &readError);
    if (readError.isEmpty())
        return response;
    // Found a moment ago (the look-up remembers files briefly) but gone now.
    if (const ConnectionSlot* s = m_sockets->slot(index))
        m_lookup->forget(s->request.requestPath);
    if (!QFileInfo::exists(localPath)) {
        statusCode = QStringLiteral("404");
        return errorResponse(index, statusCode);
    }
    reportFailure(QStringLiteral("Error - SendWebPage. ["), 500, readError);
    return response;
}

DocumentResponder::Settings Servlane::responderSettings() const
{
    return {m_serverSoftware,  m_hostFolder,    m_ssiEnable,
            m_functionsEnable, m_verboseErrors, m_errorFilesEnable};
}

QString Servlane::variable(int index, const QString& name, const QString& localPath) const
{
    const ConnectionSlot* s = m_sockets->slot(index);
    if (!s)
        return {};
    ServerVariables::Context c;
    c.request = &s->request;
    c.localPath = localPath;
    c.clientAddress = s->clientAddress;
    c.remoteHost = m_hostNames->cached(s->clientAddress);
    if (c.remoteHost.isNull())
        m_hostNames->prefetch(s->clientAddress); // for the next request; "Unknown" for now
    c.serverName = m_nameInUse;
    c.serverPort = ServerPort();
    c.serverSoftware = m_serverSoftware;
    c.serverIp = m_addressInUse;
    c.now = QDateTime::currentDateTime();
    return ServerVariables::value(name, c);
}

// ---- per-request methods for the host -----------------------------------

void Servlane::TrapFileData(int Index, const QString& Data, bool Process,
                            const QString& ContentType)
{
    ConnectionSlot* s = m_sockets->slot(Index);
    if (!s || (s->state != SlotState::Trapped && s->state != SlotState::Abandoned)) {
        qCDebug(lcServlane) << "answer for connection" << Index << "ignored: nothing awaited";
        return;
    }
    if (s->state == SlotState::Abandoned) {
        m_sockets->send(Index, QByteArray()); // the client left; this frees the slot
        return;
    }
    if (Process) {
        sendWebPage(Index, false, QString());
        return;
    }
    m_requests += 1;
    try {
        const QString status =
            s->responseStatus.isEmpty() ? QStringLiteral("200") : s->responseStatus;
        const QByteArray body = Data.toLatin1();
        sendData(Index,
                 HttpFormat::buildHeader(m_serverSoftware, status, body.size(), ContentType, true,
                                         s->extraHeader, QDateTime::currentDateTimeUtc()) +
                     body);
    } catch (const std::exception& e) {
        reportFailure(QStringLiteral("Error - SendWebPage. ["), 0,
                      QString::fromLocal8Bit(e.what()));
    }
}

void Servlane::TrapFileDataEX(int Index, const QString& Data, bool Process,
                              const QString& ContentType, const QString& StatusCode,
                              const QString& HeaderField)
{
    ConnectionSlot* s = m_sockets->slot(Index);
    if (!s || (s->state != SlotState::Trapped && s->state != SlotState::Abandoned))
        return;
    QString header;
    if (!HeaderField.trimmed().isEmpty()) {
        header = HeaderField;
        if (header.endsWith(QLatin1String("\r\n\r\n")))
            header.chop(2);
        else if (!header.endsWith(QLatin1String("\r\n")))
            header += QStringLiteral("\r\n");
    }
    s->extraHeader = header;
    const QString code = StatusCode.trimmed();
    s->responseStatus = code.size() == 3 ? code : QStringLiteral("200");
    TrapFileData(Index, Data, Process, ContentType);
}

QString Servlane::QueryString(int Index, const QString& Paramter, int Item) const
{
    const ConnectionSlot* s = m_sockets->slot(Index);
    if (!s)
        return {};
    if (Paramter.trimmed().isEmpty())
        return s->request.queryData;
    return s->query.value(Paramter, Item);
}

int Servlane::QueryStringCount(int Index, const QString& Paramter) const
{
    const ConnectionSlot* s = m_sockets->slot(Index);
    return s ? s->query.count(Paramter) : 0;
}

QString Servlane::CGIValue(int Index, const QString& Variable, const QString& Delimiter) const
{
    Q_UNUSED(Delimiter)
    const ConnectionSlot* s = m_sockets->slot(Index);
    if (!s)
        return {};
    const FileLookup::Result found = m_lookup->resolve(s->request.requestPath);
    return variable(Index, Variable, found.localPath);
}

QString Servlane::HTTPHeader(int Index, const QString& HeaderField) const
{
    const ConnectionSlot* s = m_sockets->slot(Index);
    if (!s)
        return {};
    const QString& text = s->request.headerText;
    const QString name = HeaderField.trimmed();
    if (name.isEmpty())
        return text;
    // The name must start a header line, so a path or another header's
    // value that merely contains it is not taken for it.
    for (qsizetype at = text.indexOf(name, 0, Qt::CaseInsensitive); at >= 0;
         at = text.indexOf(name, at + 1, Qt::CaseInsensitive)) {
        if (at == 0 || text[at - 1] != QLatin1Char('\n'))
            continue;
        const qsizetype colon = at + name.size();
        if (colon >= text.size() || text[colon] != QLatin1Char(':'))
            continue;
        qsizetype end = text.indexOf(QLatin1Char('\n'), colon);
        if (end < 0)
            end = text.size();
        return text.mid(colon + 1, end - colon - 1).trimmed();
    }
    return {};
}

void Servlane::ReturnData(int Index, const QString& mData)
{
    if (ConnectionSlot* s = m_sockets->slot(Index))
        s->functionReturn = mData;
}
