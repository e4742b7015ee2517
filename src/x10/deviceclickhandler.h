#pragma once

#include "deviceswitch.h"

#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

namespace casalux {

class BusyMark;
class DeviceCommands;
class DeviceStatus;
class InterfaceFinder;
class Prompts;
class RoomList;
class RoomView;
class SoundPlayer;

// A click on a device of the room view, or a move of its slider: switches
// the device, records its state and updates its picture and slider.
class DeviceClickHandler final : public QObject {
    Q_OBJECT

public:
    struct Parts {
        InterfaceFinder& finder;
        RoomList& rooms;
        DeviceCommands& commands;
        DeviceStatus& status;
        RoomView& view;
        Prompts& prompts;
        SoundPlayer& sounds;
        BusyMark& filebusy; // also keeps the program's own slider moves from echoing
        QString programFolder;
    };

    explicit DeviceClickHandler(Parts parts, QObject* parent = nullptr);

    // Slot `index` (0..9) of the room view. adim 100 (or 0) is a click that
    // toggles the device; anything else switches it on at that brightness.
    QCoro::Task<> deviceclicked(int index, int adim = 100);

    void playfile(const QString& fileName);

private:
    Parts m_parts;
    DeviceSwitch m_switch;
};

} // namespace casalux
