#include "servlane.h"

#include "documentresponder.h"
#include "erroranswers.h"
#include "filelookup.h"
#include "hostnamecache.h"
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
    m_parts.mime = m_mime.get();
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
    m_dispatch = std::make_unique<RequestDispatch>(*this, m_parts);
    m_serverSoftware = QStringLiteral("Orbrook Servlane/1.1");
    m_hostFolder =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    if (m_store)
        readProperties();
    RequestDispatch* dispatch = m_dispatch.get();
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
    // An address or port that cannot be used is refused before anything
    // opens: the server must never end up listening somewhere it was not
    // told to (every interface, a random port).
    const QHostAddress address =
        m_serverIp.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(m_serverIp);
    if (m_serverPort < 0 || m_serverPort > 65535 || address.isNull()) {
        reportFailure(QStringLiteral("Error - StartServer. ["), 10049,
                      QStringLiteral("Address or port not valid: ") + m_serverIp +
                          QLatin1Char(':') + QString::number(m_serverPort));
        return false;
    }
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
        m_sockets->listen(address, quint16(m_serverPort));
        m_sockets->setFreeConnections(m_maxConnections);
        m_started = QDateTime::currentDateTime();

        m_parts.nameInUse = m_serverName.isEmpty() ? QHostInfo::localHostName() : m_serverName;
        m_parts.addressInUse = m_serverIp.isEmpty() ? m_sockets->localAddress() : m_serverIp;
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
            QStringLiteral("#Server Name: ") + m_parts.nameInUse,
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
                                    port + QStringLiteral(" - ") + m_parts.nameInUse
                              : QStringLiteral("Server Started. ") + m_serverIp + QLatin1Char(':') +
                                    port + QStringLiteral(" - ") + m_parts.nameInUse);
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
           m_serverSoftware + QLatin1Char(')');
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
    ConnectionSlot* s = m_sockets->slot(Index);
    if (!s || (s->state != SlotState::Trapped && s->state != SlotState::Abandoned)) {
        qCDebug(lcServlane) << "answer for connection" << Index << "ignored: nothing awaited";
        return;
    }
    if (s->state == SlotState::Abandoned) {
        // Its client has gone, or had its 503 already: nobody gets this one.
        if (s->answerOverdue)
            qCWarning(lcServlane) << "late answer for connection" << Index
                                  << "dropped: its client was answered 503 already";
        else
            qCInfo(lcServlane) << "answer for connection" << Index << "dropped: its client left";
        m_sockets->send(Index, QByteArray()); // frees the slot
        return;
    }
    try {
        if (Process) {
            // Handed back: served like a request that was never trapped.
            m_sockets->resumeHandling(Index);
            m_dispatch->sendWebPage(Index, false, QString());
            return;
        }
        m_dispatch->sendHostAnswer(Index, Data.toLatin1(), ContentType);
    } catch (const std::exception& e) {
        reportFailure(QStringLiteral("Error - SendWebPage. ["), 0,
                      QString::fromLocal8Bit(e.what()));
    }
}

quint64 Servlane::RequestId(int Index) const
{
    return m_sockets->requestId(Index);
}

bool Servlane::RequestWaiting(int Index, quint64 Id) const
{
    const ConnectionSlot* s = m_sockets->slot(Index);
    return s && s->state == SlotState::Trapped && m_sockets->isWaiting(Index, Id);
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
    return m_dispatch->variable(Index, Variable, found.localPath);
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
