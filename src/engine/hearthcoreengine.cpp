#include "hearthcoreengine.h"

#include "home/settingsstore.h"
#include "platform/clock.h"
#include "platform/settlewait.h"
#include "x10/interfacecontrol.h"
#include "x10/interfacefinder.h"
#include "x10/serialportmap.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QPointer>

namespace casalux {

namespace {
// On by default: these lines are the engine's log (stderr, the journal
// under systemd).
Q_LOGGING_CATEGORY(lcEngine, "casalux.engine", QtInfoMsg)

const QString releasedNotice = QStringLiteral(
    "Casalux has taken over the X10 interface: switch devices from the desktop program.");
const QString closingNotice =
    QStringLiteral("The Casalux engine is closing: nothing was switched.");
const QString lostNotice = QStringLiteral(
    "The X10 interface is not connected; looking for it again. Devices cannot be switched "
    "until it answers.");

// `detail` is the interface's own account ("... Permission denied").
QString openFailure(int result, int port, const QString& detail)
{
    const QString where =
        QStringLiteral("port %1 (%2)").arg(port).arg(SerialPortMap::devicePath(port));
    const QString said = detail.isEmpty() ? QString() : QStringLiteral(" [%1]").arg(detail);
    const QString why =
        result == InterfaceControl::PortUnusable
            ? QStringLiteral("cannot be opened%1: is the adapter plugged in, and may this user "
                             "use the device?")
                  .arg(said)
            : QStringLiteral("opened, but no X10 interface answered on it%1: is it connected "
                             "and powered?")
                  .arg(said);
    return QStringLiteral("the X10 interface on %1 %2 Trying again every %3 seconds.")
        .arg(where, why)
        .arg(HearthcoreEngine::openRetrySeconds);
}
} // namespace

HearthcoreEngine::HearthcoreEngine(const QString& programFolder, SettingsStore& settings,
                                   InterfaceControl& control, QObject* parent)
    : QObject(parent), m_folder(programFolder), m_settings(settings), m_control(control),
      m_commands(control, m_silent, CommandPolicy::engine()), m_status(settings),
      m_events(programFolder, m_filebusy),
      m_scheduler(m_events, settings, m_commands, m_status, m_silent, SchedulerPolicy::engine()),
      m_server({programFolder, settings, m_commands, m_status, m_silent}), m_reconnector(control),
      m_rooms(programFolder), m_outside(m_rooms, settings, m_commands, m_status),
      m_controlServer({programFolder, settings, control, m_outside, QStringLiteral("engine")}),
      m_traffic(control, m_rooms, m_commands, m_status, m_silent),
      m_mqtt(QStringLiteral("engine"), settings, m_outside, m_status, control)
{
    m_scheduler.setQuitHook([this] { Q_EMIT quitRequested(); });
    // After the hand-over a click on a page must not pass for a switch, nor
    // may one start while the engine is ending.
    const auto gate = [this] {
        if (m_released || m_releasing)
            return releasedNotice;
        return m_stopping ? closingNotice : QString();
    };
    m_server.setCommandGate(gate);
    m_outside.setGate(gate);
    m_server.setPageNotice([this] { return m_control.isLost() ? lostNotice : QString(); });
    connect(&m_control, &InterfaceControl::lost, this, [this] {
        qCWarning(lcEngine).noquote()
            << "X10 interface on port" << m_control.port() << "lost; looking for it again every"
            << InterfaceReconnector::retrySeconds << "seconds";
    });
    connect(&m_control, &InterfaceControl::found, this, [this] {
        qCInfo(lcEngine).noquote() << "X10 interface on port" << m_control.port() << "found again";
    });
    const auto watch = [this] {
        if (!m_releasing && !m_released && !m_stopping)
            watchHandOver();
    };
    connect(&m_timer1, &QTimer::timeout, this, watch);
    connect(&m_settingsWatch, &QFileSystemWatcher::directoryChanged, this, watch);
    connect(&m_settingsWatch, &QFileSystemWatcher::fileChanged, this, watch);
}

// The desktop program asks for the interface by writing closeengine to the
// shared settings file. Watching the file's folder for changes notices that
// at once, and an idle engine sleeps meanwhile; a system without change
// notifications is polled every five seconds.
void HearthcoreEngine::startHandOverWatch()
{
    const QFileInfo file(m_settings.machineFile());
    if (m_settingsWatch.addPath(file.absolutePath())) {
        if (file.exists())
            m_settingsWatch.addPath(file.absoluteFilePath());
        return;
    }
    m_timer1.start(Clock::instance().interval(watchIntervalMs));
}

void HearthcoreEngine::stopHandOverWatch()
{
    m_timer1.stop();
    if (const QStringList watched = m_settingsWatch.files() + m_settingsWatch.directories();
        !watched.isEmpty())
        m_settingsWatch.removePaths(watched);
}

QCoro::Task<bool> HearthcoreEngine::start()
{
    QPointer<HearthcoreEngine> self(this);
    auto starting = m_starting.tryTake();
    m_settings.write(settingkeys::closeengine, QStringLiteral("False"));
    startHandOverWatch();
    if (m_settings.read(settingkeys::startupDelay) == QLatin1String("delayed")) {
        for (int i = 0; i < delaySeconds && self && !startAbandoned(); ++i)
            co_await waitseconds(1);
    }
    if (!self || m_stopping)
        co_return false;
    if (!startAbandoned()) {
        // (GCC 12 mis-compiles co_await inside a short-circuit condition.)
        const bool found = co_await findinterface();
        if (!self || m_stopping || !found)
            co_return false;
    }
    // Also after a hand-over during start-up: the pages then say who has
    // the interface.
    m_server.startserver();
    co_return true;
}

// Only the stored port: "none" means the desktop program never found one,
// and the engine has nothing to drive. A port that does not open now may
// open later (an adapter plugged in late, a permission being granted), so
// the engine keeps trying rather than serving pages that switch nothing.
// True when the start-up goes on: the interface is open, or the desktop
// program has asked for it meanwhile.
QCoro::Task<bool> HearthcoreEngine::findinterface()
{
    QPointer<HearthcoreEngine> self(this);
    const std::optional<int> port = InterfaceFinder::savedPort(m_settings);
    if (!port)
        co_return false;
    m_control.setPort(*port);
    int lastFailure = InterfaceControl::Ready;
    for (;;) {
        const bool asked = co_await handOverAsked();
        if (!self)
            co_return false;
        if (asked || startAbandoned())
            co_return true;
        m_opening = true;
        const int result = co_await m_control.open();
        if (!self)
            co_return false;
        m_opening = false;
        if (startAbandoned()) {
            // Asked for the port (or to end) while opening it: the port
            // must not stay open behind the hand-over.
            m_control.close();
            co_return true;
        }
        if (result == InterfaceControl::Ready) {
            if (lastFailure != InterfaceControl::Ready)
                qCWarning(lcEngine).noquote()
                    << QStringLiteral("the X10 interface on port %1 answered.").arg(*port);
            m_open = true;
            InterfaceFinder::claim(m_control, m_settings, *port);
            m_rooms.loadlists(); // for the traffic from wall switches
            m_mqtt.start();
            m_scheduler.armEventTimer();
            m_scheduler.armRemovalTimer();
            m_controlServer.start();
            co_return true;
        }
        // Said once per kind of failure, not at every try.
        if (result != lastFailure)
            qCWarning(lcEngine).noquote() << openFailure(result, *port, m_control.failureText());
        lastFailure = result;
        m_control.close();
        for (int i = 0; i < openRetrySeconds && !startAbandoned(); ++i) {
            co_await waitseconds(1);
            if (!self)
                co_return false;
        }
    }
}

// The desktop program writes the flag from its own process: read it before
// the port is taken, not only at the next watch tick.
QCoro::Task<bool> HearthcoreEngine::handOverAsked()
{
    m_settings.sync();
    if (m_settings.read(settingkeys::closeengine) != QLatin1String("True"))
        co_return false;
    co_await release();
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
    m_controlServer.stop(); // the desktop program serves it once it holds the port
    m_scheduler.stop();
    // The port is the desktop program's from now on, found again or not.
    m_reconnector.stop();
    // A minute tick or a removal may be reading or rewriting the event list:
    // the interface goes only once that is done.
    auto hold = co_await m_filebusy.take(1);
    if (!self)
        co_return;
    // An open under way at start-up closes the port itself when it returns.
    while (m_opening) {
        co_await Clock::instance().sleep(0.1);
        if (!self)
            co_return;
    }
    m_control.close();
    m_open = false;
    m_released = true;
    m_releasing = false;
    stopHandOverWatch();
    // The program taking the interface over connects to the hub.
    co_await m_mqtt.stop();
}

QCoro::Task<> HearthcoreEngine::shutdown()
{
    if (m_stopping)
        co_return;
    m_stopping = true;
    QPointer<HearthcoreEngine> self(this);
    m_controlServer.stop();
    m_scheduler.stop();
    stopHandOverWatch();
    // A command on the line (a minute tick holds filebusy while it sends), a
    // command from a page, a release or a start-up under way: each is let to
    // finish, for a few seconds at most.
    // (Named, not a temporary: GCC 12 destroys temporaries of a co_await
    // expression twice.)
    const std::function<bool()> settled = [self] {
        return !self ||
               (!self->m_server.serving() && !self->m_outside.busy() &&
                !self->m_filebusy.isHeld() && !self->m_releasing && !self->m_starting.isHeld());
    };
    co_await SettleWait::until(settled);
    if (!self)
        co_return;
    m_control.close();
    m_open = false;
    co_await m_mqtt.stop();
    if (!self)
        co_return;
    m_server.stopserver();
}

} // namespace casalux
