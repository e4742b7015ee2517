#include "startupsequence.h"

#include "home/settingsstore.h"
#include "platform/clock.h"
#include "platform/servicemanager.h"
#include "platform/settlewait.h"
#include "platform/singleinstance.h"
#include "platform/statussink.h"
#include "startuphost.h"
#include "x10/interfacecontrol.h"

#include <QPointer>

namespace casalux {

namespace {
bool stopped(const QString& status)
{
    // A service manager that cannot be asked reads as empty: not running.
    return status.isEmpty() || status.compare(QLatin1String("stopped"), Qt::CaseInsensitive) == 0;
}
} // namespace

StartupSequence::StartupSequence(StartupHost& host, SettingsStore& settings,
                                 ServiceManager& service, SingleInstance& instance,
                                 InterfaceControl& control, StatusSink& status, QObject* parent)
    : QObject(parent), m_host(host), m_settings(settings), m_service(service), m_instance(instance),
      m_control(control), m_status(status)
{
}

QCoro::Task<bool> StartupSequence::start()
{
    QPointer<StartupSequence> self(this);
    m_skip = false;
    m_closing = false;
    m_otherCopy = false;
    m_host.showWait(QStringLiteral("Casalux - Starting"));
    m_settings.write(settingkeys::closeengine, QStringLiteral("True"));
    m_host.suppressHandlers(true, true);

    m_starting = true;
    const bool goOn = co_await takeOver();
    if (!self)
        co_return false;
    m_starting = false;
    if (!goOn || m_closing)
        co_return false;

    m_host.showWebPort(m_settings.read(settingkeys::webport));
    m_settings.write(settingkeys::installing, QStringLiteral("False"));
    m_host.setWaitProgress(QStringLiteral("Loading Lists"));
    m_host.loadlists();
    m_host.setWaitProgress(QStringLiteral("Loading MsAgent"));
    m_host.initagent();
    m_host.setWaitProgress(QStringLiteral("Loading Devices"));
    m_host.loadtree();
    m_host.setWaitProgress(QStringLiteral("Loading Options"));
    m_host.loadOptions();
    m_host.setWaitProgress(QStringLiteral("Loading Events"));
    m_host.loadEventsAndSunTimes();
    m_host.startTimers();
    m_host.suppressHandlers(true, false); // option clicks stay off until the start-up timer
    m_host.closeWait();
    co_return true;
}

// Stops the engine, waits out another copy and the delay. False when the
// program ends instead: another copy runs, or shut-down has begun.
QCoro::Task<bool> StartupSequence::takeOver()
{
    QPointer<StartupSequence> self(this);
    co_await stopEngine();
    if (!self || m_closing)
        co_return false;
    const bool alone = co_await m_instance.claim();
    if (!self)
        co_return false;
    if (!alone) {
        m_otherCopy = true;
        if (!m_closing)
            m_host.endProgram();
        co_return false;
    }
    if (m_closing)
        co_return false;
    co_await delay();
    co_return self && !m_closing;
}

// The 3-second pause between stop requests is taken a second at a time, so
// that a shut-down coming meanwhile is not kept waiting.
QCoro::Task<> StartupSequence::stopEngine()
{
    QPointer<StartupSequence> self(this);
    QString status = co_await m_service.status();
    for (int i = 0; i < stopTries && self && !m_closing && !stopped(status); ++i) {
        co_await m_service.stop();
        if (!self || m_closing)
            co_return;
        m_host.setWaitProgress(QStringLiteral("Stopping Service"));
        for (int second = 0; second < 3; ++second) {
            co_await waitseconds(1);
            if (!self || m_closing)
                co_return;
        }
        status = co_await m_service.status();
    }
}

QCoro::Task<> StartupSequence::delay()
{
    if (m_settings.read(settingkeys::startupDelay) != QLatin1String("delayed"))
        co_return;
    QPointer<StartupSequence> self(this);
    m_host.showSkipLink(true);
    for (int n = delaySeconds; n >= 0; --n) {
        m_host.setWaitProgress(QStringLiteral("Time Delay %1").arg(n));
        co_await waitseconds(1);
        if (!self)
            co_return;
        if (m_skip || m_closing)
            break;
    }
    m_host.showSkipLink(false);
}

QCoro::Task<> StartupSequence::shutdown()
{
    QPointer<StartupSequence> self(this);
    m_closing = true;
    if (m_starting) {
        // (Named, not a temporary: GCC 12 destroys temporaries of a co_await
        // expression twice.)
        const std::function<bool()> stopped = [self] { return !self || !self->m_starting; };
        co_await SettleWait::until(stopped, startStopLimitMs);
        if (!self)
            co_return;
    }
    if (m_otherCopy) {
        // The running copy owns the interface and keeps the engine stopped.
        m_host.closeWait();
        co_return;
    }
    m_settings.write(settingkeys::closeengine, QStringLiteral("False"));
    m_host.showWait(QStringLiteral("Casalux - Closing"));
    m_status.setStatus(StatusSink::Activity, QStringLiteral("Closing communications, please wait"));
    m_host.setWaitProgress(QStringLiteral("Saving Data"));
    m_host.restoreWindowOnScreen();
    m_host.setWaitProgress(QStringLiteral("Closing Port"));
    if (!m_control.close()) {
        co_await waitseconds(1);
        if (!self)
            co_return;
        m_control.close();
    }
    m_host.saveWindowPosition();
    m_host.setWaitProgress(QStringLiteral("Starting Service"));
    if (m_host.serviceTicked()) {
        co_await m_service.start();
        co_await waitseconds(1);
        const QString status = co_await m_service.status();
        if (status.compare(QLatin1String("stopped"), Qt::CaseInsensitive) == 0) {
            co_await waitseconds(1);
            co_await m_service.start();
        }
        if (!self)
            co_return;
    }
    m_host.setWaitProgress(QStringLiteral("Finished"));
    m_host.closeWait();
}

} // namespace casalux
