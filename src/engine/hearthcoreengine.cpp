#include "hearthcoreengine.h"

#include "home/settingsstore.h"
#include "platform/clock.h"
#include "platform/settlewait.h"
#include "servlane.h"
#include "x10/interfacecontrol.h"
#include "x10/interfacefinder.h"
#include "x10/serialportmap.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QPointer>
#include <qcoro/qcorosignal.h>

namespace casalux {

namespace {
// On by default: these lines are the engine's log (stderr, the journal
// under systemd).
Q_LOGGING_CATEGORY(lcEngine, "casalux.engine", QtInfoMsg)

const QString releasedNotice = QStringLiteral(
    "Casalux has taken over the X10 interface: switch devices from the desktop program.");
const QString closingNotice =
    QStringLiteral("The Casalux engine is closing: nothing was switched.");
const QString missingNotice = QStringLiteral(
    "No X10 interface found yet. Check that the CM11A is plugged into a serial port or a "
    "USB-serial adapter and into the mains, and that the engine may use the port (its user in "
    "group dialout). Casalux looks for it again every 30 seconds and when a serial device "
    "appears. To name its port, run: casaluxctl port N (1 to 15) or casaluxctl port "
    "/dev/serial/by-id/...");
const QString missingLine = QStringLiteral(
    "no X10 interface found on ports 1 to 15 and no port is stored; the pages say so meanwhile. "
    "Looking again every 30 seconds and when a serial device appears. Plug the interface in, or "
    "name its port: casaluxctl port N|DEVICE");

// `detail` is the interface's own account ("... Permission denied").
QString openFailure(int result, const InterfaceControl& control, const QString& detail)
{
    const QString where = control.port() > 0 ? QStringLiteral("port %1 (%2)")
                                                   .arg(control.port())
                                                   .arg(control.devicePath())
                                             : control.devicePath();
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

// Where a serial device shows up: the folders of the ports' devices (an
// override may point elsewhere) and the stable by-id links.
QStringList deviceFolders()
{
    QStringList folders{QStringLiteral("/dev/serial/by-id")};
    for (int port = SerialPortMap::FirstPort; port <= SerialPortMap::LastPort; ++port)
        folders.append(QFileInfo(SerialPortMap::devicePath(port)).absolutePath());
    folders.removeDuplicates();
    folders.removeIf([](const QString& folder) { return !QFileInfo(folder).isDir(); });
    return folders;
}
} // namespace

HearthcoreEngine::HearthcoreEngine(const QString& programFolder, SettingsStore& settings,
                                   InterfaceControl& control, QObject* parent)
    : QObject(parent), m_folder(programFolder), m_settings(settings), m_control(control),
      m_core(programFolder, settings, control,
             {.holder = QStringLiteral("engine"),
              .commands = CommandPolicy::engine(),
              .scheduler = SchedulerPolicy::engine(),
              // After the hand-over a click on a page must not pass for a
              // switch, nor may one start while the engine is ending.
              .gate =
                  [this] {
                      if (m_released || m_releasing)
                          return releasedNotice;
                      return m_stopping ? closingNotice : QString();
                  },
              .log = &lcEngine()})
{
    m_core.scheduler.setQuitHook([this] { Q_EMIT quitRequested(); });
    watchForChanges();
    const auto watch = [this] {
        if (!m_releasing && !m_released && !m_stopping)
            watchHandOver();
    };
    connect(&m_handOverPoll, &QTimer::timeout, this, watch);
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
    m_handOverPoll.start(Clock::instance().interval(watchIntervalMs));
}

void HearthcoreEngine::stopHandOverWatch()
{
    m_handOverPoll.stop();
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
    m_core.server.startserver();
    co_return true;
}

// The stored port (a number or a device path) is tried until it opens: an
// adapter plugged in late, or a permission being granted, makes it usable
// later. With none stored the engine sets itself up: it searches the ports
// as the desktop program's auto-detect does, and while nothing answers it
// serves the pages with a notice saying what is missing, and searches again
// every 30 seconds, when a serial device appears or when a port is stored.
// True when the start-up goes on: the interface is open, or the desktop
// program has asked for it meanwhile.
QCoro::Task<bool> HearthcoreEngine::findinterface()
{
    QPointer<HearthcoreEngine> self(this);
    int lastFailure = InterfaceControl::Ready;
    bool toldMissing = false;
    for (;;) {
        const bool asked = co_await handOverAsked();
        if (!self)
            co_return false;
        if (asked || startAbandoned())
            co_return true;
        m_wake = false;
        const bool stored = InterfaceFinder::useSavedPort(m_control, m_settings);
        m_opening = true;
        int result = InterfaceControl::PortUnusable;
        if (stored) {
            result = co_await m_control.open();
        } else {
            // (Named, not a temporary: GCC 12 destroys temporaries of a
            // co_await expression twice.)
            const std::function<bool()> stopped = [self] {
                return !self || self->startAbandoned();
            };
            const bool answered = co_await InterfaceFinder::searchPorts(m_control, 0, stopped);
            result = answered ? InterfaceControl::Ready : InterfaceControl::PortUnusable;
        }
        if (!self)
            co_return false;
        m_opening = false;
        Q_EMIT openReturned();
        if (startAbandoned()) {
            // Asked for the port (or to end) while opening it: the port
            // must not stay open behind the hand-over.
            m_control.close();
            co_return true;
        }
        if (result == InterfaceControl::Ready) {
            if (lastFailure != InterfaceControl::Ready || toldMissing)
                qCWarning(lcEngine).noquote() << QStringLiteral("the X10 interface on port %1 answered.")
                                                     .arg(m_control.portText());
            m_open = true;
            m_core.setSetupNotice(QString());
            InterfaceFinder::claim(m_control, m_settings, m_control.port());
            m_core.rooms.loadlists(); // for the traffic from wall switches
            m_core.scheduler.armRemovalTimer();
            m_core.goLive();
            co_return true;
        }
        m_control.close();
        int waitSeconds = openRetrySeconds;
        if (stored) {
            // Said once per kind of failure, not at every try.
            if (result != lastFailure)
                qCWarning(lcEngine).noquote()
                    << openFailure(result, m_control, m_control.failureText());
            lastFailure = result;
        } else {
            if (!std::exchange(toldMissing, true))
                qCWarning(lcEngine).noquote() << missingLine;
            m_core.setSetupNotice(missingNotice);
            // The pages are what a user without a screen sees first.
            m_core.server.startserver();
            waitSeconds = searchAgainSeconds;
        }
        for (int i = 0; i < waitSeconds && !startAbandoned() && !m_wake; ++i) {
            co_await waitseconds(1);
            if (!self)
                co_return false;
        }
    }
}

QString HearthcoreEngine::hubSettings() const
{
    QStringList values;
    for (const SettingKey* key :
         {&settingkeys::mqtthost, &settingkeys::mqttport, &settingkeys::mqttuser,
          &settingkeys::mqttpassword, &settingkeys::mqtttls, &settingkeys::mqttprefix,
          &settingkeys::mqttdiscovery})
        values << m_settings.read(*key);
    values << QFileInfo(m_core.rooms.path()).lastModified().toString(Qt::ISODateWithMs);
    return values.join(QChar(0));
}

void HearthcoreEngine::watchForChanges()
{
    m_hubSettings = hubSettings();
    // The folder holds machine.ini, which casaluxctl rewrites (renames a
    // new file over it) to store a port or a web port.
    m_watch.addPath(m_folder);
    if (const QStringList devices = deviceFolders(); !devices.isEmpty())
        m_watch.addPaths(devices);
    connect(&m_watch, &QFileSystemWatcher::directoryChanged, this, [this] {
        m_settings.sync();
        // A port stored, or a device appearing, ends the wait at once.
        if (!m_open)
            m_wake = true;
        // The hub's settings, or the home's devices, changed: the bridge
        // starts again with them.
        if (const QString hub = hubSettings(); hub != m_hubSettings) {
            m_hubSettings = hub;
            if (m_open)
                m_core.mqtt.restart();
        }
        // A new web port takes effect at once.
        const QString webport = m_settings.read(settingkeys::webport);
        RemoteServer& server = m_core.server;
        if (server.web().ServerRunning() && server.web().ServerPort() != webport) {
            server.stopserver();
            server.startserver();
        }
    });
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
    // The port is the desktop program's from now on, found again or not.
    m_core.stopTakingWork();
    // A minute tick or a removal may be reading or rewriting the event list:
    // the interface goes only once that is done.
    auto hold = co_await m_core.filebusy.take();
    if (!self)
        co_return;
    // An open under way at start-up closes the port itself when it returns.
    if (m_opening) {
        co_await qCoro(this, &HearthcoreEngine::openReturned);
        if (!self)
            co_return;
    }
    m_control.close();
    m_open = false;
    m_released = true;
    m_releasing = false;
    stopHandOverWatch();
    // The program taking the interface over connects to the hub.
    co_await m_core.mqtt.stop();
}

QCoro::Task<> HearthcoreEngine::shutdown()
{
    if (m_stopping)
        co_return;
    m_stopping = true;
    QPointer<HearthcoreEngine> self(this);
    stopHandOverWatch();
    // A release or a start-up under way is let to finish too.
    // (Named, not a temporary: GCC 12 destroys temporaries of a co_await
    // expression twice.)
    const std::function<bool()> busy = [self] {
        return self && (self->m_releasing || self->m_starting.isHeld());
    };
    co_await m_core.shutDown(busy);
    if (!self)
        co_return;
    m_control.close();
    m_open = false;
}

} // namespace casalux
