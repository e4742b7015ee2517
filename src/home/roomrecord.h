#pragma once

#include <QString>

#include <optional>

namespace casalux {

// One line of rmlst.rvf: a room ("Kitchen~~~") or a device
// ("Kitchen~Ceiling Light~A~1": room, name, house code, unit).
struct RoomRecord {
    QString room;
    QString device; // empty for a room
    QString house;  // "A".."P"; empty for a room
    int unit = 0;   // 1..16; 0 for a room

    bool isRoom() const { return device.isEmpty() && house.isEmpty(); }

    // A line holding "~~~" is a room; any other line with the four fields is
    // a device. Empty lines, lines without "~" and device lines whose address
    // is not an X10 address give nothing: readers skip them.
    static std::optional<RoomRecord> parse(const QString& line);

    // The file line for this record.
    QString line() const;

    static RoomRecord makeRoom(const QString& room) { return {room, {}, {}, 0}; }
    static RoomRecord makeDevice(const QString& room, const QString& device, const QString& house,
                                 int unit)
    {
        return {room, device, house, unit};
    }

    // Room name then device name, every space removed: names the device's
    // type, state and level in the settings stores.
    static QString deviceKey(const QString& room, const QString& device);
    QString deviceKey() const { return deviceKey(room, device); }

    // The address as the interface reports it: "A3", "B12".
    QString address() const { return house + QString::number(unit); }

    // Whole-number value of leading digits, as the unit field is read ("10" is 10).
    static int leadingNumber(const QString& text);
};

} // namespace casalux
