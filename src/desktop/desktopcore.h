#pragma once

#include "control/controlserver.h"
#include "home/devicestatus.h"
#include "home/roomlist.h"
#include "home/roomlisteditor.h"
#include "mqttbridge.h"
#include "platform/busymark.h"
#include "remote/remoteserver.h"
#include "remote/weboptions.h"
#include "schedule/eventeditor.h"
#include "schedule/eventlist.h"
#include "schedule/eventprofiles.h"
#include "schedule/eventscheduler.h"
#include "schedule/macrolist.h"
#include "schedule/suntimes.h"
#include "x10/deviceclickhandler.h"
#include "x10/devicecommands.h"
#include "x10/interfacefinder.h"
#include "x10/interfacereconnector.h"
#include "x10/outsidecommands.h"
#include "x10/traffichandler.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <qcoro/qcorotask.h>

namespace casalux {

class InterfaceControl;
class Prompts;
class RoomView;
class SettingsStore;
class SoundPlayer;
class StatusSink;

// The core operations the desktop window drives, built once and wired to each
// other: device commands, traffic and the command queue, the lists and their
// editors, the scheduler, the sun times and the web server. The window and
// its panels only turn user actions into calls on these.
class DesktopCore final : public QObject {
    Q_OBJECT

public:
    struct Setup {
        QString programFolder;
        SettingsStore& settings;
        InterfaceControl& control;
        Prompts& prompts;
        SoundPlayer& sounds;
        StatusSink& statusBar;
        RoomView& view;
    };

    explicit DesktopCore(Setup setup, QObject* parent = nullptr);

    // Runs a handler's coroutine to its end without the caller waiting, and
    // counts it, so tests (and shut-down) can tell when every action settled.
    void launch(QCoro::Task<> task);
    int running() const { return m_running; }

    const QString folder;
    SettingsStore& settings;
    InterfaceControl& control;
    Prompts& prompts;
    SoundPlayer& sounds;
    StatusSink& statusBar;
    RoomView& view;

    RoomList rooms;
    BusyMark filebusy;
    DeviceStatus deviceStatus;
    DeviceCommands commands;
    InterfaceFinder finder;
    DeviceClickHandler clicks;
    TrafficHandler traffic;
    EventList events;
    EventProfiles profiles;
    EventEditor eventEditor;
    MacroList macros;
    SunTimes sun;
    EventScheduler scheduler;
    RoomListEditor roomEditor;
    RemoteServer server;
    WebOptions webOptions;
    InterfaceReconnector reconnector;
    OutsideCommands outside; // commands from a hub or the command line
    ControlServer controlServer; // the command line's socket, while the window holds the port
    MqttBridge mqtt;         // the hub's link, while this program holds the interface

    // What the status bar, the tray tip and the pages say while the
    // interface is lost.
    static QString lostStatus() { return QStringLiteral("STATUS: Interface lost"); }
    QString lostActivity() const;
    static QString lostNotice();

Q_SIGNALS:
    // Every launched action has finished.
    void settled();

private:
    static QCoro::Task<> track(QPointer<DesktopCore> self, QCoro::Task<> task);

    int m_running = 0;
};

} // namespace casalux
