#include "hearthcoreengine.h"

#include "home/settingsstore.h"
#include "platform/clock.h"
#include "x10/interfacecontrol.h"
#include "x10/interfacefinder.h"

#include <QLoggingCategory>
#include <QPointer>

namespace casalux {

namespace {
// On by default: these lines are the engine's log (stderr, the journal
// under systemd).
Q_LOGGING_CATEGORY(lcEngine, "casalux.engine", QtInfoMsg)

const QString releasedNotice = QStringLiteral(
    "Casalux has taken over the X10 interface: switch devices from the desktop program.");
const QString lostNotice = QStringLiteral(
    "The X10 interface is not connected; looking for it again. Devices cannot be switched "
    "until it answers.");
} // namespace

HearthcoreEngine::HearthcoreEngine(const QString& programFolder, SettingsStore& settings,
                                   InterfaceControl& control, QObject* parent)
    : QObject(parent), m_folder(programFolder), m_settings(settings), m_control(control),
      m_commands(control, m_silent, CommandPolicy::engine()), m_status(settings),
      m_events(programFolder, m_filebusy),
      m_scheduler(m_events, settings, m_commands, m_status, m_silent, SchedulerPolicy::engine()),
      m_server({programFolder, settings, m_commands, m_status, m_silent}), m_reconnector(control)
{
    m_scheduler.setQuitHook([this] { Q_EMIT quitRequested(); });
    // After the hand-over a click on a page must not pass for a switch.
    m_server.setCommandGate([this] { return m_released ? releasedNotice : QString(); });
    m_server.setPageNotice([this] { return m_control.isLost() ? lostNotice : QString(); });
    connect(&m_control, &InterfaceControl::lost, this, [this] {
        qCWarning(lcEngine).noquote()
            << "X10 interface on port" << m_control.port() << "lost; looking for it again every"
            << InterfaceReconnector::retrySeconds << "seconds";
    });
    connect(&m_control, &InterfaceControl::found, this, [this] {
        qCInfo(lcEngine).noquote() << "X10 interface on port" << m_control.port() << "found again";
    });
    connect(&m_timer1, &QTimer::timeout, this, [this] {
        if (!m_releasing && !m_released)
            watchHandOver();
    });
}

QCoro::Task<bool> HearthcoreEngine::start()
{
    QPointer<HearthcoreEngine> self(this);
    m_settings.write(settingkeys::closeengine, QStringLiteral("False"));
    m_timer1.start(Clock::instance().interval(watchIntervalMs));
    if (m_settings.read(settingkeys::startupDelay) == QLatin1String("delayed")) {
        for (int i = 0; i < delaySeconds && self; ++i)
            co_await waitseconds(1);
    }
    if (!self)
        co_return false;
    // (GCC 12 mis-compiles co_await inside a short-circuit condition.)
    const bool found = co_await findinterface();
    if (!found)
        co_return false;
    m_server.startserver();
    co_return true;
}

QCoro::Task<bool> HearthcoreEngine::findinterface()
{
    // Only the stored port: "none" means the desktop program never found one.
    const std::optional<int> port = InterfaceFinder::savedPort(m_settings);
    if (!port)
        co_return false;
    m_control.setPort(*port);
    const int result = co_await m_control.open();
    if (result != InterfaceControl::Ready && result != InterfaceControl::PortUnusable)
        co_return false;
    m_open = result == InterfaceControl::Ready;
    InterfaceFinder::claim(m_control, m_settings, *port);
    m_scheduler.armEventTimer();
    m_scheduler.armRemovalTimer();
    co_return true;
}

QCoro::Task<> HearthcoreEngine::watchHandOver()
{
    m_settings.sync(); // the desktop program writes the flag from its own process
    if (m_settings.read(settingkeys::closeengine) == QLatin1String("True"))
        co_await release();
}

QCoro::Task<> HearthcoreEngine::release()
{
    if (m_released || m_releasing)
        co_return;
    m_releasing = true;
    QPointer<HearthcoreEngine> self(this);
    m_scheduler.stop();
    // The port is the desktop program's from now on, found again or not.
    m_reconnector.stop();
    // A minute tick or a removal may be reading or rewriting the event list:
    // the interface goes only once that is done.
    auto hold = co_await m_filebusy.take(1);
    if (!self)
        co_return;
    m_control.close();
    m_open = false;
    m_released = true;
    m_releasing = false;
    m_timer1.stop();
}

QCoro::Task<> HearthcoreEngine::shutdown()
{
    QPointer<HearthcoreEngine> self(this);
    co_await release();
    if (self)
        m_server.stopserver();
}

} // namespace casalux
