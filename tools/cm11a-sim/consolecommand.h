#pragma once

#include <QString>

namespace casalux::sim {

// One line typed on the simulator's standard input (case does not matter):
//   A3 ON | A3 OFF | A1 DIM 30 | A1 BRIGHT 40   traffic from a switch or remote
//   A ALL-UNITS-OFF | A ALL-LIGHTS-ON | A ALL-LIGHTS-OFF
//   COLLIDE A2 ON      the same, sent as the PC's next frame goes out
//   STATUS [A3]        module states, one "STATE ..." line each
//   POWERFAIL          start the 0xA5 clock request
//   HELP | QUIT
struct ConsoleCommand {
    enum class Kind { Invalid, Empty, Traffic, Status, PowerFail, Help, Quit };

    Kind kind = Kind::Invalid;
    int house = -1;
    int unit = 0; // 0 with Status = every module; 0 with house-wide traffic
    int function = 0;
    int percent = 0;
    bool collide = false;
    QString error;

    static ConsoleCommand parse(const QString& line);
    static QString help();
};

} // namespace casalux::sim
