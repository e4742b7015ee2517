#include "interfacefinder.h"

#include "interfacecontrol.h"
#include "home/settingsstore.h"
#include "platform/clock.h"
#include "platform/prompts.h"
#include "platform/statussink.h"

namespace casalux {

InterfaceFinder::InterfaceFinder(InterfaceControl& control, SettingsStore& settings,
                                 StatusSink& status, Prompts& prompts)
    : m_control(control), m_settings(settings), m_status(status), m_prompts(prompts)
{
}

void InterfaceFinder::setBusy(bool busy)
{
    if (m_hooks.setBusy)
        m_hooks.setBusy(busy);
}

std::optional<int> InterfaceFinder::savedPort(const SettingsStore& settings)
{
    bool numeric = false;
    const int port = settings.read(settingkeys::port).toInt(&numeric);
    if (!numeric || port < firstPort || port > lastPort)
        return std::nullopt;
    return port;
}

std::optional<QString> InterfaceFinder::savedDevicePath(const SettingsStore& settings)
{
    const QString stored = settings.read(settingkeys::port).trimmed();
    if (!stored.startsWith(QLatin1Char('/')))
        return std::nullopt;
    return stored;
}

bool InterfaceFinder::useSavedPort(InterfaceControl& control, const SettingsStore& settings)
{
    if (const auto port = savedPort(settings)) {
        control.setPort(*port);
        return true;
    }
    if (const auto path = savedDevicePath(settings)) {
        control.setDevicePath(*path);
        return true;
    }
    return false;
}

void InterfaceFinder::claim(InterfaceControl& control, SettingsStore& settings, int port)
{
    control.setNumericOption(4);
    control.setOwnerName(QStringLiteral("Casalux"));
    settings.write(settingkeys::port, port > 0 ? QString::number(port) : control.portText());
}

QCoro::Task<bool> InterfaceFinder::searchPorts(InterfaceControl& control, int skipPort,
                                               std::function<bool()> stopped,
                                               std::function<void(int port)> trying)
{
    for (int port = firstPort; port <= lastPort; ++port) {
        if (port == skipPort)
            continue;
        if (stopped())
            co_return false;
        if (trying)
            trying(port);
        control.close(); // let go of the port tried before
        control.setPort(port);
        const int result = co_await control.open();
        if (stopped()) {
            control.close();
            co_return false;
        }
        if (result == InterfaceControl::Ready)
            co_return true;
    }
    control.close();
    co_return false;
}

QCoro::Task<bool> InterfaceFinder::findinterface()
{
    if (m_stopped)
        co_return false;
    // Counted while it runs, so that shut-down can wait for the port to be
    // let go before it closes it and starts the engine.
    struct Searching {
        int& count;
        explicit Searching(int& c) : count(c) { ++count; }
        ~Searching() { --count; }
    } searching(m_searching);
    const bool found = co_await find();
    if (m_stopped)
        setBusy(false);
    co_return found && !m_stopped;
}

bool InterfaceFinder::stoppedAfterOpen()
{
    if (!m_stopped)
        return false;
    m_control.close();
    return true;
}

QCoro::Task<bool> InterfaceFinder::find()
{
    setBusy(true);
    m_status.setStatus(StatusSink::Activity,
                       QStringLiteral("Please wait, connecting to X10 Interface"));

    if (!useSavedPort(m_control, m_settings))
        co_return co_await search(0); // "none", or nothing usable saved
    const int saved = m_control.port(); // 0 for a device path

    int result = co_await m_control.open();
    if (stoppedAfterOpen())
        co_return false;
    if (result == InterfaceControl::Ready) {
        found();
        co_return true;
    }
    if (result == InterfaceControl::PortUnusable)
        co_return co_await search(saved);

    for (int tries = 1; tries < savedPortTries; ++tries) {
        co_await waitseconds(retryWaitSeconds);
        if (m_stopped)
            co_return false;
        result = co_await m_control.open();
        if (stoppedAfterOpen())
            co_return false;
        if (result == InterfaceControl::Ready) {
            found();
            co_return true;
        }
    }
    co_await m_prompts.message(
        QStringLiteral("ERROR: Could not initialize your X10 Home Control unit. Please double "
                       "check that you have selected the correct comm port for the unit and that "
                       "it is plugged in and has backup batteries installed."),
        QStringLiteral("Error"), Prompts::Icon::Critical);
    m_settings.write(settingkeys::port, m_control.portText());
    m_status.setStatus(StatusSink::Activity,
                       QStringLiteral("ERROR! Could not find your X10 Interface"));
    m_control.close();
    if (m_hooks.endProgram)
        m_hooks.endProgram();
    co_return false;
}

QCoro::Task<bool> InterfaceFinder::search(int skipPort)
{
    // (Named, not temporaries: GCC 12 destroys temporaries of a co_await
    // expression twice.)
    const std::function<bool()> stopped = [this] { return m_stopped; };
    const std::function<void(int)> trying = [this](int port) {
        m_status.setStatus(StatusSink::Activity,
                           QStringLiteral("Please wait, looking for interface on com port ") +
                               QString::number(port));
    };
    const bool answered = co_await searchPorts(m_control, skipPort, stopped, trying);
    if (m_stopped)
        co_return false;
    if (answered) {
        found();
        co_return true;
    }
    setBusy(false);
    co_await m_prompts.message(
        QStringLiteral("Sorry, Could not find a CM11 or CM12 Home Control Interface on any of your "
                       "computer ports. Cant control your interface until it`s sorted."),
        QStringLiteral("ERROR!"), Prompts::Icon::Critical);
    co_return false;
}

void InterfaceFinder::found()
{
    m_ready = true;
    m_status.setStatus(StatusSink::Ready, QStringLiteral("STATUS: Ready"));
    claim(m_control, m_settings, m_control.port());
    const QString foundText =
        QStringLiteral("Found and Initialized Interface on com port ") + m_control.portText();
    m_status.setStatus(StatusSink::Activity, foundText);
    setBusy(false);
    // The first minute tick falls on the next whole minute.
    const int eventTimerMs = (60 - Clock::instance().now().time().second()) * 1000;
    if (m_hooks.armTimers)
        m_hooks.armTimers(eventTimerMs);
    m_status.setStatus(StatusSink::Activity,
                       foundText + QStringLiteral(", timer ") + QString::number(eventTimerMs));
}

QCoro::Task<bool> InterfaceFinder::autodetect()
{
    if (!m_control.close()) {
        co_await waitseconds(1);
        m_control.close();
    }
    m_ready = false;
    m_settings.write(settingkeys::port, QStringLiteral("none"));
    co_return co_await findinterface();
}

QCoro::Task<bool> InterfaceFinder::manualport()
{
    const auto answer = co_await m_prompts.input(
        QStringLiteral("Please enter the port number that your X10 interface is connected to"),
        QStringLiteral("X10 Interface"), QStringLiteral("2"));
    if (!answer)
        co_return false; // cancelled: nothing changes
    bool numeric = false;
    const int port = answer->trimmed().toInt(&numeric);
    if (!numeric || port < firstPort || port > lastPort) {
        co_await m_prompts.message(QStringLiteral("Sorry, that was a silly number. Please try again"),
                                   QStringLiteral("Error"), Prompts::Icon::Critical);
        co_return false;
    }
    m_control.close();
    m_ready = false;
    m_settings.write(settingkeys::port, QString::number(port));
    co_return co_await findinterface();
}

} // namespace casalux
