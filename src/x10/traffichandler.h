#pragma once

#include "commandqueue.h"
#include "deviceswitch.h"
#include "home/roomrecord.h"

#include <QObject>

#include <functional>
#include <optional>

#include <qcoro/qcorotask.h>

namespace casalux {

class DeviceCommands;
class DeviceStatus;
class InterfaceControl;
class RoomList;
class RoomView;
class StatusSink;

// Commands that reach devices without a click: those other senders put on
// the power line (a wall switch, a remote), reported by the interface, and
// those macros put in the command queue, sent one after another through
// `timerqueue` as soon as they are queued, each waiting for the line like
// any other command. Both keep the stored state and the room view's
// pictures in step.
class TrafficHandler final : public QObject {
    Q_OBJECT

public:
    // The macro engine's trigger: house code, unit, function code.
    using MacroTrigger = std::function<void(const QString& house, const QString& unit, int code)>;

    TrafficHandler(InterfaceControl& control, RoomList& rooms, DeviceCommands& commands,
                   DeviceStatus& status, StatusSink& statusBar, QObject* parent = nullptr);

    void setMacroTrigger(MacroTrigger trigger) { m_amacros = std::move(trigger); }
    // The room view to keep in step; none in the engine.
    void setRoomView(RoomView* view) { m_switch.setRoomView(view); }

    CommandQueue& queue() { return m_queue; }

    // From now on, for the life of the main window, queued commands are sent
    // as they come (any queued already go at once).
    void startQueue();

    // The interface's report of a command seen on the power line.
    void incoming(const QString& address, int function);
    // Sends the first queued command, once the line is free.
    QCoro::Task<> timerqueue();

private:
    // The device at this address, as found for the power line's traffic.
    std::optional<RoomRecord> deviceAt(const QString& house, int unit) const;
    void sayTurned(const RoomRecord& device, bool on);
    // Sends queued commands until none is left.
    QCoro::Task<> drain();

    InterfaceControl& m_control;
    RoomList& m_rooms;
    StatusSink& m_statusBar;
    DeviceSwitch m_switch;
    MacroTrigger m_amacros;
    CommandQueue m_queue;
    bool m_started = false;
    bool m_draining = false;
};

} // namespace casalux
