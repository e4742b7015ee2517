#include "traffichandler.h"

#include "interfacecontrol.h"
#include "home/roomlist.h"
#include "platform/clock.h"
#include "platform/statussink.h"

#include <QPointer>

namespace casalux {

TrafficHandler::TrafficHandler(InterfaceControl& control, RoomList& rooms,
                               DeviceCommands& commands, DeviceStatus& status,
                               StatusSink& statusBar, QObject* parent)
    : QObject(parent), m_control(control), m_rooms(rooms), m_statusBar(statusBar),
      m_switch(commands, status)
{
    connect(&m_control, &InterfaceControl::traffic, this,
            [this](const QString& address, const QString&, int function, int, int) {
                incoming(address, function);
            });
    connect(&m_queue, &CommandQueue::appended, this, [this] {
        // Detached: the task lives on by itself while it waits for the line.
        if (m_started)
            drain();
    });
}

void TrafficHandler::startQueue()
{
    m_started = true;
    drain();
}

QCoro::Task<> TrafficHandler::drain()
{
    if (m_draining)
        co_return; // the running one takes the new entries too
    m_draining = true;
    const QPointer<TrafficHandler> self(this);
    while (!m_queue.isEmpty()) {
        co_await timerqueue();
        if (!self)
            co_return;
    }
    m_draining = false;
}

void TrafficHandler::incoming(const QString& address, int function)
{
    const QString house = address.left(1).toUpper();
    const int unit = RoomRecord::leadingNumber(address.mid(1));
    const QString unitText = QString::number(unit);
    m_statusBar.setStatus(StatusSink::Activity,
                          QStringLiteral("Incoming command from X10, %1%2, %3, at %4")
                              .arg(house, unitText)
                              .arg(function)
                              .arg(Clock::instance().now().toString(QStringLiteral("HH:mm"))));
    if (m_amacros)
        m_amacros(house, unitText, function);
    if (function != InterfaceControl::On && function != InterfaceControl::Off)
        return;
    const auto device = deviceAt(house, unit);
    if (!device)
        return;
    const bool on = function == InterfaceControl::On;
    // Nothing says how bright a device switched on from elsewhere is; the
    // web pages store full brightness for an on, and so does this.
    m_switch.record(device->deviceKey(), on, 100);
    sayTurned(*device, on);
}

std::optional<RoomRecord> TrafficHandler::deviceAt(const QString& house, int unit) const
{
    // The first in file order: A1 is never A10.
    const auto devices = m_rooms.devicesAt(house, unit);
    if (devices.isEmpty())
        return std::nullopt;
    return devices.first();
}

void TrafficHandler::sayTurned(const RoomRecord& device, bool on)
{
    m_statusBar.setStatus(StatusSink::Activity,
                          QStringLiteral("Incoming message, %1 has turned %2 at %3")
                              .arg(device.device, on ? QStringLiteral("on") : QStringLiteral("off"),
                                   Clock::instance().now().toString(QStringLiteral("H:mm:ss"))));
}

QCoro::Task<> TrafficHandler::timerqueue()
{
    const auto entry = m_queue.front();
    if (!entry) {
        m_queue.setText({});
        co_return;
    }
    const QPointer<TrafficHandler> self(this);
    const QString house = entry->house.toUpper();
    const bool on = entry->code == QLatin1Char('2');
    const auto device = deviceAt(house, RoomRecord::leadingNumber(entry->unit));
    // Recorded, when the interface carried it out, as the power line's own
    // traffic is. Any other code sends nothing. (Named: GCC 12 can destroy a
    // temporary of a co_await expression twice.)
    const QStringList keys = device ? QStringList{device->deviceKey()} : QStringList();
    SwitchResult result = SwitchResult::refused({});
    if (on || entry->code == QLatin1Char('3'))
        result = co_await m_switch.switchTo(house, entry->unit, on, 100, keys);
    if (!self)
        co_return;
    // A command that could not be sent leaves the queue too: tried again
    // and again it would hold up every command behind it. The commands
    // have said why; the device keeps its state and picture.
    m_queue.removeAll(*entry);
    if (result.isDone() && device)
        sayTurned(*device, on);
}

} // namespace casalux
