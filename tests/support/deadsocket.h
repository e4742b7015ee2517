#pragma once

#include <QString>

namespace casalux::test {

// Leaves a socket file as a program that died leaves it: bound, with nobody
// listening. False when it could not be made.
bool leaveDeadSocket(const QString& path);

} // namespace casalux::test
