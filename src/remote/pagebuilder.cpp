#include "pagebuilder.h"

#include "home/devicestatus.h"
#include "home/roomlist.h"
#include "home/roomrecord.h"
#include "home/settingsstore.h"
#include "home/textlistfile.h"

#include <QDir>
#include <QFileInfo>

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
    // The template may have been saved with any letter case.
    const QDir html(m_folder + QStringLiteral("/html"));
    const QString wanted = templateName(family);
    QString found;
    const QStringList names = html.entryList(QDir::Files);
    for (const QString& name : names) {
        if (name.toLower() == wanted && (found.isEmpty() || name == wanted))
            found = name;
    }
    if (found.isEmpty())
        return;
    const QStringList lines = TextListFile::readLines(html.filePath(found));
    for (const QString& line : lines)
        page += line + QStringLiteral("\r\n");
}

void PageBuilder::fillRooms(Family family, QString& page) const
{
    RoomList list(m_folder);
    if (!QFileInfo::exists(list.path()))
        return;
    list.loadlists();
    const bool mc = family == Family::MediaCenter;
    int k = 1;
    for (const RoomRecord& record : list.records()) {
        if (!record.isRoom())
            continue;
        const QString key = keyOf(record.room);
        const QString name = escaped(record.room);
        if (mc) {
            replaceAll(page, placeholder("url", k), QStringLiteral("wmcindex.html?loadroom") + key);
            replaceAll(page, placeholder("room", k),
                       QStringLiteral("<a target=\"_top\" href=\"wmcindex.html?loadroom%1\"><font "
                                      "color=\"#FFFFFF\" face=\"Verdana\" size=\"6\">%2</font></a>")
                           .arg(key, name));
        } else {
            replaceAll(page, placeholder("room", k),
                       QStringLiteral("<a target=\"_top\" href=\"index.html?loadroom%1\"><font "
                                      "color=\"#FFFFFF\">%2</font></a>")
                           .arg(key, name));
        }
        ++k;
    }
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

    RoomList list(m_folder);
    if (!QFileInfo::exists(list.path()))
        return;
    list.loadlists();

    const QString page0 = mc ? QStringLiteral("wmcindex.html?") : QStringLiteral("index.html?");
    int n = 0;
    QString roomName;
    for (const RoomRecord& record : list.records()) {
        if (n == deviceSlots)
            break;
        // A room's page shows the devices of that room only: its key must
        // equal the room's, not merely occur somewhere in the line.
        if (record.isRoom() || keyOf(record.room).compare(roomKey, Qt::CaseInsensitive) != 0)
            continue;
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
        replaceAll(page, placeholder("dev", n), cell);
        if (mc)
            replaceAll(page, placeholder("mrl", n + 1), address);
        roomName = record.room;
        ++n;
    }
    replaceAll(page, QStringLiteral("<room>"), escaped(roomName));
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
