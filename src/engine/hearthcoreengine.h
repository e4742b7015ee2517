#pragma once

#include "homecore.h"
#include "platform/busymark.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <qcoro/qcorotask.h>

namespace casalux {

class InterfaceControl;
class SettingsStore;

// The background engine: keeps timed events and the remote-control pages
// working while the desktop program is closed. It drives the interface on
// the stored port only, fires clock-time events, serves the pages, and lets
// go of the interface when the desktop program asks (closeengine).
class HearthcoreEngine final : public QObject {
    Q_OBJECT

public:
    // The hand-over poll, only where the settings file cannot be
    // watched for changes.
    static constexpr int watchIntervalMs = 5000;
    static constexpr int delaySeconds = 21;
    // Between tries of a stored port that could not be opened at start.
    static constexpr int openRetrySeconds = 5;
    // Between searches of the ports while none is stored and none answered.
    static constexpr int searchAgainSeconds = 30;

    HearthcoreEngine(const QString& programFolder, SettingsStore& settings,
                     InterfaceControl& control, QObject* parent = nullptr);

    // Start-up. False when the engine has nothing to do and should end (no
    // port stored), or was asked to end meanwhile. A stored port that
    // cannot be opened is tried again every few seconds until it opens, the
    // desktop program asks for it, or the engine is asked to end.
    QCoro::Task<bool> start();
    // Lets go of the interface once the file work in progress is done; the
    // web pages stay up.
    QCoro::Task<> release();
    // The program is asked to end: waits a few seconds at most for a minute
    // tick, a command from a page or a release under way, then lets go of
    // the interface and the web port.
    QCoro::Task<> shutdown();
    bool stopping() const { return m_stopping; }
    // Whether the hand-over flag is polled (no change notification here).
    bool pollingHandOver() const { return m_handOverPoll.isActive(); }

    bool released() const { return m_released; }
    bool interfaceOpen() const { return m_open; }
    // What the engine runs while it holds the interface.
    HomeCore& core() { return m_core; }
    RemoteServer& server() { return m_core.server; }
    EventScheduler& scheduler() { return m_core.scheduler; }
    InterfaceReconnector& reconnector() { return m_core.reconnector; }
    OutsideCommands& outside() { return m_core.outside; }
    ControlServer& controlServer() { return m_core.controlServer; }
    BusyMark& filebusy() { return m_core.filebusy; }
    MqttBridge& mqtt() { return m_core.mqtt; }

Q_SIGNALS:
    // The engine has ended itself ("installing" read "True").
    void quitRequested();
    // The start-up's open of the port has come back, answered or not.
    void openReturned();

private:
    QCoro::Task<bool> findinterface();
    QCoro::Task<> watchHandOver(); // one poll tick or settings change
    void startHandOverWatch();
    void stopHandOverWatch();
    // Stored ports and web ports, and serial devices that appear.
    void watchForChanges();
    // What the hub's link depends on, as one text to compare.
    QString hubSettings() const;
    // The desktop program has asked for the port, or the engine is ending:
    // the start-up must not take (or keep) the port.
    bool startAbandoned() const { return m_releasing || m_released || m_stopping; }
    QCoro::Task<bool> handOverAsked();

    QString m_folder;
    SettingsStore& m_settings;
    InterfaceControl& m_control;
    HomeCore m_core;
    QTimer m_handOverPoll;
    // The settings file's folder (the file is replaced on every write) and
    // the file: a change wakes the hand-over watch at once.
    QFileSystemWatcher m_settingsWatch;
    // The program folder and the serial devices' folders, for the set-up.
    QFileSystemWatcher m_watch;
    bool m_wake = false; // something changed: search again now
    QString m_hubSettings;
    bool m_open = false;
    bool m_released = false;
    bool m_releasing = false;
    BusyMark m_starting;
    bool m_opening = false;
    bool m_stopping = false;
};

} // namespace casalux
