#include "cm11aprotocol.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace casalux {

namespace {

// `value` of a range 0..from, as the same share of 0..to, rounded; clamped.
int scaled(int value, int from, int to)
{
    if (value <= 0)
        return 0;
    if (value >= from)
        return to;
    return static_cast<int>(std::lround(double(value) * to / from));
}

// The clock fields as both the set-clock message and the status reply hold
// them, from `at` on: seconds, minutes (0..119), hours / 2, year day.
bool clockFieldsValid(const QByteArray& bytes, int at)
{
    const auto byte = [&](int i) { return static_cast<int>(static_cast<quint8>(bytes[at + i])); };
    const int yearDay = byte(3) | ((byte(4) & 0x80) << 1);
    return byte(0) < 60 && byte(1) < 120 && byte(2) < 12 && yearDay < 366;
}

// Index = house (A..P) or unit - 1 (1..16); value = the 4-bit code.
constexpr std::array<int, 16> kCodes = {0x6, 0xE, 0x2, 0xA, 0x1, 0x9, 0x5, 0xD,
                                        0x7, 0xF, 0x3, 0xB, 0x0, 0x8, 0x4, 0xC};

int indexOfCode(int nibble)
{
    for (int i = 0; i < 16; ++i) {
        if (kCodes[static_cast<std::size_t>(i)] == nibble)
            return i;
    }
    return -1;
}

QByteArray frame(int header, int code)
{
    QByteArray bytes;
    bytes.append(static_cast<char>(header));
    bytes.append(static_cast<char>(code));
    return bytes;
}

// Moves the dim field by the smallest step that gives an unambiguous checksum.
// Differences between the ambiguous values are never 8 (one step), so one of
// the two neighbours always works.
int safeSteps(int steps, int baseHeader, int code)
{
    auto sum = [&](int s) { return static_cast<quint8>((((s << 3) | baseHeader) + code) & 0xFF); };
    if (!Cm11aProtocol::isAmbiguousReply(sum(steps)))
        return steps;
    for (int delta : {-1, 1, -2, 2}) {
        const int s = steps + delta;
        if (s >= 0 && s <= Cm11aProtocol::MaxDimSteps && !Cm11aProtocol::isAmbiguousReply(sum(s)))
            return s;
    }
    return steps; // unreachable with the three ambiguous values
}

} // namespace

int Cm11aProtocol::houseNibble(int house)
{
    return house >= 0 && house < 16 ? kCodes[static_cast<std::size_t>(house)] : -1;
}

int Cm11aProtocol::unitNibble(int unit)
{
    return unit >= 1 && unit <= 16 ? kCodes[static_cast<std::size_t>(unit - 1)] : -1;
}

int Cm11aProtocol::houseFromNibble(int nibble)
{
    return indexOfCode(nibble & 0xF);
}

int Cm11aProtocol::unitFromNibble(int nibble)
{
    return indexOfCode(nibble & 0xF) + 1;
}

int Cm11aProtocol::houseIndex(QChar letter)
{
    const char16_t c = letter.toUpper().unicode();
    return c >= u'A' && c <= u'P' ? c - u'A' : -1;
}

QChar Cm11aProtocol::houseLetter(int house)
{
    return house >= 0 && house < 16 ? QChar(u'A' + house) : QChar(u'?');
}

int Cm11aProtocol::dimSteps(double percent)
{
    if (!std::isfinite(percent) || percent <= 0)
        return 0;
    if (percent >= 100)
        return MaxDimSteps;
    return static_cast<int>(std::lround(percent * MaxDimSteps / 100.0));
}

int Cm11aProtocol::percentFromDims(int dims)
{
    return scaled(dims, MaxDims, 100);
}

int Cm11aProtocol::dimsFromPercent(int percent)
{
    return scaled(percent, 100, MaxDims);
}

int Cm11aProtocol::percentFromSteps(int steps)
{
    return scaled(steps, MaxDimSteps, 100);
}

bool Cm11aProtocol::isStandardHeader(quint8 header)
{
    // Bit 2 always set, bit 0 clear: not an extended transmission.
    return (header & 0x04) != 0 && (header & 0x01) == 0;
}

bool Cm11aProtocol::isHouseWide(int function)
{
    return function == AllUnitsOff || function == AllLightsOn || function == AllLightsOff;
}

quint8 Cm11aProtocol::checksum(const QByteArray& bytes)
{
    unsigned sum = 0;
    for (char b : bytes)
        sum += static_cast<quint8>(b);
    return static_cast<quint8>(sum & 0xFF);
}

bool Cm11aProtocol::isAmbiguousReply(quint8 byte)
{
    return byte == Ready || byte == Poll || byte == PowerFail;
}

QByteArray Cm11aProtocol::addressFrame(int house, int unit)
{
    const int code = (houseNibble(house) << 4) | unitNibble(unit);
    return frame((safeSteps(0, 0x04, code) << 3) | 0x04, code);
}

QByteArray Cm11aProtocol::functionFrame(int house, int function, int steps)
{
    const int code = (houseNibble(house) << 4) | (function & 0xF);
    const int wanted = takesDimAmount(function) ? std::clamp(steps, 0, int(MaxDimSteps)) : 0;
    return frame((safeSteps(wanted, 0x06, code) << 3) | 0x06, code);
}

Cm11aProtocol::Frame Cm11aProtocol::decodeFrame(quint8 header, quint8 code)
{
    Frame f;
    if (!isStandardHeader(header))
        return f;
    f.valid = true;
    f.isFunction = (header & 0x02) != 0;
    f.steps = header >> 3;
    f.house = houseFromNibble(code >> 4);
    if (f.isFunction)
        f.function = code & 0x0F;
    else
        f.unit = unitFromNibble(code & 0x0F);
    return f;
}

QByteArray Cm11aProtocol::setClockMessage(const QDateTime& at, int monitoredHouse)
{
    const QDate date = at.date();
    const QTime time = at.time();
    const int yearDay = date.dayOfYear() - 1;
    const int weekday = date.dayOfWeek() % 7; // Qt: Monday 1 .. Sunday 7; here Sunday 0
    QByteArray m(SetClockLength, '\0');
    m[0] = static_cast<char>(SetClock);
    m[1] = static_cast<char>(time.second());
    m[2] = static_cast<char>(time.minute() + 60 * (time.hour() % 2));
    m[3] = static_cast<char>(time.hour() / 2);
    m[4] = static_cast<char>(yearDay & 0xFF);
    m[5] = static_cast<char>(((yearDay >> 8) & 0x1) << 7 | (1 << weekday));
    m[6] = static_cast<char>((houseNibble(std::clamp(monitoredHouse, 0, 15)) << 4));
    if (isAmbiguousReply(setClockChecksum(m))) {
        const int s = time.second();
        m[1] = static_cast<char>(s < 59 ? s + 1 : s - 1);
    }
    return m;
}

quint8 Cm11aProtocol::setClockChecksum(const QByteArray& message)
{
    return checksum(message.mid(1));
}

Cm11aProtocol::ClockTime Cm11aProtocol::decodeSetClock(const QByteArray& message)
{
    ClockTime c;
    if (message.size() != SetClockLength || static_cast<quint8>(message[0]) != SetClock)
        return c;
    const auto byte = [&](int i) { return static_cast<int>(static_cast<quint8>(message[i])); };
    c.second = byte(1);
    c.minute = byte(2) % 60;
    c.hour = byte(3) * 2 + byte(2) / 60;
    c.yearDay = byte(4) | ((byte(5) & 0x80) << 1);
    c.weekdayMask = byte(5) & 0x7F;
    c.monitoredHouse = houseFromNibble(byte(6) >> 4);
    c.valid = clockFieldsValid(message, 1);
    return c;
}

bool Cm11aProtocol::isPlausibleStatus(const QByteArray& reply)
{
    return reply.size() == StatusLength && clockFieldsValid(reply, 2);
}

QString Cm11aProtocol::functionName(int function)
{
    static const char* const names[16] = {"ALL-UNITS-OFF",
                                          "ALL-LIGHTS-ON",
                                          "ON",
                                          "OFF",
                                          "DIM",
                                          "BRIGHT",
                                          "ALL-LIGHTS-OFF",
                                          "EXTENDED",
                                          "HAIL-REQUEST",
                                          "HAIL-ACK",
                                          "PRESET-DIM-1",
                                          "PRESET-DIM-2",
                                          "EXTENDED-DATA",
                                          "STATUS-ON",
                                          "STATUS-OFF",
                                          "STATUS-REQUEST"};
    return QString::fromLatin1(names[function & 0xF]);
}

} // namespace casalux
