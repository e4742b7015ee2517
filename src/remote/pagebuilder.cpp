#include "pagebuilder.h"

#include "home/devicestatus.h"
#include "home/roomlist.h"
#include "home/roomrecord.h"
#include "home/settingsstore.h"
#include "home/textlistfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <string_view>
#include <utility>

namespace casalux {

namespace {

void replaceAll(QString& page, const QString& placeholder, const QString& text)
{
    page.replace(placeholder, text, Qt::CaseInsensitive);
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

// Whether a room name, with its spaces removed, is the room key, letter
// case aside (as QString::compare would find it).
bool isRoomKey(std::string_view room, QStringView key)
{
    qsizetype k = 0;
    for (const char c : room) {
        if (c == ' ')
            continue;
        if (k == key.size() || QChar(uchar(c)).toCaseFolded() != key[k].toCaseFolded())
            return false;
        ++k;
    }
    return k == key.size();
}

// Placeholder replacements that take effect as if applied one after another
// with replaceAll, done in one pass over the page instead of one pass each.
// That holds when no replacement text can form or hold a placeholder of the
// batch: every placeholder is "<", letters and digits, ">"; every text is
// either free of "<" and ">" or markup whose "<" each closes within it, and
// the names inside are escaped. Keys are not escaped, so a builder whose
// names hold "<" or ">" asks for the one-by-one way instead.
class Replacements {
public:
    explicit Replacements(bool oneByOne) : m_oneByOne(oneByOne) {}

    void add(QString placeholder, QString text)
    {
        m_items.append({std::move(placeholder), std::move(text)});
    }

    void applyTo(QString& page) const
    {
        if (m_items.isEmpty())
            return;
        if (m_oneByOne) {
            for (const auto& [placeholder, text] : m_items)
                replaceAll(page, placeholder, text);
            return;
        }
        qsizetype longest = 0;
        for (const auto& item : m_items)
            longest = std::max(longest, item.first.size());
        QString out;
        out.reserve(page.size() + page.size() / 2);
        const QStringView in(page);
        qsizetype copied = 0;
        qsizetype at = in.indexOf(QLatin1Char('<'));
        while (at >= 0) {
            // A placeholder ends at the first ">" and holds no other "<".
            const qsizetype limit = std::min(in.size(), at + longest);
            qsizetype end = at + 1;
            while (end < limit && in[end] != QLatin1Char('>') && in[end] != QLatin1Char('<'))
                ++end;
            const Item* hit = nullptr;
            if (end < limit && in[end] == QLatin1Char('>')) {
                const QStringView candidate = in.mid(at, end - at + 1);
                for (const auto& item : m_items) {
                    if (item.first.size() == candidate.size() &&
                        candidate.compare(item.first, Qt::CaseInsensitive) == 0) {
                        hit = &item;
                        break;
                    }
                }
            }
            if (hit) {
                out += in.mid(copied, at - copied);
                out += hit->second;
                copied = end + 1;
                at = in.indexOf(QLatin1Char('<'), copied);
            } else {
                at = in.indexOf(QLatin1Char('<'), at + 1);
            }
        }
        if (copied == 0 && out.isEmpty())
            return; // nothing matched
        out += in.mid(copied);
        page = std::move(out);
    }

private:
    using Item = std::pair<QString, QString>;
    bool m_oneByOne;
    QList<Item> m_items;
};

} // namespace

PageBuilder::PageBuilder(const QString& programFolder, SettingsStore& settings)
    : m_folder(programFolder), m_settings(settings)
{
}

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
    const QDir html(m_folder + QStringLiteral("/html"));
    const QString wanted = templateName(family);
    QString found;
    if (QFileInfo(html.filePath(wanted)).isFile()) {
        found = wanted;
    } else {
        const QStringList names = html.entryList(QDir::Files);
        for (const QString& name : names) {
            if (found.isEmpty() && name.toLower() == wanted)
                found = name;
        }
    }
    if (found.isEmpty())
        return;
    const QByteArray text = readAll(html.filePath(found));
    const QList<std::string_view> lines = splitLines(text);
    page.reserve(page.size() + text.size() + 2 * lines.size());
    for (const std::string_view line : lines) {
        page += QLatin1StringView(line.data(), qsizetype(line.size()));
        page += QLatin1String("\r\n");
    }
}

void PageBuilder::fillRooms(Family family, QString& page) const
{
    const RoomList list(m_folder);
    if (!QFileInfo::exists(list.path()))
        return;
    // Only the room lines matter here: a line holding "~~~" names the room
    // before its first "~" (as RoomRecord reads it).
    QStringList rooms;
    const QByteArray text = readAll(list.path());
    bool oneByOne = false;
    for (const std::string_view line : splitLines(text)) {
        if (line.find("~~~") == std::string_view::npos)
            continue;
        rooms.append(latin1(firstField(line)));
        oneByOne = oneByOne || hasAngle(rooms.last());
    }
    const bool mc = family == Family::MediaCenter;
    Replacements replacements(oneByOne);
    int k = 1;
    for (const QString& room : std::as_const(rooms)) {
        const QString key = keyOf(room);
        const QString name = escaped(room);
        if (mc) {
            replacements.add(placeholder("url", k), QStringLiteral("wmcindex.html?loadroom") + key);
            replacements.add(placeholder("room", k),
                             QStringLiteral("<a target=\"_top\" href=\"wmcindex.html?loadroom%1\"><font "
                                            "color=\"#FFFFFF\" face=\"Verdana\" size=\"6\">%2</font></a>")
                                 .arg(key, name));
        } else {
            replacements.add(placeholder("room", k),
                             QStringLiteral("<a target=\"_top\" href=\"index.html?loadroom%1\"><font "
                                            "color=\"#FFFFFF\">%2</font></a>")
                                 .arg(key, name));
        }
        ++k;
    }
    replacements.applyTo(page);
    if (!mc)
        return;
    for (int i = k; i <= roomSlots; ++i) {
        replaceAll(page, roomButtonAttribute(i), QString());
        replaceAll(page, placeholder("room", i), QString());
    }
}

void PageBuilder::fillRoom(Family family, QString& page, const QString& roomKey) const
{
    const bool mc = family == Family::MediaCenter;
    QString previousRoom;
    QString previousDev;
    if (mc) {
        previousRoom = m_settings.read(settingkeys::lastroom);
        previousDev = m_settings.read(settingkeys::lastdev);
        m_settings.write(settingkeys::lastroom, roomKey);
    }

    const RoomList list(m_folder);
    if (!QFileInfo::exists(list.path()))
        return;
    // The room's devices in list order: lines of the room that read as a
    // device (as RoomRecord reads them), the first ten.
    QList<RoomRecord> devices;
    bool oneByOne = hasAngle(roomKey);
    const QByteArray text = readAll(list.path());
    for (const std::string_view line : splitLines(text)) {
        if (devices.size() == deviceSlots)
            break;
        // A room's page shows the devices of that room only: its key must
        // equal the room's, not merely occur somewhere in the line.
        if (line.find("~~~") != std::string_view::npos || line.find('~') == std::string_view::npos ||
            !isRoomKey(firstField(line), roomKey))
            continue;
        if (const auto record = RoomRecord::parse(latin1(line)); record && !record->isRoom()) {
            devices.append(*record);
            oneByOne = oneByOne || hasAngle(record->room) || hasAngle(record->device);
        }
    }

    Replacements replacements(oneByOne);
    const QString page0 = mc ? QStringLiteral("wmcindex.html?") : QStringLiteral("index.html?");
    int n = 0;
    QString roomName;
    for (const RoomRecord& record : std::as_const(devices)) {
        const QString deviceKey = record.deviceKey();
        const bool on = getlaststatus(record.room + record.device);
        const QString image = on ? getimageon(deviceKey) : getimageoff(deviceKey);
        const QString word = on ? QStringLiteral("~turnoff~") : QStringLiteral("~turnon~");
        QString address = page0 + record.house + QLatin1Char('~') + QString::number(record.unit) +
                          QLatin1Char('~') + deviceKey + word + keyOf(record.room);
        if (mc)
            address += QLatin1Char('~') + QString::number(n);
        const QString size = mc ? QStringLiteral(" size=\"6\"") : QString();
        const QString cell =
            QStringLiteral("<font face=\"Verdana\" color=\"#FFFFFF\"><a href=\"%1\"><img border=\"2\" "
                           "src=%2></a><br><b><a target=\"_top\" href=\"%1\"><font face=\"Verdana\" "
                           "color=\"#FFFFFF\"%3>%4</font></a></b></font>")
                .arg(address, image, size, escaped(record.device));
        replacements.add(placeholder("dev", n), cell);
        if (mc)
            replacements.add(placeholder("mrl", n + 1), address);
        roomName = record.room;
        ++n;
    }
    replacements.add(QStringLiteral("<room>"), escaped(roomName));
    replacements.applyTo(page);
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

QString PageBuilder::family(const QString& fullname) const
{
    const QString kind = m_settings.GetSetting(
        QString::fromLatin1(settingkeys::appName), QString::fromLatin1(settingkeys::typeSection),
        keyOf(fullname), QString::fromLatin1(settingkeys::typeFallback));
    static const QStringList known = {QStringLiteral("switch"), QStringLiteral("bulb"),
                                      QStringLiteral("fan"), QStringLiteral("radio"),
                                      QStringLiteral("bulb2")};
    return known.contains(kind) ? kind : QStringLiteral("switch");
}

QString PageBuilder::getimageon(const QString& fullname) const
{
    return family(fullname) + QStringLiteral("on.gif");
}

QString PageBuilder::getimageoff(const QString& fullname) const
{
    return family(fullname) + QStringLiteral("off.gif");
}

} // namespace casalux
