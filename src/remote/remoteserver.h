#pragma once

#include "filestamp.h"
#include "namelookupcache.h"
#include "pagebuilder.h"
#include "x10/deviceswitch.h"
#include "x10/switchqueue.h"
#include "x10/switchresult.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <qcoro/qcorotask.h>

class Servlane;

namespace casalux {

class DeviceCommands;
class DeviceStatus;
class SettingsStore;
class StatusSink;

// The built-in web server's host: serves the html folder and answers the
// two remote-control pages itself (index.html for browsers, wmcindex.html
// for a TV), switching devices from the links on them. Every other file is
// handed back to the server, which serves it as usual.
class RemoteServer final : public QObject {
    Q_OBJECT

public:
    // Request slots of the pages' server, one less than this. A command
    // waiting its turn holds one, so there are enough for a queue of
    // commands and the pictures and pages asked for meanwhile; beyond
    // maxWaitingCommands a command is refused at once with a notice, so a
    // flood of them never takes the last slots.
    static constexpr int maxConnections = 64;
    static constexpr int maxWaitingCommands = 48;
    static constexpr const char* loginFileName = "htaccess.txt";
    // The states of a room's devices, asked for by an open page with the
    // room key as its query; answered with a validator.
    static constexpr const char* statesName = "states.json";

    struct Parts {
        QString programFolder;
        SettingsStore& settings;
        DeviceCommands& commands;
        DeviceStatus& status;
        StatusSink& statusBar; // the desktop's; the engine passes a silent one
    };

    explicit RemoteServer(Parts parts, QObject* parent = nullptr);
    ~RemoteServer() override;

    Servlane& web() { return *m_web; }

    // Starts the server on the stored web port, falling back once to 8080
    // (which is then stored).
    void startserver();
    void stopserver();

    // The server's request event: the connection, the path and the Basic
    // credentials of the request.
    QCoro::Task<> FileRequest(int index, QString fileName, QString userAuthentication);

    // Whether a device command from a page is being carried out.
    bool serving() const { return m_serving; }

    // Asked before each device command from a page: empty to go ahead, or a
    // notice shown at the top of the page instead of sending (the engine,
    // once it has handed the interface over, says so).
    void setCommandGate(std::function<QString()> gate) { m_gate = std::move(gate); }
    // Asked for every page: empty, or a notice shown at the top of it (the
    // X10 interface is lost and being looked for).
    void setPageNotice(std::function<QString()> notice) { m_pageNotice = std::move(notice); }
    // On, clients on other machines switch nothing until a login is set:
    // every page they get says so. Clients on this machine are not asked.
    void setLoginBeforeNetwork(bool on) { m_loginBeforeNetwork = on; }
    bool loginSet() const { return !loginFile().isEmpty(); }
    // The room view to keep in step with what the pages switch; none in the
    // engine.
    void setRoomView(RoomView* view) { m_switch.setRoomView(view); }

private:
    struct Command;
    enum class Page { None, MediaCenter, Standard, States };

    class Serving;
    void answer(int index, quint64 request, const QString& html, bool handBack);
    void answerStates(int index, quint64 request, const QString& roomKey);
    // Refused: the query names no device of the home at its address.
    QCoro::Task<SwitchResult> runCommand(const Command& command, const SwitchQueue::Turn& turn);
    // Whether a command's request came from a page of the site it was sent
    // to, as far as its headers tell (SameSiteCheck).
    bool sameSite(int index) const;
    static QString withNotice(QString html, const QString& notice, bool live = false);
    static Page pageNamed(const QString& fileName);
    QString startPage(Page page) const;
    QString roomPage(Page page, const QString& roomKey,
                     const PageBuilder::DeviceNotice& notice = {}, bool remember = true) const;
    QString loginFile() const;
    static QString searchLoginFile(const QString& folder);
    bool authorised(const QString& userAuthentication) const;
    // The notice for a client on another machine while no login is set.
    QString networkNotice(int index) const;

    Parts m_parts;
    DeviceSwitch m_switch;
    std::unique_ptr<Servlane> m_web;
    PageBuilder m_builder;
    std::function<QString()> m_gate;
    std::function<QString()> m_pageNotice;
    bool m_serving = false;
    bool m_loginBeforeNetwork = false;
    // Device commands from the pages waiting for the line or on it.
    int m_commandsAsked = 0;
    // The login file as last found and read; checked on every request.
    mutable NameLookupCache m_loginName;
    mutable QString m_loginPath;
    mutable FileStamp m_loginStamp;
    mutable bool m_loginValid = false;
    mutable QByteArray m_loginText;
};

} // namespace casalux
