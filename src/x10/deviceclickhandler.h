#pragma once

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
class DeviceClickHandler final {
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

    explicit DeviceClickHandler(Parts parts) : m(std::move(parts)) {}

    // Slot `index` (0..9) of the room view. adim 100 (or 0) is a click that
    // toggles the device; anything else switches it on at that brightness.
    QCoro::Task<> deviceclicked(int index, int adim = 100);

    void playfile(const QString& fileName);

private:
    Parts m;
};

} // namespace casalux
