#pragma once

#include <QString>

namespace casalux {

// Port numbers 1..15 as the programs know them, mapped to device paths:
//   1..4   /dev/ttyS0..ttyS3     built-in serial ports
//   5..12  /dev/ttyUSB0..ttyUSB7 USB-serial adapters (FTDI, Prolific, ...)
//   13..15 /dev/ttyACM0..ttyACM2 USB modem-class adapters
// CASALUX_SERIAL_<n> overrides port n with any path, e.g. a stable
// /dev/serial/by-id/... link, since USB names change between reboots.
class SerialPortMap final {
public:
    static constexpr int FirstPort = 1;
    static constexpr int LastPort = 15;

    // Empty for a number outside 1..15.
    static QString devicePath(int port);
    static QString defaultPath(int port);
};

} // namespace casalux
