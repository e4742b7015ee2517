#include "homerenamer.h"

#include "eventlist.h"
#include "eventprofiles.h"
#include "eventrecord.h"
#include "home/roomlist.h"
#include "home/roomlisteditor.h"
#include "home/settingsstore.h"
#include "home/textlistfile.h"
#include "macrolist.h"
#include "platform/busymark.h"
#include "platform/prompts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace casalux {

namespace {

// How events and macros name a device: the room, a blank and the device
// name, without trailing blanks.
QString deviceText(const QString& room, const QString& device)
{
    QString text = room + QLatin1Char(' ') + device;
    while (text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text;
}

// A key as the pages and the command line compare it: spaces removed,
// letter case aside.
QString folded(QString key)
{
    return key.remove(QLatin1Char(' ')).toCaseFolded();
}

QString withTildes(QString text)
{
    return text.replace(QLatin1Char(' '), QLatin1Char('~'));
}

// An event line naming the device gets its new name; the rest of the line
// stays as it was.
bool renameInEvent(QString& line, const QString& oldText, const QString& newText,
                   const QString& address)
{
    const auto event = EventRecord::parse(line);
    if (!event ||
        (event->housecode + QString::number(event->unit)).compare(address, Qt::CaseInsensitive) !=
            0)
        return false;
    QString device = event->device;
    while (device.endsWith(QLatin1Char(' ')))
        device.chop(1);
    if (device != oldText)
        return false;
    line = newText + line.mid(line.indexOf(QLatin1Char('~')));
    return true;
}

// A macro names its trigger after "When" and its address, before the
// verb, and its target at the end of the line, after the target's action
// and address.
bool renameInMacro(QString& line, const QString& oldText, const QString& newText,
                   const QString& address)
{
    bool changed = false;
    const QString head = QStringLiteral("When~") + address + QLatin1Char('~');
    const QString trigger = head + withTildes(oldText) + QLatin1Char('~');
    if (line.startsWith(trigger)) {
        const QStringView rest = QStringView(line).mid(trigger.size());
        if (rest.startsWith(QLatin1String("turns~"), Qt::CaseInsensitive) ||
            rest.startsWith(QLatin1String("dimms~"), Qt::CaseInsensitive) ||
            rest.startsWith(QLatin1String("Turn~"))) {
            line = head + withTildes(newText) + QLatin1Char('~') + rest.toString();
            changed = true;
        }
    }
    for (const char* action : {"~Turn~On~", "~Turn~Off~"}) {
        const QString before = QLatin1String(action) + address + QLatin1Char('~');
        const QString target = before + withTildes(oldText);
        if (line.endsWith(target)) {
            line = line.left(line.size() - target.size()) + before + withTildes(newText);
            changed = true;
        }
    }
    return changed;
}

} // namespace

HomeRenamer::HomeRenamer(RoomList& list, SettingsStore& settings, BusyMark& filebusy,
                         RoomListEditor& editor, Prompts& prompts)
    : m_list(list), m_settings(settings), m_filebusy(filebusy), m_editor(editor), m_prompts(prompts)
{
}

QCoro::Task<bool> HomeRenamer::refuse(QString why)
{
    co_await m_prompts.message(why, QStringLiteral("Error!"), Prompts::Icon::Exclamation);
    co_return false;
}

QCoro::Task<bool> HomeRenamer::renameroom(QString room, QString newName)
{
    if (!co_await m_editor.acceptsRoomName(newName))
        co_return false;
    m_list.loadlists();
    if (newName == room)
        co_return true;
    for (const QString& other : m_list.rooms()) {
        if (other != room && folded(other) == folded(newName))
            co_return co_await refuse(
                QStringLiteral("%1 is already the name of a room. Please choose another name "
                               "for this room.")
                    .arg(other));
    }

    QString error;
    {
        auto hold = co_await m_filebusy.take();
        QStringList lines = TextListFile::readLines(m_list.path());
        QList<Moved> moved;
        for (QString& line : lines) {
            // The room's own line and its devices', letter case aside, as
            // a deletion takes them.
            const qsizetype end = line.indexOf(QLatin1Char('~'));
            if (end < 0 || line.left(end).compare(room, Qt::CaseInsensitive) != 0)
                continue;
            if (const auto record = RoomRecord::parse(line); record && !record->isRoom())
                moved.append({deviceText(record->room, record->device),
                              deviceText(newName, record->device), record->address(),
                              record->deviceKey(), RoomRecord::deviceKey(newName, record->device)});
            line = newName + line.mid(end);
        }
        error = save(lines, moved, room, newName);
    }
    if (!error.isEmpty()) {
        co_await m_editor.reportFailure(error);
        co_return false;
    }
    co_return true;
}

QCoro::Task<bool> HomeRenamer::renamedevice(QString room, QString device, QString newName)
{
    if (!co_await m_editor.acceptsDeviceName(newName))
        co_return false;
    m_list.loadlists();
    if (newName == device)
        co_return true;
    const QString newKey = folded(RoomRecord::deviceKey(room, newName));
    for (const RoomRecord& other : m_list.records()) {
        if (other.isRoom() || (other.room == room && other.device == device))
            continue;
        if (folded(other.deviceKey()) == newKey)
            co_return co_await refuse(
                QStringLiteral("%1 is already the name of a device in %2. Please choose another "
                               "name for this device.")
                    .arg(other.device, other.room));
    }

    QString error;
    {
        auto hold = co_await m_filebusy.take();
        QStringList lines = TextListFile::readLines(m_list.path());
        QList<Moved> moved;
        for (QString& line : lines) {
            const auto record = RoomRecord::parse(line);
            if (!record || record->isRoom() || record->room != room || record->device != device)
                continue;
            const qsizetype nameStart = line.indexOf(QLatin1Char('~')) + 1;
            const qsizetype nameEnd = line.indexOf(QLatin1Char('~'), nameStart);
            line = line.left(nameStart) + newName + line.mid(nameEnd);
            moved.append({deviceText(room, device), deviceText(room, newName), record->address(),
                          record->deviceKey(), RoomRecord::deviceKey(room, newName)});
        }
        error = save(lines, moved, {}, {});
    }
    if (!error.isEmpty()) {
        co_await m_editor.reportFailure(error);
        co_return false;
    }
    co_return true;
}

QString HomeRenamer::save(const QStringList& listLines, const QList<Moved>& moved,
                          const QString& oldRoom, const QString& newRoom)
{
    const QDir folder(m_list.folder());
    const auto temporary = [&folder](const QString& path) {
        return folder.filePath(QFileInfo(path).fileName() + QLatin1String(".tmp"));
    };
    QList<TextListFile::Replacement> lists{{m_list.path(), temporary(m_list.path()), listLines}};
    // Each file that names a moved device, with its lines renamed.
    const auto follow = [&](const QString& path, const auto& rename) {
        if (!QFile::exists(path))
            return;
        QStringList lines = TextListFile::readLines(path);
        bool changed = false;
        for (QString& line : lines) {
            for (const Moved& m : moved)
                changed = rename(line, m.oldText, m.newText, m.address) || changed;
        }
        if (changed)
            lists.append({path, temporary(path), lines});
    };
    follow(folder.filePath(QLatin1String(EventList::fileName)), renameInEvent);
    for (const QString& profile : EventProfiles::names())
        follow(EventProfiles::parkedPath(folder.path(), profile), renameInEvent);
    follow(folder.filePath(QLatin1String(MacroList::fileName)), renameInMacro);

    QList<TextListFile::Replacement> before;
    for (const TextListFile::Replacement& list : std::as_const(lists))
        before.append({list.path, list.tempPath, TextListFile::readLines(list.path)});
    QString error;
    if (!TextListFile::replaceAll(lists, &error))
        return error;

    // The values kept under a device key move to the new key; the old ones
    // stay behind, as they do when a device is deleted.
    SettingsStore::Batch batch(m_settings);
    const QString machinePath = QString::fromLatin1(settingkeys::casaluxPath);
    const QString typeSection = QString::fromLatin1(settingkeys::typeSection);
    for (const Moved& m : moved) {
        if (m.oldKey == m.newKey)
            continue;
        if (const QString kind = m_settings.readShared(typeSection, m.oldKey); !kind.isEmpty())
            m_settings.writeShared(typeSection, m.newKey, kind);
        for (const QString& prefix : {QString(), QStringLiteral("dim")}) {
            const QString value = m_settings.GetString(SettingsStore::Root::LocalMachine,
                                                       machinePath, prefix + m.oldKey);
            if (!value.isEmpty())
                m_settings.SaveString(SettingsStore::Root::LocalMachine, machinePath,
                                      prefix + m.newKey, value);
        }
    }
    if (!oldRoom.isEmpty() && folded(m_settings.read(settingkeys::lastroom)) == folded(oldRoom))
        m_settings.write(settingkeys::lastroom, QString(newRoom).remove(QLatin1Char(' ')));
    if (!batch.commit()) {
        TextListFile::replaceAll(before);
        return QStringLiteral("Cannot write %1").arg(m_settings.machineFile());
    }
    m_list.loadlists();
    return {};
}

} // namespace casalux
