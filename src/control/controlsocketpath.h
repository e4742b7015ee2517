#pragma once

#include <QString>

namespace casalux {

// Where the control socket lives, and whether a place is safe for it.
//
// The package makes /run/casalux at boot (casalux:casalux, 2770): there
// members of group casalux reach whichever program serves. Without it the
// socket is the user's own, in their runtime folder (/run/user/UID when
// XDG_RUNTIME_DIR is not set, as under cron), else in ~/.casalux, and only
// without a home in a folder of their own under /tmp (which another user
// could have made first). CASALUX_CONTROL_SOCKET names
// the socket outright (tests, unusual set-ups).
//
// The installed home's socket is called "control"; a program running
// another folder serves "control-" and a mark made from that folder's
// real path, so a second home on the machine has its own socket and
// casaluxctl reaches the program of the home it was given.
//
// A socket is only used in a folder nobody else can put files in: anyone
// who could would be able to serve a false socket to the command line, or
// take the name from the programs.
class ControlSocketPath final {
public:
    struct Choice {
        QString path;
        bool shared = false; // group members may use it (mode 0660, not 0600)
    };

    static constexpr const char* sharedFolder = "/run/casalux";
    static constexpr const char* socketName = "control";
    static constexpr const char* environmentName = "CASALUX_CONTROL_SOCKET";

    static Choice choose(const QString& programFolder);
    // The socket's file name for the home in `programFolder`.
    static QString nameFor(const QString& programFolder);

    // Empty when a socket at `path` may be used by this user: its folder is
    // a real folder (no link), owned by root, this user or the casalux
    // user, writable by its owner and at most its group, that group being
    // casalux or the owner's own; a file already at `path` is a socket of
    // one of those owners. Otherwise why not.
    static QString unsafe(const QString& path);

    // Makes the user's own folder for the socket (0700) when it is missing.
    static bool prepareFolder(const QString& path, QString* why);
};

} // namespace casalux
