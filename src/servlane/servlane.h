#pragma once

#include "propertystore.h"
#include "serverparts.h"
#include "serversettings.h"
#include "servlane_export.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <memory>

namespace servlane {
class DocumentResponder;
class ErrorAnswers;
class FileLookup;
class HostRequests;
class MimeTable;
class RequestDispatch;
class SocketLayer;
struct RequestLimits;
} // namespace servlane

// The HTTP server the programs host. Its properties, methods and signals
// carry the names hosts and scripts know, so it can be driven through the
// meta-object system alone (setProperty, QMetaObject::invokeMethod, signals
// connected by name) as well as from C++.
//
// One thread: everything runs on the host's event loop, and signals are
// delivered synchronously. A trapped request raises FileRequest; the host
// answers with TrapFileData/TrapFileDataEX for that Index, inside the
// handler or later (after awaiting something). The connection stays open
// until then, at most RequestLimits::hostAnswerTimeoutMs, after which the
// client gets a 503. An answer for a request whose client is no longer
// waiting (it left, or had its 503) is dropped: it never reaches another
// client.
class SERVLANE_EXPORT Servlane final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString ServerIP READ ServerIP WRITE setServerIP)
    Q_PROPERTY(QString ServerPort READ ServerPort WRITE setServerPort)
    Q_PROPERTY(QString ServerSoftware READ ServerSoftware WRITE setServerSoftware)
    Q_PROPERTY(QString ServerName READ ServerName WRITE setServerName)
    Q_PROPERTY(
        e_ContentTypeSource ContentTypeSource READ ContentTypeSource WRITE setContentTypeSource)
    Q_PROPERTY(
        QString ContentTypeSourceFile READ ContentTypeSourceFile WRITE setContentTypeSourceFile)
    Q_PROPERTY(
        e_AuthSource AuthenticationSource READ AuthenticationSource WRITE setAuthenticationSource)
    Q_PROPERTY(QString AuthenticationSourceFile READ AuthenticationSourceFile WRITE
                   setAuthenticationSourceFile)
    Q_PROPERTY(bool CGIEnable READ CGIEnable WRITE setCGIEnable)
    Q_PROPERTY(QString CGIDirectory READ CGIDirectory WRITE setCGIDirectory)
    Q_PROPERTY(int CGITimeout READ CGITimeout WRITE setCGITimeout)
    Q_PROPERTY(bool SSIEnable READ SSIEnable WRITE setSSIEnable)
    Q_PROPERTY(bool HTMLFunctionsEnable READ HTMLFunctionsEnable WRITE setHTMLFunctionsEnable)
    Q_PROPERTY(bool DirectoryBrowseEnable READ DirectoryBrowseEnable WRITE setDirectoryBrowseEnable)
    Q_PROPERTY(bool ErrorFilesEnable READ ErrorFilesEnable WRITE setErrorFilesEnable)
    Q_PROPERTY(bool VerboseErrorsEnable READ VerboseErrorsEnable WRITE setVerboseErrorsEnable)
    Q_PROPERTY(int MaxConnections READ MaxConnections WRITE setMaxConnections)
    Q_PROPERTY(int ConnectionTimeout READ ConnectionTimeout WRITE setConnectionTimeout)
    Q_PROPERTY(QString VirtualPath READ VirtualPath WRITE setVirtualPath)
    Q_PROPERTY(QString IndexPageNames READ IndexPageNames WRITE setIndexPageNames)
    Q_PROPERTY(bool TrapFileEnable READ TrapFileEnable WRITE setTrapFileEnable)
    Q_PROPERTY(QString TrapFileTypes READ TrapFileTypes WRITE setTrapFileTypes)

public:
    enum e_ContentTypeSource { Registry = 0, File = 1, Internal = 2 };
    Q_ENUM(e_ContentTypeSource)
    enum e_AuthSource { GolbalFile = 0, DirectoryFile = 1, LocalACL = 2, DomainACL = 3 };
    Q_ENUM(e_AuthSource)

    static constexpr int kVersionMajor = 1;
    static constexpr int kVersionMinor = 1;
    static constexpr int kVersionRevision = 0;

    // Properties are read from `store` now and written to it on every change.
    // Without a store, the "Servlane" group of the application's QSettings.
    explicit Servlane(QObject* parent = nullptr);
    explicit Servlane(std::unique_ptr<PropertyStore> store, QObject* parent = nullptr);
    ~Servlane() override;

    // The host program's folder: the document root when VirtualPath is empty
    // at start, and where html/errors/ is looked for. Default: the folder of
    // the executable.
    void setHostFolder(const QString& folder);
    QString hostFolder() const { return m_settings.hostFolder; }
    // Bounds on requests and waits; tests shorten the deadlines.
    void setRequestLimits(const servlane::RequestLimits& limits);
    // The port actually listened on (useful with ServerPort 0).
    quint16 listeningPort() const;

    QString ServerIP() const { return m_serverIp; }
    void setServerIP(const QString& value);
    QString ServerPort() const { return QString::number(m_settings.serverPort); }
    void setServerPort(const QString& value);
    QString ServerSoftware() const { return m_settings.serverSoftware; }
    void setServerSoftware(const QString& value);
    QString ServerName() const { return m_serverName; }
    void setServerName(const QString& value);
    e_ContentTypeSource ContentTypeSource() const { return m_contentTypeSource; }
    void setContentTypeSource(e_ContentTypeSource value);
    QString ContentTypeSourceFile() const { return m_contentTypeSourceFile; }
    void setContentTypeSourceFile(const QString& value);
    e_AuthSource AuthenticationSource() const { return e_AuthSource(m_settings.authSource); }
    void setAuthenticationSource(e_AuthSource value);
    QString AuthenticationSourceFile() const { return m_settings.authSourceFile; }
    void setAuthenticationSourceFile(const QString& value);
    bool CGIEnable() const { return m_settings.cgiEnable; }
    void setCGIEnable(bool value);
    QString CGIDirectory() const { return m_settings.cgiDirectory; }
    void setCGIDirectory(const QString& value);
    int CGITimeout() const { return m_settings.cgiTimeoutSeconds; }
    void setCGITimeout(int value);
    bool SSIEnable() const { return m_settings.ssiEnable; }
    void setSSIEnable(bool value);
    bool HTMLFunctionsEnable() const { return m_settings.functionsEnable; }
    void setHTMLFunctionsEnable(bool value);
    bool DirectoryBrowseEnable() const { return m_settings.browseEnable; }
    void setDirectoryBrowseEnable(bool value);
    bool ErrorFilesEnable() const { return m_settings.errorFilesEnable; }
    void setErrorFilesEnable(bool value);
    bool VerboseErrorsEnable() const { return m_settings.verboseErrors; }
    void setVerboseErrorsEnable(bool value);
    int MaxConnections() const { return m_maxConnections; }
    void setMaxConnections(int value);
    int ConnectionTimeout() const { return m_connectionTimeout; }
    void setConnectionTimeout(int value);
    QString VirtualPath() const { return m_virtualPath; }
    void setVirtualPath(const QString& value);
    QString IndexPageNames() const { return m_settings.indexPageNames; }
    void setIndexPageNames(const QString& value);
    bool TrapFileEnable() const { return m_settings.trapEnable; }
    void setTrapFileEnable(bool value);
    QString TrapFileTypes() const { return m_settings.trapFileTypes; }
    void setTrapFileTypes(const QString& value);

    Q_INVOKABLE bool StartServer();
    Q_INVOKABLE bool StopServer();
    Q_INVOKABLE bool ServerRunning() const { return m_running; }
    Q_INVOKABLE QString Version() const;
    Q_INVOKABLE QString Stats_BytesReceived() const;
    Q_INVOKABLE QString Stats_BytesSent() const;
    Q_INVOKABLE QString Stats_Requests() const;
    Q_INVOKABLE QString Stats_Errors() const;
    Q_INVOKABLE QString Stats_UpTime() const;
    Q_INVOKABLE QString Stats_FreeConnections() const;
    // The library has no windows; a host shows AboutText() in its own box.
    Q_INVOKABLE void ShowAboutBox();
    Q_INVOKABLE QString AboutText() const;

    Q_INVOKABLE void TrapFileData(int Index, const QString& Data, bool Process = true,
                                  const QString& ContentType = QStringLiteral("text/html"));
    Q_INVOKABLE void TrapFileDataEX(int Index, const QString& Data, bool Process = true,
                                    const QString& ContentType = QStringLiteral("text/html"),
                                    const QString& StatusCode = QStringLiteral("200"),
                                    const QString& HeaderField = QString());
    // Every request handed to the host has an identity of its own, never
    // used again; a host that answers later checks with RequestWaiting that
    // the slot still holds that request and its client still waits.
    Q_INVOKABLE quint64 RequestId(int Index) const;
    Q_INVOKABLE bool RequestWaiting(int Index, quint64 Id) const;
    Q_INVOKABLE QString QueryString(int Index, const QString& Paramter, int Item = 1) const;
    Q_INVOKABLE int QueryStringCount(int Index, const QString& Paramter) const;
    Q_INVOKABLE QString CGIValue(int Index, const QString& Variable,
                                 const QString& Delimiter = QStringLiteral(",")) const;
    Q_INVOKABLE QString HTTPHeader(int Index, const QString& HeaderField = QString()) const;
    Q_INVOKABLE void ReturnData(int Index, const QString& mData);

Q_SIGNALS:
    void CallFunction(int Index, const QString& FunctionName);
    void FileRequest(int Index, const QString& FileName, const QString& UserAuthentication);
    void HTTPLog(const QString& Data);
    void LogEvent(const QString& Data);
    void StatusLine(const QString& Data);

private:
    void readProperties();
    void store(const char* key, const QString& value);
    // Hands the settings to the parts that answer requests.
    void settingsChanged();
    void reportFailure(const QString& prefix, int code, const QString& description);

    std::unique_ptr<PropertyStore> m_store;
    std::unique_ptr<servlane::SocketLayer> m_sockets;
    std::unique_ptr<servlane::FileLookup> m_lookup;
    std::unique_ptr<servlane::MimeTable> m_mime;
    std::unique_ptr<servlane::DocumentResponder> m_responder;
    std::unique_ptr<servlane::ErrorAnswers> m_errors;
    servlane::ServerParts m_parts;
    std::unique_ptr<servlane::RequestDispatch> m_dispatch;
    std::unique_ptr<servlane::HostRequests> m_hostRequests;

    // The properties the request handling works from; the rest below.
    servlane::ServerSettings m_settings;
    QString m_serverIp;
    QString m_serverName;
    e_ContentTypeSource m_contentTypeSource = Registry;
    QString m_contentTypeSourceFile;
    int m_maxConnections = 2;
    int m_connectionTimeout = 10;
    QString m_virtualPath;

    bool m_running = false;
    QDateTime m_started;
};
