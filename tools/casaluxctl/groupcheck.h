#pragma once

#include <QString>

namespace casalux {

// Whether this user can reach the program's folder and socket at all. A
// user outside their group cannot; every later failure (the socket not
// found, the serial port not opened) would then blame the wrong thing.
class GroupCheck final {
public:
    // Empty when both can be reached (or do not exist); else what to do
    // about it, e.g. "cannot use /var/lib/casalux: anna is not in group
    // casalux: sudo adduser anna casalux, then log in again".
    // `write`: the command changes files in the folder.
    static QString blocked(const QString& programFolder, const QString& socketPath, bool write);
};

} // namespace casalux
