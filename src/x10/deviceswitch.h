#pragma once

#include "switchqueue.h"
#include "switchresult.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

namespace casalux {

class DeviceCommands;
class DeviceStatus;
class RoomView;

// Switching a device and keeping what is known of it in step, the same way
// for every part of the program that switches one (a click or a slider, a
// page, a hub, the command line, a timed event, a spoken command, a macro's
// queued command): the device commands send it, once the line is free, and
// tell the macros; only once the interface has carried it out is the
// device's state and level recorded and its slot in the room view, when the
// room on view shows it, redrawn. Traffic seen on the power line, which
// nobody here sent, is recorded and redrawn the same way.
class DeviceSwitch final : public QObject {
    Q_OBJECT

public:
    DeviceSwitch(DeviceCommands& commands, DeviceStatus& status, QObject* parent = nullptr);

    // The room view to keep in step; none in the engine.
    void setRoomView(RoomView* view) { m_view = view; }

    // Switches the device at this address off, or on at `percent` (100 a
    // plain on, anything else the dimming sequence), and records it for
    // each of `deviceKeys`: the devices at that address whose state follows.
    QCoro::Task<SwitchResult> switchTo(QString house, QString unit, bool on, int percent,
                                       QStringList deviceKeys);
    // The same for a caller that holds its turn of the line already.
    QCoro::Task<SwitchResult> switchTo(const SwitchQueue::Turn& turn, QString house, QString unit,
                                       bool on, int percent, QStringList deviceKeys);

    // Records a device as switched off, or on at `percent`, and redraws it.
    void record(const QString& deviceKey, bool on, int percent);

    // The slot of the room view showing this device (its key, blanks and
    // letter case aside), or -1 when the room on view does not show it.
    static int slotShowing(const RoomView& view, const QString& deviceKey);

private:
    QCoro::Task<SwitchResult> recorded(QCoro::Task<SwitchResult> sending, bool on, int percent,
                                       QStringList deviceKeys);

    DeviceCommands& m_commands;
    DeviceStatus& m_status;
    RoomView* m_view = nullptr;
};

} // namespace casalux
