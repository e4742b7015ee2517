#include "outsidecommands.h"

#include "devicecommands.h"
#include "home/devicestatus.h"
#include "home/devicetype.h"
#include "home/roomlist.h"

#include <QPointer>
#include <algorithm>
#include <optional>
#include <utility>

namespace casalux {

// Counts a command as waiting for the line while it lives, unless this
// object has gone meanwhile.
class OutsideCommands::Asked final {
public:
    explicit Asked(OutsideCommands& owner) : m_owner(&owner) { ++owner.m_waiting; }
    ~Asked()
    {
        if (m_owner)
            --m_owner->m_waiting;
    }
    Asked(const Asked&) = delete;
    Asked& operator=(const Asked&) = delete;

private:
    QPointer<OutsideCommands> m_owner;
};

OutsideCommands::OutsideCommands(const RoomList& rooms, SettingsStore& settings,
                                 DeviceCommands& commands, DeviceStatus& status, QObject* parent)
    : QObject(parent), m_rooms(rooms.folder()), m_settings(settings), m_commands(commands),
      m_status(status), m_switch(commands, status)
{
}

OutsideCommands::~OutsideCommands() = default;

bool OutsideCommands::busy() const
{
    return m_commands.queue().busy();
}

QList<OutsideCommands::Device> OutsideCommands::devices() const
{
    m_rooms.loadlists();
    QList<Device> list;
    for (const RoomRecord& record : m_rooms.records()) {
        if (record.isRoom())
            continue;
        const QString kind = DeviceType::storedFamily(m_settings, record.deviceKey());
        list.append({record, kind, DeviceType::isDimmable(kind)});
    }
    return list;
}

std::optional<OutsideCommands::Device> OutsideCommands::find(const QString& target) const
{
    const QString wanted = target.simplified();
    const QList<Device> all = devices();
    // An address: a house letter and a unit number, nothing else.
    if (wanted.size() >= 2 && wanted.size() <= 3 && wanted[0].isLetter()) {
        bool ok = false;
        const int unit = wanted.mid(1).toInt(&ok);
        if (ok && QString::number(unit) == wanted.mid(1)) {
            for (const Device& device : all) {
                if (device.record.house.compare(wanted.left(1), Qt::CaseInsensitive) == 0 &&
                    device.record.unit == unit)
                    return device;
            }
            return std::nullopt;
        }
    }
    const Device* best = nullptr;
    for (const Device& device : all) {
        const QString name =
            device.record.room.simplified() + QLatin1Char(' ') + device.record.device.simplified();
        if (name.compare(wanted, Qt::CaseInsensitive) != 0)
            continue;
        if (!best || device.record.room.size() > best->record.room.size())
            best = &device;
    }
    return best ? std::optional<Device>(*best) : std::nullopt;
}

QString OutsideCommands::cannotDim(const Device& device, int percent)
{
    if (device.dimmable || percent == 0 || percent == 100)
        return {};
    return QStringLiteral("%1 %2 is not dimmable: switch it on or off")
        .arg(device.record.room.simplified(), device.record.device.simplified());
}

QCoro::Task<SwitchResult> OutsideCommands::switchDevice(Device device, bool on,
                                                                     StillWanted stillWanted)
{
    co_return co_await run(std::move(device), on ? 100 : 0, false, std::move(stillWanted));
}

QCoro::Task<SwitchResult> OutsideCommands::dimDevice(Device device, int percent,
                                                                  StillWanted stillWanted)
{
    co_return co_await run(std::move(device), std::clamp(percent, 0, 100), false,
                           std::move(stillWanted));
}

QCoro::Task<SwitchResult> OutsideCommands::bringTo(Device device, int percent)
{
    co_return co_await run(std::move(device), percent == keepLevel ? keepLevel
                                                                   : std::clamp(percent, 0, 100),
                           true);
}

QCoro::Task<SwitchResult> OutsideCommands::run(Device device, int percent, bool wish,
                                                StillWanted stillWanted)
{
    const QPointer<OutsideCommands> self(this);
    SwitchQueue& line = m_commands.queue();
    // Only the newest outside command for a device waits: a hub or a script
    // that sends faster than the line carries gets its last wish, not every
    // step on the way. An "on" that keeps the level after a waiting dim or
    // on would leave the lamp as that one did. (Commands of the window and
    // the pages are never replaced.)
    const QString waitKey = QStringLiteral("outside:") + device.key();
    const std::optional<int> replaced =
        line.replaceWaiting(waitKey, QStringLiteral("replaced by a newer command for %1 %2")
                                     .arg(device.record.room.simplified(),
                                          device.record.device.simplified()));
    if (percent == keepLevel && replaced && *replaced > 0)
        percent = *replaced;
    if (line.busy() && m_waiting >= maxWaiting)
        co_return SwitchResult::refused(
            QStringLiteral("%1 commands are already waiting: this one was dropped")
                .arg(maxWaiting));
    std::optional<Asked> asked(std::in_place, *this);
    const SwitchQueue::Ask ask{waitKey, percent};
    const SwitchQueue::Taken taken = co_await line.take(ask);
    if (!self)
        co_return SwitchResult::refused(QStringLiteral("the program is ending"));
    asked.reset();
    if (!taken.turn.holds())
        co_return SwitchResult::refused(taken.why);
    if (m_gate) {
        const QString notice = m_gate();
        if (!notice.isEmpty())
            co_return SwitchResult::refused(notice);
    }
    // Nobody waits for it any more: carried out now it would come as a
    // surprise, after the caller was told it failed.
    if (stillWanted) {
        if (QString gone = stillWanted(); !gone.isEmpty())
            co_return SwitchResult::refused(std::move(gone));
    }
    const QString house = device.record.house;
    const QString unit = QString::number(device.record.unit);
    const QString key = device.key();
    if (wish && percent != 0 && device.dimmable && m_status.getlaststatus(key)) {
        const int level = m_status.level(key);
        if (percent == keepLevel || level == percent)
            co_return SwitchResult::done();
    }
    if (percent == keepLevel)
        percent = 100;
    // (Named: GCC 12 can destroy a temporary of a co_await expression twice.)
    const QStringList keys{key};
    const SwitchResult result =
        co_await m_switch.switchTo(taken.turn, house, unit, percent > 0, percent, keys);
    co_return result;
}

} // namespace casalux
