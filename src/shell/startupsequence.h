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
    // copy runs).
    QCoro::Task<bool> start();
    // The skip link of the wait window.
    void skipWait() { m_skip = true; }

    // The main window's unload.
    QCoro::Task<> shutdown();

private:
    QCoro::Task<> stopEngine();
    QCoro::Task<> delay();

    StartupHost& m_host;
    SettingsStore& m_settings;
    ServiceManager& m_service;
    SingleInstance& m_instance;
    InterfaceControl& m_control;
    StatusSink& m_status;
    bool m_skip = false;
};

} // namespace casalux
