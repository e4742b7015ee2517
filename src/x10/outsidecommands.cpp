#include "outsidecommands.h"

#include "devicecommands.h"
#include "home/devicestatus.h"
#include "home/devicetype.h"
#include "home/roomlist.h"
#include "roomview.h"

#include <QPointer>
#include <algorithm>
#include <utility>

namespace casalux {

// One command waiting for its turn, and how its wait ended.
struct OutsideCommands::Waiting {
    QString deviceKey;
    int percent = 0;
    std::coroutine_handle<> handle;
    bool decided = false;
    bool go = false;
    QString why; // when it may not go
};

class OutsideCommands::TurnAwaiter final {
public:
    explicit TurnAwaiter(std::shared_ptr<Waiting> waiting) : m_waiting(std::move(waiting)) {}
    bool await_ready() const noexcept { return m_waiting->decided; }
    void await_suspend(std::coroutine_handle<> handle) noexcept { m_waiting->handle = handle; }
    void await_resume() const noexcept {}

private:
    std::shared_ptr<Waiting> m_waiting;
};

// Holds the turn for one command and passes it on, whichever way the
// command ends.
class OutsideCommands::Turn final {
public:
    explicit Turn(OutsideCommands& owner) : m_owner(&owner) {}
    ~Turn()
    {
        if (m_owner)
            m_owner->passTurn();
    }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

private:
    QPointer<OutsideCommands> m_owner;
};

OutsideCommands::OutsideCommands(const RoomList& rooms, SettingsStore& settings,
                                 DeviceCommands& commands, DeviceStatus& status, QObject* parent)
    : QObject(parent), m_rooms(rooms.folder()), m_settings(settings), m_commands(commands),
      m_status(status)
{
}

OutsideCommands::~OutsideCommands()
{
    // Commands still waiting for their turn end without sending; the
    // queued calls that would have resumed them go with this object.
    *m_alive = false;
    QList<std::shared_ptr<Waiting>> left = m_woken;
    for (const auto& waiting : m_waiting)
        left.append(waiting);
    m_waiting.clear();
    m_woken.clear();
    for (const auto& waiting : left) {
        waiting->decided = true;
        waiting->go = false;
        waiting->why = QStringLiteral("the program is ending");
        if (const auto handle = std::exchange(waiting->handle, {}))
            handle.resume();
    }
}

void OutsideCommands::passTurn()
{
    m_running = false;
    if (!m_waiting.empty()) {
        const std::shared_ptr<Waiting> next = m_waiting.front();
        m_waiting.pop_front();
        m_running = true;
        next->decided = true;
        next->go = true;
        wake(next);
    }
    Q_EMIT turnPassed();
}

void OutsideCommands::wake(std::shared_ptr<Waiting> waiting)
{
    m_woken.append(waiting);
    QMetaObject::invokeMethod(
        this,
        [this, waiting] {
            m_woken.removeOne(waiting);
            if (const auto handle = std::exchange(waiting->handle, {}))
                handle.resume();
        },
        Qt::QueuedConnection);
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
    const auto alive = m_alive;
    // One at a time, in the order asked.
    if (m_running || !m_waiting.empty()) {
        // Only the newest command for a device waits: a hub or a script
        // that sends faster than the line carries gets its last wish, not
        // every step on the way. An "on" that keeps the level after a
        // waiting dim or on would leave the lamp as that one did.
        const QString key = device.key();
        const auto older = std::find_if(m_waiting.begin(), m_waiting.end(),
                                        [&key](const auto& w) { return w->deviceKey == key; });
        if (older != m_waiting.end()) {
            const std::shared_ptr<Waiting> replaced = *older;
            m_waiting.erase(older);
            if (percent == keepLevel && replaced->percent > 0)
                percent = replaced->percent;
            replaced->decided = true;
            replaced->why = QStringLiteral("replaced by a newer command for %1 %2")
                                .arg(device.record.room.simplified(),
                                     device.record.device.simplified());
            wake(replaced);
        }
        if (m_waiting.size() >= std::size_t(maxWaiting)) {
            co_return SwitchResult::refused(
                QStringLiteral("%1 commands are already waiting: this one was dropped")
                    .arg(maxWaiting));
        }
        auto waiting = std::make_shared<Waiting>();
        waiting->deviceKey = key;
        waiting->percent = percent;
        m_waiting.push_back(waiting);
        co_await TurnAwaiter(waiting);
        // Resumed by this object only (from the event loop or its
        // destructor), so it is still there.
        if (!waiting->go)
            co_return SwitchResult::refused(waiting->why);
    } else {
        m_running = true;
    }
    const Turn turn(*this);
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
    SwitchResult result = SwitchResult::refused({});
    if (percent == 0)
        result = co_await m_commands.turnoff(house, unit);
    else
        result = co_await m_commands.turnon(house, unit, percent);
    if (!*alive || !result.isDone())
        co_return result;
    if (percent == 0)
        m_status.setstatus(key, QStringLiteral("off"), QStringLiteral("0"));
    else
        m_status.setlevel(key, percent);
    redraw(device, percent > 0, percent == 0 ? 20 : percent);
    co_return result;
}

void OutsideCommands::redraw(const Device& device, bool on, int level)
{
    // Only the room on view has slots to redraw.
    if (!m_view || m_view->shownRoom() != device.record.room)
        return;
    const int index = m_view->slotOf(device.record.device);
    if (index < 0)
        return;
    if (on)
        m_view->setpictureon(index, device.key());
    else
        m_view->setpictureoff(index, device.key());
    m_view->setSliderLevel(index, level);
}

} // namespace casalux
