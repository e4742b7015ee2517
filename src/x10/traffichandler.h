#pragma once

#include "commandqueue.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

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
// those macros put in the command queue, sent one per tick of `timerqueue`.
// Both keep the stored state and the room view's pictures in step.
class TrafficHandler final : public QObject {
    Q_OBJECT

public:
    // The macro engine's trigger: house code, unit, function code.
    using MacroTrigger = std::function<void(const QString& house, const QString& unit, int code)>;

    static constexpr int queueIntervalMs = 2000;

    TrafficHandler(InterfaceControl& control, RoomList& rooms, DeviceCommands& commands,
                   DeviceStatus& status, StatusSink& statusBar, QObject* parent = nullptr);

    void setMacroTrigger(MacroTrigger trigger) { m_amacros = std::move(trigger); }
    // The room view to keep in step; none in the engine.
    void setRoomView(RoomView* view) { m_view = view; }

    CommandQueue& queue() { return m_queue; }

    // Starts `timerqueue`, which runs for the life of the main window.
    void startQueue();

    // The interface's report of a command seen on the power line.
    void incoming(const QString& address, int function);
    // One tick of the queue timer: sends the first queued command.
    QCoro::Task<> timerqueue();

private:
    void showDevice(const QString& house, int unit, int function);

    InterfaceControl& m_control;
    RoomList& m_rooms;
    DeviceCommands& m_commands;
    DeviceStatus& m_status;
    StatusSink& m_statusBar;
    RoomView* m_view = nullptr;
    MacroTrigger m_amacros;
    CommandQueue m_queue;
    QTimer m_timer;
    bool m_ticking = false;
};

} // namespace casalux
