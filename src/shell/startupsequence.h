#pragma once

#include <QObject>
#include <qcoro/qcorotask.h>

namespace casalux {

class InterfaceControl;
class ServiceManager;
class SettingsStore;
class SingleInstance;
class StartupHost;
class StatusSink;

// The desktop program's start-up and shut-down, in the order that hands
// the X10 interface over between the program and the background engine:
// signal the engine, stop it, open the interface; and when closing, clear
// the signal, close the interface, start the engine.
class StartupSequence final : public QObject {
    Q_OBJECT

public:
    static constexpr int delaySeconds = 20;
    static constexpr int stopTries = 3;

    StartupSequence(StartupHost& host, SettingsStore& settings, ServiceManager& service,
                    SingleInstance& instance, InterfaceControl& control, StatusSink& status,
                    QObject* parent = nullptr);

    // The main window's load. False when the program ends instead (another
    // copy runs), or when shut-down began meanwhile: loading then stops at
    // its next step and opens nothing.
    QCoro::Task<bool> start();
    // The skip link of the wait window.
    void skipWait() { m_skip = true; }

    // The main window's unload. During start-up it first lets the start-up
    // stop (a stop request to the engine in flight would otherwise land
    // after the engine's restart), and leaves the engine alone when another
    // copy of the program turned out to be running.
    QCoro::Task<> shutdown();

    // Longest wait of shut-down for start-up to stop: the second-copy check
    // takes up to its 5 seconds.
    static constexpr int startStopLimitMs = 10000;

private:
    QCoro::Task<bool> takeOver();
    QCoro::Task<> stopEngine();
    QCoro::Task<> delay();

    StartupHost& m_host;
    SettingsStore& m_settings;
    ServiceManager& m_service;
    SingleInstance& m_instance;
    InterfaceControl& m_control;
    StatusSink& m_status;
    bool m_skip = false;
    bool m_starting = false;
    bool m_closing = false;
    bool m_otherCopy = false;
};

} // namespace casalux
