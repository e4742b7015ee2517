#include "setupcommand.h"

#include "home/devicetype.h"
#include "home/roomlist.h"
#include "home/roomlisteditor.h"
#include "home/settingsstore.h"
#include "platform/busymark.h"
#include "platform/statussink.h"
#include "remote/weboptions.h"
#include "schedule/homerenamer.h"
#include "schedule/sunrisecalculator.h"
#include "terminalprompts.h"
#include "x10/serialportmap.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace casalux {

namespace {

const QStringList commands{"port",       "webport", "login", "mqtt",  "city",
                           "summertime", "rooms",   "room",  "device"};

int refuse(const QString& why)
{
    std::fprintf(stderr, "casaluxctl: %s\n", qPrintable(why.simplified()));
    return 2;
}

void say(const QString& text)
{
    std::printf("%s\n", qPrintable(text));
}

void print(const QJsonObject& object)
{
    std::fputs(QJsonDocument(object).toJson(QJsonDocument::Indented).constData(), stdout);
}

// A value read: as JSON, or the text alone.
int show(bool json, const char* name, const QString& value)
{
    if (json)
        print({{QLatin1String(name), value}});
    else
        say(value);
    return 0;
}

// Writes a setting; false (and why, on standard error) when the file could
// not be written.
bool store(SettingsStore& settings, const SettingKey& key, const QString& value)
{
    if (settings.write(key, value))
        return true;
    refuse(QStringLiteral("could not write %1: nothing changed").arg(settings.machineFile()));
    return false;
}

// One line from the terminal, not echoed.
std::optional<QString> askHidden(const char* prompt)
{
    const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    termios saved{};
    const bool terminal = ::tcgetattr(fd, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    (void)!::write(fd, prompt, std::strlen(prompt));
    std::string line;
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n')
        line.push_back(c);
    (void)!::write(fd, "\n", 1);
    if (terminal)
        ::tcsetattr(fd, TCSAFLUSH, &saved);
    ::close(fd);
    return QString::fromLocal8Bit(line.c_str());
}

// The hub's settings by the names the command line uses.
const SettingKey* mqttKey(const QString& name)
{
    static const std::pair<const char*, const SettingKey*> keys[] = {
        {"host", &settingkeys::mqtthost},
        {"port", &settingkeys::mqttport},
        {"user", &settingkeys::mqttuser},
        {"password", &settingkeys::mqttpassword},
        {"tls", &settingkeys::mqtttls},
        {"prefix", &settingkeys::mqttprefix},
        {"discovery", &settingkeys::mqttdiscovery}};
    for (const auto& [key, setting] : keys) {
        if (name == QLatin1String(key))
            return setting;
    }
    return nullptr;
}

QCoro::Task<int> port(SettingsStore& settings, const QStringList& args, bool json)
{
    if (args.isEmpty())
        co_return show(json, "port", settings.read(settingkeys::port));
    const QString asked = args[0];
    QString value;
    if (asked == QLatin1String("auto")) {
        value = QStringLiteral("none");
    } else if (asked.startsWith(QLatin1Char('/'))) {
        if (!QFileInfo::exists(asked))
            co_return refuse(QStringLiteral("no device %1: is the adapter plugged in? "
                                            "(ls /dev/serial/by-id/)")
                                 .arg(asked));
        value = asked;
    } else {
        bool numeric = false;
        const int n = asked.toInt(&numeric);
        if (!numeric || n < SerialPortMap::FirstPort || n > SerialPortMap::LastPort)
            co_return refuse(QStringLiteral("Sorry, that was a silly number. Please try again"));
        value = QString::number(n);
    }
    if (!store(settings, settingkeys::port, value))
        co_return 2;
    say(value == QLatin1String("none")
            ? QStringLiteral("The X10 interface is looked for on ports 1 to 15.")
            : QStringLiteral("The X10 interface port is now %1.").arg(value));
    say(QStringLiteral("A running engine that has no interface yet tries it at once; a program "
                       "that holds the interface keeps its port until it is started again "
                       "(sudo systemctl restart hearthcore)."));
    co_return 0;
}

QCoro::Task<int> mqtt(SettingsStore& settings, const QStringList& args, bool json)
{
    static const char* names[] = {"host", "port", "user", "password", "tls", "prefix", "discovery"};
    if (args.isEmpty()) {
        QJsonObject all;
        for (const char* name : names) {
            const QString value = settings.read(*mqttKey(QLatin1String(name)));
            const bool secret = QLatin1String(name) == QLatin1String("password");
            all.insert(QLatin1String(name),
                       secret && !value.isEmpty() ? QStringLiteral("****") : value);
        }
        if (json) {
            print(all);
        } else {
            for (const char* name : names)
                say(QStringLiteral("%1 %2").arg(QLatin1String(name),
                                                all.value(QLatin1String(name)).toString()));
        }
        co_return 0;
    }
    const SettingKey* key = mqttKey(args[0]);
    if (!key || args.size() != 2)
        co_return refuse(QStringLiteral("usage: casaluxctl mqtt "
                                        "host|port|user|password|tls|prefix|discovery VALUE"));
    QString value = args[1].trimmed();
    if (key == &settingkeys::mqttport) {
        bool ok = false;
        const int n = value.toInt(&ok);
        if (!ok || n < 1 || n > 65535)
            co_return refuse(QStringLiteral("the MQTT port must be a number from 1 to 65535"));
        value = QString::number(n);
    } else if (key == &settingkeys::mqtttls) {
        const QString v = value.toLower();
        if (v != QLatin1String("on") && v != QLatin1String("off") && v != QLatin1String("true") &&
            v != QLatin1String("false"))
            co_return refuse(QStringLiteral("tls is on or off"));
        value = v == QLatin1String("on") || v == QLatin1String("true") ? QStringLiteral("True")
                                                                       : QStringLiteral("False");
    } else if (key != &settingkeys::mqttpassword) {
        value = args[1].trimmed();
    } else {
        value = args[1];
    }
    if (!store(settings, *key, value))
        co_return 2;
    say(QStringLiteral("Saved; a running engine connects to the hub with it at once."));
    co_return 0;
}

QCoro::Task<int> city(SettingsStore& settings, const QStringList& args, bool json)
{
    if (args.isEmpty())
        co_return show(json, "city", settings.read(settingkeys::city));
    const QString asked = args.join(QLatin1Char(' ')).simplified();
    for (int i = 0; i < SunriseCalculator::CityCount(); ++i) {
        const QString line = SunriseCalculator::cityLine(i);
        const QString name = line.section(QLatin1Char(','), 0, 0);
        const QString nameAndRegion = line.section(QLatin1Char(','), 0, 1);
        if (asked.compare(name, Qt::CaseInsensitive) == 0 ||
            asked.compare(nameAndRegion, Qt::CaseInsensitive) == 0 ||
            asked.compare(line, Qt::CaseInsensitive) == 0) {
            if (!store(settings, settingkeys::city, line))
                co_return 2;
            say(line);
            co_return 0;
        }
    }
    QStringList names;
    for (int i = 0; i < SunriseCalculator::CityCount(); ++i)
        names << SunriseCalculator::cityLine(i).section(QLatin1Char(','), 0, 0);
    co_return refuse(QStringLiteral("no city \"%1\" in the table; it has: %2")
                         .arg(asked, names.join(QLatin1String(", "))));
}

QCoro::Task<int> summertime(SettingsStore& settings, const QStringList& args, bool json)
{
    if (args.isEmpty())
        co_return show(json, "summertime",
                       settings.read(settingkeys::dst) == QLatin1String("1")
                           ? QStringLiteral("on")
                           : QStringLiteral("off"));
    if (args.size() != 1 || (args[0] != QLatin1String("on") && args[0] != QLatin1String("off")))
        co_return refuse(QStringLiteral("usage: casaluxctl summertime on|off"));
    co_return store(settings, settingkeys::dst,
                    args[0] == QLatin1String("on") ? QStringLiteral("1") : QStringLiteral("0"))
        ? 0
        : 2;
}

int rooms(const QString& folder, const SettingsStore& settings, bool json)
{
    RoomList list(folder);
    list.loadlists();
    QJsonArray all;
    for (const QString& room : list.rooms()) {
        QJsonArray devices;
        for (const RoomRecord& d : list.devicesIn(room))
            devices.append(QJsonObject{
                {QStringLiteral("name"), d.device},
                {QStringLiteral("address"), d.address()},
                {QStringLiteral("kind"), DeviceType::storedFamily(settings, d.deviceKey())}});
        all.append(
            QJsonObject{{QStringLiteral("name"), room}, {QStringLiteral("devices"), devices}});
    }
    if (json) {
        print({{QStringLiteral("rooms"), all}});
        return 0;
    }
    for (const auto& r : all) {
        const QJsonObject room = r.toObject();
        say(room.value(QLatin1String("name")).toString());
        for (const auto& d : room.value(QLatin1String("devices")).toArray()) {
            const QJsonObject device = d.toObject();
            say(QStringLiteral("  %1 %2 %3")
                    .arg(device.value(QLatin1String("name")).toString(),
                         device.value(QLatin1String("address")).toString(),
                         device.value(QLatin1String("kind")).toString()));
        }
    }
    return 0;
}

// Adding, renaming and removing through the window's own editor and its
// checks, so a name the window refuses is refused here with its message.
QCoro::Task<int> editRooms(const QString& folder, SettingsStore& settings, const QString& what,
                           QStringList args)
{
    RoomList list(folder);
    list.loadlists();
    BusyMark filebusy;
    SilentStatus silent;
    TerminalPrompts prompts;
    RoomListEditor editor(list, settings, filebusy, silent, prompts);
    const QString action = args.isEmpty() ? QString() : args.takeFirst();
    const auto hasRoom = [&list](const QString& room) { return list.rooms().contains(room); };
    const auto hasDevice = [&list](const QString& room, const QString& name) {
        const auto devices = list.devicesIn(room);
        return std::any_of(devices.cbegin(), devices.cend(),
                           [&](const RoomRecord& d) { return d.device == name; });
    };
    bool done = false;
    if (what == QLatin1String("room") && action == QLatin1String("add") && args.size() == 1) {
        done = co_await editor.addroom(args[0]);
    } else if (what == QLatin1String("room") && action == QLatin1String("remove") &&
               args.size() == 1) {
        if (!hasRoom(args[0]))
            co_return refuse(QStringLiteral("no room \"%1\" in the home").arg(args[0]));
        prompts.setAnswers({Prompts::Answer::Yes});
        done = co_await editor.deletetree(RoomListEditor::deleteKey, {args[0], {}}) ==
               RoomListEditor::DeleteOutcome::Deleted;
    } else if (what == QLatin1String("room") && action == QLatin1String("rename") &&
               args.size() == 2) {
        if (!hasRoom(args[0]))
            co_return refuse(QStringLiteral("no room \"%1\" in the home").arg(args[0]));
        HomeRenamer renamer(list, settings, filebusy, editor, prompts);
        done = co_await renamer.renameroom(args[0], args[1]);
    } else if (what == QLatin1String("device") && action == QLatin1String("rename") &&
               args.size() == 3) {
        if (!hasDevice(args[0], args[1]))
            co_return refuse(
                QStringLiteral("no device \"%1\" in room \"%2\"").arg(args[1], args[0]));
        HomeRenamer renamer(list, settings, filebusy, editor, prompts);
        done = co_await renamer.renamedevice(args[0], args[1], args[2]);
    } else if (what == QLatin1String("device") && action == QLatin1String("add") &&
               args.size() == 4) {
        if (!hasRoom(args[0]))
            co_return refuse(QStringLiteral("no room \"%1\" in the home: casaluxctl room add "
                                            "\"%1\" first")
                                 .arg(args[0]));
        QString choice;
        for (const QString& c : DeviceType::choices()) {
            if (DeviceType::fromChoice(c) == args[3])
                choice = c;
        }
        if (choice.isEmpty())
            co_return refuse(QStringLiteral("the kind is one of switch (Appliance Module), bulb "
                                            "(Light Module), fan, radio or bulb2 (Lamp Module)"));
        const QString address = args[2].trimmed();
        done = co_await editor.adddevice(args[0], args[1], address.left(1), address.mid(1), choice);
    } else if (what == QLatin1String("device") && action == QLatin1String("remove") &&
               args.size() == 2) {
        if (!hasDevice(args[0], args[1]))
            co_return refuse(
                QStringLiteral("no device \"%1\" in room \"%2\"").arg(args[1], args[0]));
        // Deleted; its events are kept, as the window's default answer.
        prompts.setAnswers({Prompts::Answer::Yes, Prompts::Answer::No});
        done = co_await editor.deletetree(RoomListEditor::deleteKey, {args[1], args[0]}) ==
               RoomListEditor::DeleteOutcome::Deleted;
    } else {
        co_return refuse(QStringLiteral("usage: casaluxctl room add|remove ROOM, casaluxctl room "
                                        "rename ROOM NEW, casaluxctl device add ROOM NAME "
                                        "ADDRESS KIND, casaluxctl device remove ROOM NAME, "
                                        "casaluxctl device rename ROOM NAME NEW"));
    }
    co_return done ? 0 : 2;
}

QCoro::Task<int> login(const QString& folder, SettingsStore& settings, const QStringList& args,
                       SetupCommand::Options options)
{
    TerminalPrompts prompts;
    WebOptions web(folder, settings, prompts);
    if (options.clear) {
        if (!args.isEmpty())
            co_return refuse(QStringLiteral("usage: casaluxctl login --clear"));
        prompts.setAnswers({Prompts::Answer::Yes});
        co_return co_await web.clearLogin() ? 0 : 2;
    }
    if (args.size() != 1)
        co_return refuse(QStringLiteral("usage: casaluxctl login USER [--password-stdin]"));
    QStringList inputs{args[0]};
    if (options.passwordStdin) {
        std::string line;
        std::getline(std::cin, line);
        const QString password = QString::fromLocal8Bit(line.c_str());
        inputs << password << password;
    } else {
        const auto first = askHidden("Password: ");
        if (!first)
            co_return refuse(QStringLiteral("no terminal to ask the password on: give it with "
                                            "--password-stdin"));
        inputs << *first << askHidden("Password again: ").value_or(QString());
    }
    prompts.setInputs(inputs);
    if (co_await web.setLogin())
        co_return 0;
    if (!prompts.refused())
        co_return refuse(QStringLiteral("nothing changed: the user name and the password must "
                                        "not be empty"));
    co_return 2;
}

} // namespace

bool SetupCommand::handles(const QString& command)
{
    return commands.contains(command);
}

const char* SetupCommand::usage()
{
    return "Setting up (what the desktop program's windows do, for a home without a screen):\n"
           "       casaluxctl port [N|DEVICE|auto] [--json]   the X10 interface's port\n"
           "       casaluxctl webport [N] [--json]            the web server's port\n"
           "       casaluxctl login USER [--password-stdin] | login --clear\n"
           "       casaluxctl mqtt [KEY VALUE] [--json]       host port user password tls prefix "
           "discovery\n"
           "       casaluxctl city [\"NAME\"] [--json]       summertime [on|off] [--json]\n"
           "       casaluxctl rooms [--json]\n"
           "       casaluxctl room add|remove ROOM | room rename ROOM NEW\n"
           "       casaluxctl device add ROOM NAME ADDRESS switch|bulb|fan|radio|bulb2\n"
           "       casaluxctl device remove ROOM NAME | device rename ROOM NAME NEW\n";
}

QCoro::Task<int> SetupCommand::run(QString programFolder, QStringList words, Options options)
{
    const auto settings = SettingsStore::forProgramFolder(programFolder);
    const QString command = words.takeFirst();
    if (command == QLatin1String("port"))
        co_return co_await port(*settings, words, options.json);
    if (command == QLatin1String("webport")) {
        if (words.isEmpty())
            co_return show(options.json, "webport", settings->read(settingkeys::webport));
        TerminalPrompts prompts;
        WebOptions web(programFolder, *settings, prompts);
        co_return (co_await web.savePort(words.join(QLatin1Char(' ')))) ? 0 : 2;
    }
    if (command == QLatin1String("login"))
        co_return co_await login(programFolder, *settings, words, options);
    if (command == QLatin1String("mqtt"))
        co_return co_await mqtt(*settings, words, options.json);
    if (command == QLatin1String("city"))
        co_return co_await city(*settings, words, options.json);
    if (command == QLatin1String("summertime"))
        co_return co_await summertime(*settings, words, options.json);
    if (command == QLatin1String("rooms"))
        co_return rooms(programFolder, *settings, options.json);
    co_return co_await editRooms(programFolder, *settings, command, words);
}

} // namespace casalux
