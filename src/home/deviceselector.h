#pragma once

#include "roomrecord.h"

#include <QString>

#include <optional>

namespace casalux {

// The device pick lists of the event and macro editors show each device as
// "room device address", e.g. "Lounge Lamp A3" or "Hall Light B12".
class DeviceSelector final {
public:
    struct Choice {
        QString device; // room, a blank, the device name
        QString house;
        int unit = 0;
        QString address() const { return house + QString::number(unit); }
    };

    static QString text(const RoomRecord& device);

    // The last three characters are the address (a leading blank dropped),
    // the rest with trailing blanks removed is the device text. Nothing when
    // the text is too short to hold an address or the address is not one.
    static std::optional<Choice> split(const QString& text);
};

} // namespace casalux
