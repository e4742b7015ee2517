#include "servlane.h"

#include "documentresponder.h"
#include "erroranswers.h"
#include "filelookup.h"
#include "hostnamecache.h"
#include "hostrequests.h"
#include "httpformat.h"
#include "mimetable.h"
#include "requestdispatch.h"
#include "settingspropertystore.h"
#include "socketlayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QHostAddress>
#include <QHostInfo>
#include <QLoggingCategory>
#include <QMetaMethod>
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

// "dd:hh:mm:ss", two digits each (days may run to more).
QString upTimeText(qint64 seconds)
{
    const auto two = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    return two(seconds / 86400) + QLatin1Char(':') + two(seconds / 3600 % 24) + QLatin1Char(':') +
           two(seconds / 60 % 60) + QLatin1Char(':') + two(seconds % 60);
}

} // namespace

Servlane::Servlane(QObject* parent) : Servlane(std::make_unique<SettingsPropertyStore>(), parent) {}

Servlane::Servlane(std::unique_ptr<PropertyStore> store, QObject* parent)
    : QObject(parent), m_store(std::move(store)), m_sockets(std::make_unique<SocketLayer>()),
      m_lookup(std::make_unique<FileLookup>()), m_mime(std::make_unique<MimeTable>()),
      m_responder(std::make_unique<DocumentResponder>(*m_lookup, *m_mime)),
      m_errors(std::make_unique<ErrorAnswers>(*m_responder))
{
    m_parts.sockets = m_sockets.get();
    m_parts.lookup = m_lookup.get();
    m_parts.responder = m_responder.get();
    m_parts.errors = m_errors.get();
    m_parts.hostNames = new HostNameCache(this);
    m_parts.reportFailure = [this](const QString& prefix, int code, const QString& description) {
        reportFailure(prefix, code, description);
    };
    m_parts.accessLogWanted = [this] {
        static const QMetaMethod signal = QMetaMethod::fromSignal(&Servlane::HTTPLog);
        return isSignalConnected(signal);
    };
    m_dispatch = std::make_unique<RequestDispatch>(m_parts);
    m_hostRequests = std::make_unique<HostRequests>(m_parts, *m_dispatch);
    m_settings.serverSoftware = QStringLiteral("Orbrook Servlane/1.1");
    m_settings.hostFolder =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    if (m_store)
        readProperties();
    settingsChanged();
    RequestDispatch* dispatch = m_dispatch.get();
    connect(dispatch, &RequestDispatch::fileRequested, this, &Servlane::FileRequest);
    connect(dispatch, &RequestDispatch::functionCalled, this, &Servlane::CallFunction);
    connect(dispatch, &RequestDispatch::accessLogged, this, &Servlane::HTTPLog);
    connect(m_sockets.get(), &SocketLayer::requestReady, dispatch, &RequestDispatch::onRequest);
    connect(m_sockets.get(), &SocketLayer::requestRejected, dispatch, &RequestDispatch::onRejected);
    connect(m_sockets.get(), &SocketLayer::trapExpired, dispatch, &RequestDispatch::onTrapExpired);
    connect(m_sockets.get(), &SocketLayer::received, this,
            [this](qint64 n) { m_parts.bytesReceived += double(n); });
    connect(m_sockets.get(), &SocketLayer::failure, this, &Servlane::reportFailure);
}

Servlane::~Servlane()
{
    m_sockets->stopHousekeeping();
    m_sockets->killAllConnections();
    m_sockets->closeListener();
    m_dispatch->stopPrograms();
}

void Servlane::setHostFolder(const QString& folder)
{
    m_settings.hostFolder = folder;
    settingsChanged();
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
    m_settings.serverPort =
        int(leadingNumber(text("ServerPort", QString::number(m_settings.serverPort))));
    m_settings.serverSoftware = text("ServerSoftware", m_settings.serverSoftware);
    // An empty stored name must not replace one the host set before.
    if (const QString name = text("ServerName", QString()); !name.isEmpty())
        m_serverName = name;
    m_contentTypeSource =
        e_ContentTypeSource(clampInt(number("ContentTypeSource", m_contentTypeSource), 0, 2));
    m_contentTypeSourceFile = text("ContentTypeSourceFile", m_contentTypeSourceFile);
    m_settings.authSource =
        AccessCheck::Source(clampInt(number("AuthenticationSource", m_settings.authSource), 0, 3));
    m_settings.authSourceFile = text("AuthenticationSourceFile", m_settings.authSourceFile);
    m_settings.cgiEnable = flag("CGIEnable", m_settings.cgiEnable);
    m_settings.cgiDirectory = text("CGIDirectory", m_settings.cgiDirectory);
    m_settings.cgiTimeoutSeconds =
        clampInt(number("CGITimeout", m_settings.cgiTimeoutSeconds), 0, 2'000'000'000);
    m_settings.ssiEnable = flag("SSIEnable", m_settings.ssiEnable);
    m_settings.functionsEnable = flag("HTMLFunctionsEnable", m_settings.functionsEnable);
    m_settings.browseEnable = flag("DirectoryBrowseEnable", m_settings.browseEnable);
    m_settings.errorFilesEnable = flag("ErrorFilesEnable", m_settings.errorFilesEnable);
    m_settings.verboseErrors = flag("VerboseErrorsEnable", m_settings.verboseErrors);
    m_maxConnections = clampInt(number("ServerMaxConnections", m_maxConnections), 2, 10000);
    m_connectionTimeout =
        clampInt(number("ConnectionTimeout", m_connectionTimeout), 0, 2'000'000'000);
    m_virtualPath = text("VirtualPath", m_virtualPath);
    m_settings.indexPageNames = removeSpaces(text("IndexPageNames", m_settings.indexPageNames));
    m_settings.trapEnable = flag("TrapFileEnable", m_settings.trapEnable);
    m_settings.trapFileTypes = removeSpaces(text("TrapFileTypes", m_settings.trapFileTypes));
}

void Servlane::store(const char* key, const QString& value)
{
    if (m_store)
        m_store->writeValue(QString::fromLatin1(key), value);
}

void Servlane::settingsChanged()
{
    m_dispatch->setSettings(m_settings);
}

void Servlane::setServerIP(const QString& value)
{
    m_serverIp = value.trimmed();
    store("ServerIP", m_serverIp);
}

void Servlane::setServerPort(const QString& value)
{
    m_settings.serverPort = int(leadingNumber(value));
    store("ServerPort", QString::number(m_settings.serverPort));
    settingsChanged();
}

void Servlane::setServerSoftware(const QString& value)
{
    m_settings.serverSoftware = value;
    store("ServerSoftware", value);
    settingsChanged();
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
    m_settings.authSource = AccessCheck::Source(clampInt(value, 0, 3));
    store("AuthenticationSource", QString::number(int(m_settings.authSource)));
    settingsChanged();
}

void Servlane::setAuthenticationSourceFile(const QString& value)
{
    m_settings.authSourceFile = value;
    store("AuthenticationSourceFile", value);
    settingsChanged();
}

void Servlane::setCGIEnable(bool value)
{
    m_settings.cgiEnable = value;
    store("CGIEnable", boolText(value));
    settingsChanged();
}

void Servlane::setCGIDirectory(const QString& value)
{
    m_settings.cgiDirectory = value;
    store("CGIDirectory", value);
    settingsChanged();
}

void Servlane::setCGITimeout(int value)
{
    m_settings.cgiTimeoutSeconds = clampInt(value, 0, 2'000'000'000);
    store("CGITimeout", QString::number(m_settings.cgiTimeoutSeconds));
    settingsChanged();
}

void Servlane::setSSIEnable(bool value)
{
    m_settings.ssiEnable = value;
    store("SSIEnable", boolText(value));
    settingsChanged();
}

void Servlane::setHTMLFunctionsEnable(bool value)
{
    m_settings.functionsEnable = value;
    store("HTMLFunctionsEnable", boolText(value));
    settingsChanged();
}

void Servlane::setDirectoryBrowseEnable(bool value)
{
    m_settings.browseEnable = value;
    store("DirectoryBrowseEnable", boolText(value));
    settingsChanged();
}

void Servlane::setErrorFilesEnable(bool value)
{
    m_settings.errorFilesEnable = value;
    store("ErrorFilesEnable", boolText(value));
    settingsChanged();
}

void Servlane::setVerboseErrorsEnable(bool value)
{
    m_settings.verboseErrors = value;
    store("VerboseErrorsEnable", boolText(value));
    settingsChanged();
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
    m_settings.indexPageNames = removeSpaces(value);
    store("IndexPageNames", m_settings.indexPageNames);
    settingsChanged();
}

void Servlane::setTrapFileEnable(bool value)
{
    m_settings.trapEnable = value;
    store("TrapFileEnable", boolText(value));
    settingsChanged();
}

void Servlane::setTrapFileTypes(const QString& value)
{
    m_settings.trapFileTypes = removeSpaces(value);
    store("TrapFileTypes", m_settings.trapFileTypes);
    settingsChanged();
}

// ---- start, stop, statistics --------------------------------------------

bool Servlane::StartServer()
{
    if (m_running)
        return false;
    // An address or port that cannot be used is refused before anything
    // opens: the server must never end up listening somewhere it was not
    // told to (every interface, a random port).
    const QHostAddress address =
        m_serverIp.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(m_serverIp);
    if (m_settings.serverPort < 0 || m_settings.serverPort > 65535 || address.isNull()) {
        reportFailure(QStringLiteral("Error - StartServer. ["), 10049,
                      QStringLiteral("Address or port not valid: ") + m_serverIp +
                          QLatin1Char(':') + QString::number(m_settings.serverPort));
        return false;
    }
    try {
        m_running = true;
        m_sockets->setPaused(true);
        m_mime->load(MimeTable::Source(int(m_contentTypeSource)), m_contentTypeSourceFile);
        if (m_virtualPath.isEmpty())
            setVirtualPath(m_settings.hostFolder);
        if (m_settings.cgiDirectory.isEmpty())
            setCGIDirectory(m_virtualPath + QStringLiteral("/scripts"));
        m_lookup->setDocumentRoot(m_virtualPath);
        if (m_lookup->root().isEmpty())
            reportFailure(QStringLiteral("Error - StartServer. ["), 76,
                          QStringLiteral("Path not found: ") + m_virtualPath);

        Q_EMIT StatusLine(QStringLiteral("Starting Server ..."));
        Q_EMIT HTTPLog(QLatin1Char('#') + HttpFormat::formatLogTime(QDateTime::currentDateTime()) +
                       QStringLiteral(" - Starting Server ..."));

        m_sockets->createSlots(m_maxConnections);
        m_sockets->listen(address, quint16(m_settings.serverPort));
        m_sockets->setFreeConnections(m_maxConnections);
        m_started = QDateTime::currentDateTime();

        m_parts.nameInUse = m_serverName.isEmpty() ? QHostInfo::localHostName() : m_serverName;
        m_parts.addressInUse = m_serverIp.isEmpty() ? m_sockets->localAddress() : m_serverIp;
        const QString port = QString::number(m_sockets->serverPort());

        const QStringList settingsLines{
            QStringLiteral("#Connection Timeout [min]: ") + QString::number(m_connectionTimeout),
            QStringLiteral("#CGI Enabled: ") + boolText(m_settings.cgiEnable),
            QStringLiteral("#CGI Directory: ") + m_settings.cgiDirectory,
            QStringLiteral("#CGI Timeout [sec]: ") + QString::number(m_settings.cgiTimeoutSeconds),
            QStringLiteral("#SSI Enabled: ") + boolText(m_settings.ssiEnable),
            QStringLiteral("#HTML Functions Enabled: ") + boolText(m_settings.functionsEnable),
            QStringLiteral("#Directory Browsing: ") + boolText(m_settings.browseEnable),
            QStringLiteral("#Verbose Server Errors: ") + boolText(m_settings.verboseErrors),
            QStringLiteral("#Use Error Files:") + boolText(m_settings.errorFilesEnable),
            QStringLiteral("#Max Connections: ") + QString::number(m_maxConnections),
            QStringLiteral("#Server Name: ") + m_parts.nameInUse,
            m_serverIp.isEmpty() ? QStringLiteral("#Server IP Address: All Available")
                                 : QStringLiteral("#Server IP Address: ") + m_serverIp,
            QStringLiteral("#HTTP Port: ") + port,
            QStringLiteral("#HTML Home Path: ") + m_virtualPath,
            QStringLiteral("#Index Page Name: ") + m_settings.indexPageNames,
        };
        for (const QString& line : settingsLines)
            Q_EMIT HTTPLog(line);

        Q_EMIT StatusLine(m_serverIp.isEmpty()
                              ? QStringLiteral("Server Started. All Available IP Addresses:") +
                                    port + QStringLiteral(" - ") + m_parts.nameInUse
                              : QStringLiteral("Server Started. ") + m_serverIp + QLatin1Char(':') +
                                    port + QStringLiteral(" - ") + m_parts.nameInUse);
        Q_EMIT HTTPLog(QLatin1Char('#') + HttpFormat::formatLogTime(QDateTime::currentDateTime()) +
                       QStringLiteral(" - Server Started."));
        m_sockets->startHousekeeping(m_connectionTimeout);
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
        m_sockets->setPaused(true);
        m_sockets->stopHousekeeping();
        Q_EMIT HTTPLog(QLatin1Char('#') + HttpFormat::formatLogTime(QDateTime::currentDateTime()) +
                       QStringLiteral(" - Stopping Server ..."));
        Q_EMIT StatusLine(QStringLiteral("Stopping Server ..."));
        m_sockets->killAllConnections();
        m_sockets->closeListener();
        m_dispatch->stopPrograms();
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
    return QString::number(std::llround(m_parts.bytesReceived / 1024.0)) + QLatin1Char('K');
}

QString Servlane::Stats_BytesSent() const
{
    return QString::number(std::llround(m_parts.bytesSent / 1024.0)) + QLatin1Char('K');
}

QString Servlane::Stats_Requests() const
{
    return QString::number(qint64(m_parts.requests));
}

QString Servlane::Stats_Errors() const
{
    return QString::number(qint64(m_parts.failures));
}

QString Servlane::Stats_UpTime() const
{
    if (!m_started.isValid())
        return {};
    return upTimeText(m_started.secsTo(QDateTime::currentDateTime()));
}

QString Servlane::Stats_FreeConnections() const
{
    return QString::number(m_sockets->freeConnections()) + QLatin1Char('/') +
           QString::number(m_maxConnections);
}

QString Servlane::AboutText() const
{
    return QStringLiteral("Servlane HTTP server ") + Version() + QStringLiteral(" (") +
           m_settings.serverSoftware + QLatin1Char(')');
}

void Servlane::ShowAboutBox()
{
    qCInfo(lcServlane).noquote() << AboutText();
}

void Servlane::reportFailure(const QString& prefix, int code, const QString& description)
{
    m_parts.failures += 1;
    qCInfo(lcServlane).noquote() << prefix << code << description;
    Q_EMIT LogEvent(prefix + QString::number(code) + QStringLiteral("] ") + description);
}

// ---- per-request methods for the host -----------------------------------

void Servlane::TrapFileData(int Index, const QString& Data, bool Process,
                            const QString& ContentType)
{
    m_hostRequests->answer(Index, Data, Process, ContentType);
}

void Servlane::TrapFileDataEX(int Index, const QString& Data, bool Process,
                              const QString& ContentType, const QString& StatusCode,
                              const QString& HeaderField)
{
    m_hostRequests->answerWithHead(Index, Data, Process, ContentType, StatusCode, HeaderField);
}

quint64 Servlane::RequestId(int Index) const
{
    return m_hostRequests->requestId(Index);
}

bool Servlane::RequestWaiting(int Index, quint64 Id) const
{
    return m_hostRequests->isWaiting(Index, Id);
}

QString Servlane::QueryString(int Index, const QString& Paramter, int Item) const
{
    return m_hostRequests->queryValue(Index, Paramter, Item);
}

int Servlane::QueryStringCount(int Index, const QString& Paramter) const
{
    return m_hostRequests->queryCount(Index, Paramter);
}

QString Servlane::CGIValue(int Index, const QString& Variable, const QString& Delimiter) const
{
    Q_UNUSED(Delimiter)
    return m_hostRequests->variable(Index, Variable);
}

QString Servlane::HTTPHeader(int Index, const QString& HeaderField) const
{
    return m_hostRequests->headerValue(Index, HeaderField);
}

void Servlane::ReturnData(int Index, const QString& mData)
{
    m_hostRequests->setFunctionText(Index, mData);
}
