#include "deviceswitch.h"

#include "devicecommands.h"
#include "home/devicestatus.h"
#include "home/roomrecord.h"
#include "roomview.h"

#include <QPointer>

namespace casalux {

namespace {
// The level an off leaves, as stored and as the slider shows it.
constexpr int offLevel = 20;

QString withoutBlanks(QString key)
{
    key.remove(QLatin1Char(' '));
    return key;
}
} // namespace

DeviceSwitch::DeviceSwitch(DeviceCommands& commands, DeviceStatus& status, QObject* parent)
    : QObject(parent), m_commands(commands), m_status(status)
{
}

QCoro::Task<SwitchResult> DeviceSwitch::switchTo(QString house, QString unit, bool on,
                                                 int percent, QStringList deviceKeys)
{
    if (on)
        return recorded(m_commands.turnon(std::move(house), std::move(unit), percent), on,
                        percent, std::move(deviceKeys));
    return recorded(m_commands.turnoff(std::move(house), std::move(unit)), on, percent,
                    std::move(deviceKeys));
}

QCoro::Task<SwitchResult> DeviceSwitch::switchTo(const SwitchQueue::Turn& turn, QString house,
                                                 QString unit, bool on, int percent,
                                                 QStringList deviceKeys)
{
    if (on)
        return recorded(m_commands.turnon(turn, std::move(house), std::move(unit), percent), on,
                        percent, std::move(deviceKeys));
    return recorded(m_commands.turnoff(turn, std::move(house), std::move(unit)), on, percent,
                    std::move(deviceKeys));
}

QCoro::Task<SwitchResult> DeviceSwitch::recorded(QCoro::Task<SwitchResult> sending, bool on,
                                                 int percent, QStringList deviceKeys)
{
    const QPointer<DeviceSwitch> self(this);
    const SwitchResult result = co_await std::move(sending);
    // A command the interface did not carry out leaves the state and the
    // picture as they were; the device commands have said why.
    if (!self || !result.isDone())
        co_return result;
    for (const QString& key : deviceKeys)
        record(key, on, percent);
    co_return result;
}

void DeviceSwitch::record(const QString& deviceKey, bool on, int percent)
{
    // An on keeps the level it was sent at, a plain on 100; an off leaves 20.
    if (on)
        m_status.setlevel(deviceKey, percent);
    else
        m_status.setstatus(deviceKey, QStringLiteral("off"), QStringLiteral("0"));
    if (!m_view)
        return;
    const int index = slotShowing(*m_view, deviceKey);
    if (index < 0)
        return;
    const QString key = withoutBlanks(deviceKey);
    if (on)
        m_view->setpictureon(index, key);
    else
        m_view->setpictureoff(index, key);
    m_view->setSliderLevel(index, on ? percent : offLevel);
}

int DeviceSwitch::slotShowing(const RoomView& view, const QString& deviceKey)
{
    const QString room = view.shownRoom();
    if (room.isEmpty())
        return -1;
    const QString key = withoutBlanks(deviceKey);
    // Whole keys: a device whose name holds another's ("Lamp 2", "Lamp"), or
    // a room whose name holds the shown one's, is not the shown device.
    for (int i = 0; i < RoomView::slotCount; ++i) {
        const QString name = view.slotName(i);
        if (!name.isEmpty() &&
            RoomRecord::deviceKey(room, name).compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

} // namespace casalux
