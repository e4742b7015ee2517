#include "voicecommandhandler.h"

#include "home/roomlist.h"
#include "home/settingsstore.h"
#include "platform/clock.h"
#include "platform/statussink.h"
#include "speechagent.h"
#include "x10/devicecommands.h"

namespace casalux {

namespace {

// What a device command's name asks for, and of which address.
struct Switch {
    enum Kind { On, Off, Dim, Bright } kind;
    QString house;
    QString unit;
};

std::optional<Switch> parseName(const QString& name)
{
    static const struct {
        const char* prefix;
        Switch::Kind kind;
    } kinds[] = {{"on~", Switch::On},
                 {"off~", Switch::Off},
                 {"dim~", Switch::Dim},
                 {"bright~", Switch::Bright}};
    for (const auto& k : kinds) {
        const QLatin1String prefix(k.prefix);
        if (!name.startsWith(prefix))
            continue;
        const QString address = name.mid(prefix.size());
        bool numeric = false;
        const int unit = address.mid(1).toInt(&numeric);
        if (address.isEmpty() || !numeric || unit < 1 || unit > 16)
            return std::nullopt;
        return Switch{k.kind, address.left(1).toUpper(), QString::number(unit)};
    }
    return std::nullopt;
}

} // namespace

VoiceCommandHandler::VoiceCommandHandler(SpeechAgent& agent, SettingsStore& settings,
                                         DeviceCommands& commands, DeviceStatus& status,
                                         RoomList& rooms, StatusSink& statusBar, QObject* parent)
    : QObject(parent), m_agent(agent), m_settings(settings), m_commands(commands),
      m_switch(commands, status), m_rooms(rooms), m_statusBar(statusBar)
{
    m_timerhide.setSingleShot(true);
    connect(&m_timerhide, &QTimer::timeout, this, [this] { m_agent.hide(); });
    connect(&m_agent, &SpeechAgent::listeningStarted, this, [this] { listeningStarted(); });
    connect(&m_agent, &SpeechAgent::command, this,
            [this](const QString& name) {
                if (m_launch)
                    m_launch(runCommand(name));
                else
                    runCommand(name);
            });
}

bool VoiceCommandHandler::initagent()
{
    if (!m_agent.loadCharacter(m_settings.read(settingkeys::lastCharacter))) {
        m_statusBar.setStatus(
            StatusSink::Activity,
            QStringLiteral("Cannot load MsAgent Character, see help file for more."));
        return false;
    }
    m_agent.setCommands(QStringLiteral("Casalux"), {});
    m_statusBar.setStatus(StatusSink::Activity, QStringLiteral("MsAgent Character has loaded"));
    return true;
}

bool VoiceCommandHandler::speechLoaded() const
{
    return m_agent.loaded();
}

void VoiceCommandHandler::registerCommands()
{
    if (m_agent.loaded())
        m_agent.setCommands(QStringLiteral("Casalux"), VoiceCommand::forHome(m_rooms.records()));
}

void VoiceCommandHandler::listeningStarted()
{
    if (m_showReminder)
        m_showReminder();
    m_statusBar.setStatus(StatusSink::Activity,
                          QStringLiteral("PLEASE SPEAK YOUR COMMAND CLEARLY"));
    m_timerhide.start(Clock::instance().interval(hideAfterMs));
}

QCoro::Task<> VoiceCommandHandler::runCommand(QString name)
{
    if (name == QLatin1String("Properties")) {
        m_agent.showProperties();
        co_return;
    }
    if (name == QLatin1String("repeat"))
        name = m_last;
    else
        m_last = name;
    co_await switchDevice(name);
}

QCoro::Task<> VoiceCommandHandler::switchDevice(QString name)
{
    const auto request = parseName(name);
    if (!request)
        co_return;
    const QString& house = request->house;
    const QString& unit = request->unit;
    // A dim or bright step leaves the level unknown: nothing is recorded.
    if (request->kind == Switch::Dim) {
        co_await m_commands.turndim(house, unit);
        co_return;
    }
    if (request->kind == Switch::Bright) {
        co_await m_commands.turnbright(house, unit);
        co_return;
    }
    // Every device at the address follows, so the pictures of the room view
    // and the web pages show what was just switched.
    QStringList keys;
    for (const RoomRecord& device : m_rooms.devicesAt(house, unit.toInt()))
        keys.append(device.deviceKey());
    co_await m_switch.switchTo(house, unit, request->kind == Switch::On,
                               static_cast<int>(DeviceCommands::percentOf(QString())), keys);
}

} // namespace casalux
