#include "traffichandler.h"

#include "devicecommands.h"
#include "interfacecontrol.h"
#include "roomview.h"
#include "home/devicestatus.h"
#include "home/roomlist.h"
#include "platform/clock.h"
#include "platform/statussink.h"

#include <QPointer>

namespace casalux {

TrafficHandler::TrafficHandler(InterfaceControl& control, RoomList& rooms,
                               DeviceCommands& commands, DeviceStatus& status,
                               StatusSink& statusBar, QObject* parent)
    : QObject(parent), m_control(control), m_rooms(rooms), m_commands(commands),
      m_status(status), m_statusBar(statusBar)
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
    showDevice(house, unit, function);
}

void TrafficHandler::showDevice(const QString& house, int unit, int function)
{
    if (function != InterfaceControl::On && function != InterfaceControl::Off)
        return;
    const auto devices = m_rooms.devicesAt(house, unit);
    if (devices.isEmpty())
        return;
    const RoomRecord& device = devices.first();
    const QString key = device.deviceKey();
    const bool on = function == InterfaceControl::On;
    // Nothing says how bright a device switched on from elsewhere is; the
    // web pages store full brightness for an on, and so does this.
    m_status.setstatus(key, on ? QStringLiteral("on") : QStringLiteral("off"),
                       on ? QStringLiteral("100") : QStringLiteral("0"));
    m_statusBar.setStatus(StatusSink::Activity,
                          QStringLiteral("Incoming message, %1 has turned %2 at %3")
                              .arg(device.device, on ? QStringLiteral("on") : QStringLiteral("off"),
                                   Clock::instance().now().toString(QStringLiteral("H:mm:ss"))));
    // Only the room on view is redrawn: a device of the same name in
    // another room has no slot here.
    if (!m_view || m_view->shownRoom() != device.room)
        return;
    const int index = m_view->slotOf(device.device);
    if (index < 0)
        return;
    if (on)
        m_view->setpictureon(index, key);
    else
        m_view->setpictureoff(index, key);
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
    // (Not a conditional expression: GCC 12 mis-compiles co_await in one.)
    SwitchResult result = SwitchResult::refused({});
    if (entry->code == QLatin1Char('2'))
        result = co_await m_commands.turnon(house, entry->unit, 100);
    else if (entry->code == QLatin1Char('3'))
        result = co_await m_commands.turnoff(house, entry->unit);
    if (!self)
        co_return;
    // A command that could not be sent leaves the queue too: tried again
    // and again it would hold up every command behind it. The commands
    // have said why; the device keeps its state and picture.
    m_queue.removeAll(*entry);
    if (!result.isDone())
        co_return;
    const int function = entry->code == QLatin1Char('2')   ? InterfaceControl::On
                         : entry->code == QLatin1Char('3') ? InterfaceControl::Off
                                                           : 0;
    showDevice(house, RoomRecord::leadingNumber(entry->unit), function);
}

} // namespace casalux
