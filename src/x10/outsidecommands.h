#pragma once

#include "home/roomlist.h"
#include "home/roomrecord.h"
#include "deviceswitch.h"
#include "switchresult.h"

#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>

namespace casalux {

class DeviceCommands;
class DeviceStatus;
class RoomView;
class SettingsStore;

// Device commands that come from outside the program's own window and
// pages (a home-automation hub, the command line): a device named by room
// and name or by its address, switched through the device commands (whose
// queue serves every part of the program in the order asked), its state
// recorded and its slot redrawn as a click would. Nothing counts unless
// the interface carried it out.
class OutsideCommands final : public QObject {
    Q_OBJECT

public:
    struct Device {
        RoomRecord record;
        QString kind; // the picture family: "lamp", "switch", ...
        bool dimmable = false;
        QString key() const { return record.deviceKey(); }
    };

    // The list file of `rooms` is read into a list of this object's own, so
    // that reading it afresh never changes the list the window is showing.
    OutsideCommands(const RoomList& rooms, SettingsStore& settings, DeviceCommands& commands,
                    DeviceStatus& status, QObject* parent = nullptr);
    ~OutsideCommands() override;

    // The room view to keep in step; none in the engine.
    void setRoomView(RoomView* view) { m_switch.setRoomView(view); }
    // Asked before each command: empty to go ahead, or why the program
    // cannot switch now (it has handed the interface over, it is ending).
    void setGate(std::function<QString()> gate) { m_gate = std::move(gate); }

    // Every device of the home, in file order (the list file is read afresh).
    QList<Device> devices() const;
    // A device by "Room Name" (room and device name joined by a space,
    // letter case aside; the longest room name that fits wins) or by its
    // address ("A3", the first device there). None when nothing matches.
    std::optional<Device> find(const QString& target) const;

    // Why the device cannot be dimmed to this level (an appliance module
    // only switches), or empty when it can.
    static QString cannotDim(const Device& device, int percent);

    // `stillWanted`, when given, is asked once the command's turn has come:
    // empty to go ahead, or why it is no longer wanted (the caller has gone,
    // its time has passed); it is then refused with that reason, not
    // carried out late.
    using StillWanted = std::function<QString()>;
    QCoro::Task<SwitchResult> switchDevice(Device device, bool on, StillWanted stillWanted = {});
    // percent 1..99 dims, 100 is a plain on, 0 switches off.
    QCoro::Task<SwitchResult> dimDevice(Device device, int percent, StillWanted stillWanted = {});
    // A hub's wish, which says how the device should be rather than what to
    // send: like dimDevice, but a dimmable device that is already on when
    // the turn comes is left as it is (nothing sent) at the level asked, or
    // at any level for keepLevel, the hub's plain "on".
    static constexpr int keepLevel = -1;
    QCoro::Task<SwitchResult> bringTo(Device device, int percent);

    // How many commands may wait for the line. Of the outside commands for
    // one device only the newest waits: it replaces an older one that has
    // not started, which is refused. Beyond the limit a new command is
    // refused.
    static constexpr int maxWaiting = 256;

    // A command, of this object's or any other part's, is waiting or under way.
    bool busy() const;
    // Outside commands waiting for the line (the one under way not counted).
    int waitingCount() const { return m_waiting; }

private:
    class Asked;
    // percent as for dimDevice, or keepLevel; `wish` as for bringTo.
    QCoro::Task<SwitchResult> run(Device device, int percent, bool wish = false,
                             StillWanted stillWanted = {});

    mutable RoomList m_rooms;
    SettingsStore& m_settings;
    DeviceCommands& m_commands;
    DeviceStatus& m_status;
    DeviceSwitch m_switch;
    std::function<QString()> m_gate;
    int m_waiting = 0;
};

} // namespace casalux
