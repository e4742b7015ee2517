#pragma once

#include <QByteArray>
#include <QChar>
#include <QDateTime>
#include <QString>

namespace casalux {

// The CM11A/CM12 serial protocol as pure functions over bytes, shared by the
// driver and the simulator. Houses are indices 0..15 for A..P, units 1..16,
// functions the X10 function codes 0..15.
class Cm11aProtocol final {
public:
    // Single bytes with a fixed meaning on the line.
    static constexpr quint8 Ack = 0x00;           // PC: checksum fine, transmit
    static constexpr quint8 Ready = 0x55;         // interface: transmission done
    static constexpr quint8 Poll = 0x5A;          // interface: I have data for you
    static constexpr quint8 PollAnswer = 0xC3;    // PC: send the upload buffer
    static constexpr quint8 PowerFail = 0xA5;     // interface: set my clock
    static constexpr quint8 SetClock = 0x9B;      // PC: clock download header
    static constexpr quint8 StatusRequest = 0x8B; // PC: send your 14-byte status

    static constexpr int MaxDimSteps = 22;   // dim field of a header on send
    static constexpr int MaxDims = 210;      // dim byte scale on receive
    static constexpr int StatusLength = 14;  // reply to StatusRequest
    static constexpr int MaxUploadSize = 9;  // size byte: mask + at most 8 data bytes
    static constexpr int SetClockLength = 7; // 0x9B and six clock bytes

    // Function codes with a name of their own here.
    static constexpr int AllUnitsOff = 0;
    static constexpr int AllLightsOn = 1;
    static constexpr int On = 2;
    static constexpr int Off = 3;
    static constexpr int Dim = 4;
    static constexpr int Bright = 5;
    static constexpr int AllLightsOff = 6;
    static constexpr int Extended = 7;
    static constexpr int ExtendedData = 12;

    // House and unit codes share one 4-bit table that is not in binary order.
    static int houseNibble(int house); // -1 outside 0..15
    static int unitNibble(int unit);   // -1 outside 1..16
    static int houseFromNibble(int nibble);
    static int unitFromNibble(int nibble);
    static int houseIndex(QChar letter); // -1 unless A..P (either case)
    static QChar houseLetter(int house);

    // The level argument of a send is a percentage of the full dim range for
    // Dim and Bright: steps = round(percent × 22 / 100), clamped to 0..22, so
    // 100 → 22 (full range), 70 → 15, and the plain-command level 20 → 4
    // steps (about a fifth of the range, the "one step" of a plain Dim).
    // Anything not a finite positive number is 0 steps.
    static int dimSteps(double percent);
    // Received dim bytes count on a 0..210 scale.
    static int percentFromDims(int dims);
    static int dimsFromPercent(int percent);
    // Dim steps of a header as a share of the full range, for display.
    static int percentFromSteps(int steps);

    static bool takesDimAmount(int function) { return function == Dim || function == Bright; }
    // Functions that act on every unit of a house without an address.
    static bool isHouseWide(int function);
    // A header byte of a standard (not extended) transmission.
    static bool isStandardHeader(quint8 header);

    static quint8 checksum(const QByteArray& bytes);
    // Bytes the interface sends unprompted (or as a stray leftover); a
    // checksum equal to one of them could not be told apart from it.
    static bool isAmbiguousReply(quint8 byte);

    // Header + code of an address or function transmission. The header keeps
    // bit 2 set and carries the dim steps in bits 7..3. When the checksum would
    // be 0x55, 0x5A or 0xA5, the dim field is moved by one step: the interface
    // ignores it on addresses and on functions other than Dim/Bright, and one
    // step of 22 is the smallest change to a dim amount that is unambiguous.
    static QByteArray addressFrame(int house, int unit);
    static QByteArray functionFrame(int house, int function, int steps = 0);

    // What the interface reads from a standard header + code.
    struct Frame {
        bool valid = false;
        bool isFunction = false;
        int house = 0;
        int unit = 0;     // addresses
        int function = 0; // functions
        int steps = 0;    // dim field of the header
    };
    static Frame decodeFrame(quint8 header, quint8 code);

    // Answer to the power-fail request: 0x9B, seconds, minutes 0..119
    // (minute + 60 × (hour mod 2)), hours / 2, year-day bits 0..7, year-day bit
    // 8 in bit 7 with the weekday bit (bit 0 = Sunday), the monitored house in
    // the high nibble of the last byte and no clear/purge flags. The interface
    // sums bytes 1..6; should that sum be ambiguous, the seconds move by one.
    static QByteArray setClockMessage(const QDateTime& at, int monitoredHouse = 0);
    static quint8 setClockChecksum(const QByteArray& message);
    struct ClockTime {
        bool valid = false;
        int hour = 0;
        int minute = 0;
        int second = 0;
        int yearDay = 0; // 0-based
        int weekdayMask = 0;
        int monitoredHouse = 0;
    };
    static ClockTime decodeSetClock(const QByteArray& message);

    // True for a 14-byte status reply whose clock fields are in range, which
    // tells the interface from a port that merely echoes or babbles.
    static bool isPlausibleStatus(const QByteArray& reply);

    static QString functionName(int function);
};

} // namespace casalux
