#include "roomlisteditor.h"

#include "devicetype.h"
#include "settingsstore.h"
#include "textlistfile.h"
#include "platform/busymark.h"
#include "platform/clock.h"
#include "platform/prompts.h"
#include "platform/statussink.h"

#include <QFile>

namespace casalux {

namespace {

const QString errorTitle = QStringLiteral("Error!");

QString withoutTrailingBlanks(QString text)
{
    while (text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text;
}

} // namespace

RoomListEditor::RoomListEditor(RoomList& list, SettingsStore& settings, BusyMark& filebusy,
                               StatusSink& status, Prompts& prompts)
    : m_list(list), m_settings(settings), m_filebusy(filebusy), m_status(status),
      m_prompts(prompts)
{
}

const QStringList& RoomListEditor::sectionNames()
{
    static const QStringList names{QStringLiteral("Home"), QStringLiteral("Events"),
                                   QStringLiteral("Macros"), QStringLiteral("Web Server"),
                                   QStringLiteral("Profiles")};
    return names;
}

QString RoomListEditor::folderFile(const char* name) const
{
    return m_list.folder() + QLatin1Char('/') + QLatin1String(name);
}

void RoomListEditor::reload()
{
    m_list.loadlists();
    if (m_reloaded)
        m_reloaded();
}

// The list file cannot hold "~" or line breaks in a name, and only stores
// Latin-1; such a name would break its record or come back changed.
QCoro::Task<bool> RoomListEditor::refuseName(const QString& name)
{
    QString why;
    if (name.contains(QLatin1Char('~')))
        why = QStringLiteral("A name cannot contain the character ~");
    else if (name.contains(QLatin1Char('\r')) || name.contains(QLatin1Char('\n')))
        why = QStringLiteral("A name cannot contain a line break");
    else if (!TextListFile::isStorable(name))
        why = QStringLiteral("A name can only use characters of the Western European (Latin-1) "
                             "character set");
    if (why.isEmpty())
        co_return false;
    co_await m_prompts.message(why, errorTitle, Prompts::Icon::Exclamation);
    co_return true;
}

QCoro::Task<> RoomListEditor::reportFailure(QString error)
{
    m_status.setStatus(StatusSink::Activity, error);
    co_await m_prompts.message(QStringLiteral("The home list could not be saved; nothing was "
                                              "changed.\n\n") +
                                   error,
                               errorTitle, Prompts::Icon::Critical);
}

QCoro::Task<bool> RoomListEditor::acceptsRoomName(QString name)
{
    if (name.trimmed().isEmpty()) {
        co_await m_prompts.message(QStringLiteral("You must type in a name for room"), errorTitle,
                                   Prompts::Icon::Exclamation);
        co_return false;
    }
    if (co_await refuseName(name))
        co_return false;
    const QString trimmed = name.trimmed();
    for (const QString& section : sectionNames()) {
        if (trimmed.compare(section, Qt::CaseInsensitive) == 0) {
            co_await m_prompts.message(
                QStringLiteral("%1 is the name of a section of the program. Please choose "
                               "another name for this room.")
                    .arg(section),
                errorTitle, Prompts::Icon::Exclamation);
            co_return false;
        }
    }
    co_return true;
}

QCoro::Task<bool> RoomListEditor::acceptsDeviceName(QString name)
{
    if (name.trimmed().isEmpty()) {
        co_await m_prompts.message(QStringLiteral("You must type in a name for this device"),
                                   errorTitle, Prompts::Icon::Exclamation);
        co_return false;
    }
    co_return !co_await refuseName(name);
}

QCoro::Task<bool> RoomListEditor::addroom(QString name)
{
    if (!co_await acceptsRoomName(name))
        co_return false;

    QString error;
    bool saved = false;
    {
        auto hold = co_await m_filebusy.take();
        saved = TextListFile::append(m_list.path(), RoomRecord::makeRoom(name).line(), &error);
    }
    if (!saved) {
        co_await reportFailure(error);
        co_return false;
    }
    reload();
    co_return true;
}

QCoro::Task<bool> RoomListEditor::adddevice(QString room, QString name, QString house,
                                            QString unitText, QString typeChoice)
{
    if (!co_await acceptsDeviceName(name))
        co_return false;
    // A device line with no room, or an address the interface cannot send
    // to, would be skipped by every reader: refuse it here instead.
    if (room.trimmed().isEmpty()) {
        co_await m_prompts.message(QStringLiteral("You must choose a room for this device"),
                                   errorTitle, Prompts::Icon::Exclamation);
        co_return false;
    }
    house = house.trimmed().toUpper();
    if (house.size() != 1 || house[0] < QLatin1Char('A') || house[0] > QLatin1Char('P')) {
        co_await m_prompts.message(QStringLiteral("Please choose a house code from A to P"),
                                   errorTitle, Prompts::Icon::Exclamation);
        co_return false;
    }
    const int unit = RoomRecord::leadingNumber(unitText);
    if (unit < 1 || unit > 16) {
        co_await m_prompts.message(QStringLiteral("Please choose a unit number from 1 to 16"),
                                   errorTitle, Prompts::Icon::Exclamation);
        co_return false;
    }

    QString error;
    bool saved = false;
    {
        auto hold = co_await m_filebusy.take();
        saved = TextListFile::append(m_list.path(),
                                     RoomRecord::makeDevice(room, name, house, unit).line(), &error);
    }
    if (!saved) {
        co_await reportFailure(error);
        co_return false;
    }
    m_settings.writeShared(QString::fromLatin1(settingkeys::typeSection),
                           RoomRecord::deviceKey(room, name), DeviceType::fromChoice(typeChoice));
    reload();
    co_return true;
}

QCoro::Task<RoomListEditor::DeleteOutcome> RoomListEditor::deletetree(int key, TreeNode node)
{
    if (key != deleteKey && key != backSpaceKey) {
        co_await m_prompts.message(
            QStringLiteral("If you wish to delete the item, press the Back Space key"),
            QStringLiteral("What did you want to do?"), Prompts::Icon::Information);
        co_return DeleteOutcome::WrongKey;
    }
    if (node.section) {
        if (node.text == QLatin1String("Home"))
            co_return DeleteOutcome::ShowHome;
        if (node.text == QLatin1String("Events"))
            co_return DeleteOutcome::ShowEvents;
        // The other sections hold nothing to delete; taken for rooms, they
        // would remove a room of that name from an older list.
        co_return DeleteOutcome::Cancelled;
    }
    if (node.parentText.isEmpty())
        co_return co_await deleteRoom(node.text);
    co_return co_await deleteDevice(node.parentText, node.text);
}

QCoro::Task<RoomListEditor::DeleteOutcome> RoomListEditor::deleteRoom(QString room)
{
    const auto answer = co_await m_prompts.message(
        QStringLiteral("Are you sure you want to delete this device? Please be aware that this "
                       "will also DELETE any devices you have setup in this room!"),
        QStringLiteral("Really Delete?"), Prompts::Icon::Question, Prompts::Buttons::YesNo);
    if (answer != Prompts::Answer::Yes)
        co_return DeleteOutcome::Cancelled;

    m_status.setStatus(StatusSink::Activity,
                       QStringLiteral("PLEASE WAIT! Searching for ") + room +
                           QStringLiteral(", for deletion"));
    QString error;
    bool replaced = false;
    {
        auto hold = co_await m_filebusy.take();
        QStringList keep;
        const QStringList lines = TextListFile::readLines(m_list.path());
        for (const QString& line : lines) {
            // Only whole records of this room go; a room named Hallway stays
            // when Hall is deleted.
            const bool ofRoom = line.contains(QLatin1Char('~')) &&
                                line.section(QLatin1Char('~'), 0, 0).compare(
                                    room, Qt::CaseInsensitive) == 0;
            if (ofRoom)
                m_status.setStatus(StatusSink::Activity,
                                   QStringLiteral("FOUND ") + room + QStringLiteral(", deleting now"));
            else
                keep.append(line);
        }
        m_status.setStatus(StatusSink::Activity,
                           room + QStringLiteral(" has been deleted, please wait."));
        replaced = TextListFile::replace(m_list.path(), folderFile("tc.tmp"), keep, &error);
    }
    if (!replaced) {
        co_await reportFailure(error);
        co_return DeleteOutcome::Failed;
    }
    co_return co_await finishDelete();
}

QCoro::Task<RoomListEditor::DeleteOutcome> RoomListEditor::deleteDevice(QString room,
                                                                        QString device)
{
    auto answer = co_await m_prompts.message(
        QStringLiteral("Are you sure you want to delete this device?"),
        QStringLiteral("Really Delete?"), Prompts::Icon::Question, Prompts::Buttons::YesNo);
    if (answer != Prompts::Answer::Yes)
        co_return DeleteOutcome::Cancelled;
    answer = co_await m_prompts.message(
        QStringLiteral("Do you want to remove any events you may have set for this device?"),
        QStringLiteral("Remove Events?"), Prompts::Icon::Question, Prompts::Buttons::YesNo);
    const bool removeEvents = answer == Prompts::Answer::Yes;

    const QString named = room + QStringLiteral(", ") + device;
    m_status.setStatus(StatusSink::Activity,
                       QStringLiteral("PLEASE WAIT! Searching for ") + named +
                           QStringLiteral(" for deletion"));
    QString error;
    bool replaced = true;
    {
        auto hold = co_await m_filebusy.take();
        QStringList keepDevices;
        const QStringList lines = TextListFile::readLines(m_list.path());
        for (const QString& line : lines) {
            const auto record = RoomRecord::parse(line);
            if (record && !record->isRoom() && record->room == room && record->device == device)
                m_status.setStatus(StatusSink::Activity, QStringLiteral("FOUND! ") + named +
                                                             QStringLiteral(". Deleting now."));
            else
                keepDevices.append(line);
        }

        const QString eventPath = folderFile(eventFileName);
        const bool rewriteEvents = removeEvents && QFile::exists(eventPath);
        QStringList keepEvents;
        if (rewriteEvents) {
            // An event names its device as the room, a blank and the device name.
            const QString eventDevice = withoutTrailingBlanks(room + QLatin1Char(' ') + device);
            const QStringList events = TextListFile::readLines(eventPath);
            for (const QString& line : events) {
                if (line.contains(QLatin1Char('~')) &&
                    withoutTrailingBlanks(line.section(QLatin1Char('~'), 0, 0)) == eventDevice)
                    m_status.setStatus(StatusSink::Activity,
                                       QStringLiteral("Found an event for ") + named +
                                           QStringLiteral(". Deleting now."));
                else
                    keepEvents.append(line);
            }
        }
        m_status.setStatus(StatusSink::Activity, QStringLiteral("Device Removed, cleaning up now."));
        if (rewriteEvents)
            replaced = TextListFile::replace(eventPath, folderFile("tcev.tmp"), keepEvents, &error);
        if (replaced) {
            m_status.setStatus(StatusSink::Activity, QStringLiteral("Nearly finished."));
            replaced =
                TextListFile::replace(m_list.path(), folderFile("tc.tmp"), keepDevices, &error);
        }
    }
    if (!replaced) {
        co_await reportFailure(error);
        co_return DeleteOutcome::Failed;
    }
    co_return co_await finishDelete();
}

QCoro::Task<RoomListEditor::DeleteOutcome> RoomListEditor::finishDelete()
{
    m_status.setStatus(StatusSink::Activity, QStringLiteral("Clearing old data ready for re load"));
    reload();
    co_await m_prompts.message(QStringLiteral("Your item was deleted at ") +
                                   Clock::instance().now().toString(QStringLiteral("HH:mm")),
                               QStringLiteral("Casalux"), Prompts::Icon::None);
    co_return DeleteOutcome::Deleted;
}

} // namespace casalux
