#pragma once

#include "control/controlserver.h"
#include "home/devicestatus.h"
#include "home/roomlist.h"
#include "mqttbridge.h"
#include "platform/busymark.h"
#include "platform/statussink.h"
#include "remote/remoteserver.h"
#include "schedule/eventlist.h"
#include "schedule/eventscheduler.h"
#include "schedule/schedulerpolicy.h"
#include "x10/commandpolicy.h"
#include "x10/devicecommands.h"
#include "x10/interfacereconnector.h"
#include "x10/outsidecommands.h"
#include "x10/traffichandler.h"

#include <QLoggingCategory>
#include <QObject>
#include <QString>

#include <functional>

#include <qcoro/qcorotask.h>

namespace casalux {

class InterfaceControl;
class RoomView;
class SettingsStore;

// What every program that holds the X10 interface runs around it, built
// once and wired to each other: the home's lists and device states, the
// device commands every switch goes through (clicks, pages, hub, command
// line, timed events, power-line traffic), the timed events, the remote
// pages, the command line's socket and the hub's link. And the life of
// holding the interface: going live once it answers, what is said while it
// is lost, and the shut-down that lets work in progress finish first.
//
// Where the programs differ (what is shown, what is drawn, what is logged,
// when a command is refused) the host says so in its Host.
class HomeCore : public QObject {
    Q_OBJECT

public:
    struct Host {
        QString holder; // "engine" or "desktop": who the command line and the hub reach
        CommandPolicy commands;
        SchedulerPolicy scheduler;
        StatusSink* status = nullptr; // where status texts go; none: nowhere
        RoomView* view = nullptr;     // the room whose pictures follow; none: nothing drawn
        // Whether the port is in hand now, for the command line's socket;
        // none: while it is served.
        std::function<bool()> holding = {};
        // Asked before a command from a page, a hub or the command line:
        // empty to go ahead, or why the program cannot switch now.
        std::function<QString()> gate = {};
        // Where the interface going away and coming back is logged besides
        // the status texts (the engine's journal); none: not logged.
        const QLoggingCategory* log = nullptr;
    };

    HomeCore(QString programFolder, SettingsStore& settings, InterfaceControl& control, Host host,
             QObject* parent = nullptr);
    ~HomeCore() override;

    const QString folder;
    SettingsStore& settings;
    InterfaceControl& control;

private:
    SilentStatus m_silent; // before the parts that may report to it

public:
    RoomList rooms;
    BusyMark filebusy; // the event and room files are being read or rewritten
    DeviceStatus deviceStatus;
    DeviceCommands commands;
    TrafficHandler traffic; // what wall switches and remotes do on the power line
    EventList events;
    EventScheduler scheduler;
    RemoteServer server; // the remote-control pages
    InterfaceReconnector reconnector;
    OutsideCommands outside;     // commands from a hub or the command line
    ControlServer controlServer; // the command line's socket, while the interface is held
    MqttBridge mqtt;             // the hub's link, while the interface is held

    // The interface answers and is this program's: timed events run, the
    // command line is served and the hub is told.
    void goLive();
    // No new work is taken in: the timed events, the command line's socket
    // and the search for a lost interface stop.
    void stopTakingWork();
    // The program is ending or handing the interface over: takes no more
    // work in, lets what is under way finish (a device command, a command
    // from a page, a hub or the command line, a rewrite of the event list,
    // and whatever `hostBusy` says of the host's own; a few seconds at
    // most), says "offline" to the hub and frees the web port. The port
    // itself is the host's to close.
    QCoro::Task<> shutDown(std::function<bool()> hostBusy);
    // Nothing is under way that shutDown waits for.
    bool settled() const;

    // What the pages say while an interface has not been found yet (empty:
    // nothing); while it is lost they say lostNotice().
    void setSetupNotice(const QString& notice) { m_setupNotice = notice; }

    // What the status bar, the tray tip and the pages say while the
    // interface is lost.
    static QString lostStatus() { return QStringLiteral("STATUS: Interface lost"); }
    QString lostActivity() const;
    static QString lostNotice();

private:
    void interfaceLost();
    void interfaceFound();

    StatusSink& m_status;
    const QLoggingCategory* m_log;
    QString m_setupNotice;
};

} // namespace casalux
