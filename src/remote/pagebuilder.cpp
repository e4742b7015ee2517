#include "pagebuilder.h"

#include "filelookup.h"
#include "filestamp.h"
#include "home/devicestatus.h"
#include "home/devicetype.h"
#include "home/roomlist.h"
#include "home/roomrecord.h"
#include "home/settingsstore.h"
#include "home/textlistfile.h"
#include "namelookupcache.h"
#include "placeholderreplacements.h"

#include <QFile>
#include <QHash>
#include <QStringBuilder>
#include <algorithm>
#include <string_view>
#include <utility>

namespace casalux {

namespace {

void replaceAll(QString& page, const QString& placeholder, const QString& text)
{
    PlaceholderReplacements::replaceAll(page, placeholder, text);
}

QString placeholder(const char* name, int number)
{
    return QLatin1Char('<') + QLatin1String(name) + QString::number(number) + QLatin1Char('>');
}

QString keyOf(QString name)
{
    return name.remove(QLatin1Char(' '));
}

QString escaped(const QString& text)
{
    // Names are shown as typed; markup characters in them must not become markup.
    return text.toHtmlEscaped();
}

// A name as it goes into a link's query: its Latin-1 bytes with everything
// but letters, digits and "-._~" percent-encoded. A quote or "<" can then
// not end the attribute, and an accented letter reaches the server the same
// way from every browser; the request handler decodes it back.
QString linkKey(const QString& text)
{
    return QString::fromLatin1(text.toLatin1().toPercentEncoding());
}

bool hasAngle(const QString& text)
{
    return text.contains(QLatin1Char('<')) || text.contains(QLatin1Char('>'));
}

// A list or template file's lines as TextListFile::readLines splits them
// (at "\n", without the "\r" before it, no line after a final line end),
// as views of its single-byte text: only the lines a builder needs are
// turned into strings. Pages are built on every request.
QList<std::string_view> splitLines(const QByteArray& all)
{
    QList<std::string_view> lines;
    const std::string_view text(all.constData(), size_t(all.size()));
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        const bool last = end == std::string_view::npos;
        if (last)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.append(line);
        start = end + 1;
    }
    return lines;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString latin1(std::string_view bytes)
{
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

// The text before the first "~": the room name of a list line.
std::string_view firstField(std::string_view line)
{
    return line.substr(0, line.find('~'));
}

// A room name of the list file, spaces removed and each character
// case-folded: equal to foldedKey(key) exactly when the name, letter case
// aside, is the room key.
QString foldedRoomKey(std::string_view room)
{
    QString folded;
    folded.reserve(qsizetype(room.size()));
    for (const char c : room) {
        if (c != ' ')
            folded += QChar(uchar(c)).toCaseFolded();
    }
    return folded;
}

QString foldedKey(QStringView key)
{
    QString folded;
    folded.reserve(key.size());
    for (const QChar c : key)
        folded += c.toCaseFolded();
    return folded;
}

} // namespace

// A device line of the list file, with the texts its cell is made of.
struct PageBuilder::Device {
    QString foldedRoom; // the line's room key, folded
    RoomRecord record;
    bool angle = false;
    QString statusName; // room and device name as getlaststatus takes them
    QString deviceKey;
    QString head;    // house~unit~devicekey, the start of its link's query
    QString roomKey; // as written in links
    QString name;    // the device name as shown
};

struct PageBuilder::Kept {
    // A template: where it was found and its text as loaded.
    struct Template {
        NameLookupCache name;
        QString path;
        FileStamp stamp;
        bool valid = false;
        QString text;
    };
    using Device = PageBuilder::Device;
    // The list file and what the builders need of it. The version counts
    // changes of its text.
    struct List {
        FileStamp stamp;
        bool valid = false;
        quint64 version = 0;
        bool exists = false;
        QByteArray text;
        QStringList rooms;
        bool roomsAngle = false;
        QList<Device> devices;
    };
    // A page as the room list step left it, for the page it was given.
    struct Tree {
        bool valid = false;
        quint64 listVersion = 0;
        QString input;
        QString output;
    };
    // Device states and kinds read through the settings store.
    struct Settings {
        bool valid = false;
        quint64 generation = 0;
        FileStamp machine;
        FileStamp user;
        QHash<QString, bool> on;
        QHash<QString, QString> kind;
    };

    Template templates[2];
    List list;
    Tree trees[2];
    Settings settings;

    const List& roomList(const QString& path);
};

const PageBuilder::Kept::List& PageBuilder::Kept::roomList(const QString& path)
{
    const FileStamp stamp = FileStamp::of(path);
    if (list.valid && stamp == list.stamp)
        return list;
    list.stamp = stamp;
    list.valid = stamp.settled();
    const bool exists = stamp.exists();
    const QByteArray text = exists ? readAll(path) : QByteArray();
    if (exists == list.exists && text == list.text && list.version != 0)
        return list; // written again, the same
    ++list.version;
    list.exists = exists;
    list.text = text;
    list.rooms.clear();
    list.roomsAngle = false;
    list.devices.clear();
    for (const std::string_view line : splitLines(list.text)) {
        // A line holding "~~~" names a room before its first "~" (as
        // RoomRecord reads it); other lines with a "~" may be devices.
        if (line.find("~~~") != std::string_view::npos) {
            list.rooms.append(latin1(firstField(line)));
            list.roomsAngle = list.roomsAngle || hasAngle(list.rooms.last());
            continue;
        }
        if (line.find('~') == std::string_view::npos)
            continue;
        if (auto record = RoomRecord::parse(latin1(line)); record && !record->isRoom()) {
            Device device;
            device.foldedRoom = foldedRoomKey(firstField(line));
            device.angle = hasAngle(record->room) || hasAngle(record->device);
            device.statusName = record->room + record->device;
            device.deviceKey = record->deviceKey();
            device.head = record->house + QLatin1Char('~') + QString::number(record->unit) +
                          QLatin1Char('~') + linkKey(device.deviceKey);
            device.roomKey = linkKey(keyOf(record->room));
            device.name = escaped(record->device);
            device.record = std::move(*record);
            list.devices.append(std::move(device));
        }
    }
    return list;
}

PageBuilder::PageBuilder(const QString& programFolder, SettingsStore& settings)
    : m_folder(programFolder), m_settings(settings), m_kept(std::make_unique<Kept>())
{
}

PageBuilder::~PageBuilder() = default;

QString PageBuilder::templateName(Family family)
{
    return family == Family::MediaCenter ? QStringLiteral("wmcindex.html")
                                         : QStringLiteral("index.html");
}

QString PageBuilder::roomButtonAttribute(int slot)
{
    return QStringLiteral(" ID=\"option%1\" class=\"button2\" MCFocusable=\"true\"").arg(slot);
}

QString PageBuilder::moduleAttribute(int module)
{
    return QStringLiteral(" ID=\"module%1\" class=\"imcl1\" MCFocusable=\"true\"").arg(module);
}

void PageBuilder::loadTemplate(Family family, QString& page) const
{
    // The template may have been saved with any letter case; the exact name
    // wins, so when it exists the folder need not be listed.
    const QString folder = m_folder + QStringLiteral("/html");
    const QString wanted = templateName(family);
    Kept::Template& kept = m_kept->templates[family == Family::MediaCenter ? 1 : 0];
    const QString found = kept.name.find(folder, wanted, [&] {
        // The server's look-up; only a regular file is read (a FIFO would
        // block).
        const QString name =
            servlane::FileLookup::findEntry(folder, wanted, servlane::FileLookup::isRegularFile);
        return name.isEmpty() ? QString() : folder + QLatin1Char('/') + name;
    });
    if (found.isEmpty())
        return;
    const FileStamp stamp = FileStamp::of(found);
    if (!kept.valid || stamp != kept.stamp || found != kept.path) {
        kept.path = found;
        kept.stamp = stamp;
        kept.valid = stamp.settled();
        const QByteArray text = readAll(found);
        const QList<std::string_view> lines = splitLines(text);
        QString loaded;
        loaded.reserve(text.size() + 2 * lines.size());
        for (const std::string_view line : lines) {
            loaded += QLatin1StringView(line.data(), qsizetype(line.size()));
            loaded += QLatin1String("\r\n");
        }
        kept.text = loaded;
    }
    if (page.isEmpty())
        page = kept.text;
    else
        page += kept.text;
}

void PageBuilder::fillRooms(Family family, QString& page) const
{
    const Kept::List& list = m_kept->roomList(RoomList(m_folder).path());
    if (!list.exists)
        return;
    // The same page and list give the same result.
    const bool mc = family == Family::MediaCenter;
    Kept::Tree& tree = m_kept->trees[mc ? 1 : 0];
    if (tree.valid && tree.listVersion == list.version && tree.input == page) {
        page = tree.output;
        return;
    }
    tree.valid = false;
    const QString input = page;

    PlaceholderReplacements replacements(list.roomsAngle);
    int k = 1;
    for (const QString& room : list.rooms) {
        const QString key = linkKey(keyOf(room));
        const QString name = escaped(room);
        if (mc) {
            replacements.add(placeholder("url", k), QStringLiteral("wmcindex.html?loadroom") + key);
            replacements.add(
                placeholder("room", k),
                QStringLiteral("<a target=\"_top\" href=\"wmcindex.html?loadroom%1\"><font "
                               "color=\"#FFFFFF\" face=\"Verdana\" size=\"6\">%2</font></a>")
                    .arg(key, name));
        } else {
            replacements.add(
                placeholder("room", k),
                QStringLiteral("<a target=\"_top\" href=\"index.html?loadroom%1\"><font "
                               "color=\"#FFFFFF\">%2</font></a>")
                    .arg(key, name));
        }
        ++k;
    }
    replacements.applyTo(page);
    if (mc) {
        for (int i = k; i <= roomSlots; ++i) {
            replaceAll(page, roomButtonAttribute(i), QString());
            replaceAll(page, placeholder("room", i), QString());
        }
    }
    tree.valid = true;
    tree.listVersion = list.version;
    tree.input = input;
    tree.output = page;
}

bool PageBuilder::hasDevice(const QString& deviceKey, const QString& house, int unit) const
{
    const Kept::List& list = m_kept->roomList(RoomList(m_folder).path());
    return std::any_of(list.devices.cbegin(), list.devices.cend(), [&](const Kept::Device& d) {
        return d.deviceKey == deviceKey && d.record.house == house && d.record.unit == unit;
    });
}

bool PageBuilder::isDimmable(const QString& deviceKey) const
{
    return DeviceType::isDimmable(family(deviceKey));
}

QList<const PageBuilder::Device*> PageBuilder::devicesOf(const QString& roomKey,
                                                          bool* oneByOne) const
{
    // Lines of the room that read as a device (as RoomRecord reads them),
    // the first ten. A room's page shows the devices of that room only: its
    // key must equal the room's, letter case aside, not merely occur
    // somewhere in the line.
    const Kept::List& list = m_kept->roomList(RoomList(m_folder).path());
    const QString wantedRoom = foldedKey(roomKey);
    QList<const Device*> devices;
    bool angle = hasAngle(roomKey);
    for (const Device& device : list.devices) {
        if (devices.size() == deviceSlots)
            break;
        if (device.foldedRoom != wantedRoom)
            continue;
        devices.append(&device);
        angle = angle || device.angle;
    }
    if (oneByOne)
        *oneByOne = angle;
    return devices;
}

PageBuilder::DeviceState PageBuilder::stateOf(const Device& device) const
{
    DeviceState state;
    state.head = device.head;
    state.name = device.record.device;
    state.on = knownStatus(device.statusName);
    const QString kind = knownFamily(device.deviceKey);
    state.dimmable = DeviceType::isDimmable(kind);
    state.picture = state.on ? DeviceType::pictureOn(kind) : DeviceType::pictureOff(kind);
    // A device switched on before levels were recorded counts as full.
    const int level = state.on ? DeviceStatus(m_settings).level(device.deviceKey) : 0;
    state.level = state.on && level < 0 ? 100 : std::clamp(level, 0, 100);
    return state;
}

QList<PageBuilder::DeviceState> PageBuilder::roomStates(const QString& roomKey) const
{
    checkSettings();
    QList<DeviceState> states;
    for (const Device* device : devicesOf(roomKey))
        states.append(stateOf(*device));
    return states;
}

QString PageBuilder::stateText(bool on, int level, bool dimmable)
{
    if (!on)
        return QStringLiteral("Off");
    if (dimmable && level > 0 && level < 100)
        return QStringLiteral("On %1 %").arg(level);
    return QStringLiteral("On");
}

QString PageBuilder::statePlaceholder(int slot)
{
    return placeholder("state", slot);
}

QString PageBuilder::stateCell(const Device& device, QLatin1String page, int slot) const
{
    const DeviceState state = stateOf(device);
    QString cell = QLatin1String("<span class=\"state\" data-head=\"") % device.head %
                   QLatin1String("\">") % stateText(state.on, state.level, state.dimmable) %
                   QLatin1String("</span>");
    if (state.dimmable) {
        // Moved and let go, the page asks for the dim link with the level
        // in the word (dim40); without a script the control stays hidden.
        QString tail = QLatin1Char('~') + device.roomKey;
        if (slot >= 0)
            tail += QLatin1Char('~') + QString::number(slot);
        cell += QLatin1String("<input type=\"range\" class=\"level\" min=\"0\" max=\"100\" "
                              "step=\"5\" hidden value=\"") %
                QString::number(state.level) % QLatin1String("\" aria-label=\"Level of ") %
                device.name % QLatin1String("\" data-dim=\"") % page % device.head %
                QLatin1String("~dim\" data-tail=\"") % tail % QLatin1String("\">");
    }
    return cell;
}

void PageBuilder::fillRoom(Family family, QString& page, const QString& roomKey,
                           const DeviceNotice& notice, bool remember) const
{
    const bool mc = family == Family::MediaCenter;
    QString previousRoom;
    QString previousDev;
    if (mc) {
        previousRoom = m_settings.read(settingkeys::lastroom);
        previousDev = m_settings.read(settingkeys::lastdev);
    }

    const Kept::List& list = m_kept->roomList(RoomList(m_folder).path());
    const QString wantedRoom = foldedKey(roomKey);
    // Any text can come in a link: only a room of the list is remembered,
    // and the settings file is rewritten only when the room changes.
    const auto listed = [&] {
        return std::any_of(list.rooms.cbegin(), list.rooms.cend(),
                           [&](const QString& room) {
                               return foldedKey(keyOf(room)) == wantedRoom;
                           }) ||
               std::any_of(list.devices.cbegin(), list.devices.cend(),
                           [&](const Kept::Device& d) { return d.foldedRoom == wantedRoom; });
    };
    if (mc && remember && roomKey != previousRoom && listed())
        m_settings.write(settingkeys::lastroom, roomKey);
    if (!list.exists)
        return;
    bool oneByOne = false;
    const QList<const Device*> devices = devicesOf(roomKey, &oneByOne);

    checkSettings();
    PlaceholderReplacements replacements(oneByOne);
    const QLatin1String page0 = mc ? QLatin1String("wmcindex.html?") : QLatin1String("index.html?");
    const QLatin1String size = mc ? QLatin1String(" size=\"6\"") : QLatin1String();
    int n = 0;
    QString roomName;
    for (const Kept::Device* device : std::as_const(devices)) {
        const bool on = knownStatus(device->statusName);
        const QString kind = knownFamily(device->deviceKey);
        const QLatin1String image = on ? QLatin1String("on.gif") : QLatin1String("off.gif");
        const QLatin1String word = on ? QLatin1String("~turnoff~") : QLatin1String("~turnon~");
        QString address = page0 % device->head % word % device->roomKey;
        if (mc)
            address += QLatin1Char('~') + QString::number(n);
        QString cell = QLatin1String("<font face=\"Verdana\" color=\"#FFFFFF\"><a href=\"") %
                       address % QLatin1String("\"><img border=\"2\" src=") % kind % image %
                       QLatin1String("></a><br><b><a target=\"_top\" href=\"") % address %
                       QLatin1String("\"><font face=\"Verdana\" color=\"#FFFFFF\"") % size %
                       QLatin1Char('>') % device->name % QLatin1String("</font></a></b></font>");
        if (!notice.text.isEmpty() && device->deviceKey == notice.deviceKey)
            cell += QLatin1String("<br><span class=\"notice\" role=\"alert\" style=\"background:"
                                  "#b03a2e;color:#fff;padding:2px 4px\">") %
                    escaped(notice.text) % QLatin1String("</span>");
        replacements.add(placeholder("dev", n), std::move(cell));
        replacements.add(statePlaceholder(n), stateCell(*device, page0, mc ? n : -1));
        if (mc)
            replacements.add(placeholder("mrl", n + 1), address);
        roomName = device->record.room;
        ++n;
    }
    replacements.add(QStringLiteral("<room>"), escaped(roomName));
    replacements.add(roomKeyPlaceholder(), linkKey(roomKey));
    replacements.applyTo(page);
    for (int i = n; i < deviceSlots; ++i)
        replaceAll(page, statePlaceholder(i), QString());
    if (!mc)
        return;
    for (int i = n + 1; i <= deviceSlots; ++i) {
        replaceAll(page, moduleAttribute(i), QString());
        replaceAll(page, placeholder("dev", i - 1), QString());
    }
    if (roomKey == previousRoom && !previousDev.isEmpty())
        replaceAll(page, focusStart(),
                   QStringLiteral("MCFocusStart=\"module") + previousDev + QLatin1Char('"'));
}

bool PageBuilder::getlaststatus(const QString& keyname) const
{
    return DeviceStatus(m_settings).getlaststatus(keyname);
}

void PageBuilder::checkSettings() const
{
    // Values read through the store change only by a write or a re-read in
    // this program (each counted) or with a file on disk.
    Kept::Settings& kept = m_kept->settings;
    const quint64 generation = SettingsStore::generation();
    const FileStamp machine = FileStamp::of(m_settings.machineFile());
    const FileStamp user =
        FileStamp::of(m_settings.userFile(QString::fromLatin1(settingkeys::appName)));
    if (kept.valid && generation == kept.generation && machine == kept.machine && user == kept.user)
        return;
    kept.on.clear();
    kept.kind.clear();
    kept.generation = generation;
    kept.machine = machine;
    kept.user = user;
    kept.valid = machine.settled() && user.settled();
}

bool PageBuilder::knownStatus(const QString& keyname) const
{
    Kept::Settings& kept = m_kept->settings;
    if (!kept.valid)
        return getlaststatus(keyname);
    if (const auto it = kept.on.constFind(keyname); it != kept.on.cend())
        return *it;
    const bool on = getlaststatus(keyname);
    kept.on.insert(keyname, on);
    return on;
}

QString PageBuilder::knownFamily(const QString& fullname) const
{
    Kept::Settings& kept = m_kept->settings;
    if (!kept.valid)
        return family(fullname);
    if (const auto it = kept.kind.constFind(fullname); it != kept.kind.cend())
        return *it;
    const QString kind = family(fullname);
    kept.kind.insert(fullname, kind);
    return kind;
}

QString PageBuilder::family(const QString& fullname) const
{
    return DeviceType::storedFamily(m_settings, fullname);
}

QString PageBuilder::getimageon(const QString& fullname) const
{
    return DeviceType::pictureOn(family(fullname));
}

QString PageBuilder::getimageoff(const QString& fullname) const
{
    return DeviceType::pictureOff(family(fullname));
}

} // namespace casalux
