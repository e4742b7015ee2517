#pragma once

#include <QIcon>

namespace casalux {

// The program's own icon, for its windows and the tray. Built into the
// program, so a program folder without pictures (a new home, a moved
// folder) still gives the tray entry a face to click.
class ProgramIcon final {
public:
    // The PNG sizes, and the SVG where the SVG image plug-in is installed.
    static QIcon icon();
};

} // namespace casalux
