#pragma once

#include "home/settingsstore.h"
#include "simprocess.h"
#include "tempfolder.h"

#include <QProcess>

namespace casalux::test {

// The real hearthcore program on a throw-away program folder, with the
// simulated interface stored as port 1 and the web server on a free port.
// The engine's per-user settings are where it looks for them
// (XDG_CONFIG_HOME inside the folder).
struct EngineRig {
    TempFolder folder;
    SettingsStore settings{folder.file(QStringLiteral("machine.ini")),
                           folder.file(QStringLiteral("config/Casalux"))};
    SimProcess sim;
    QProcess engine;
    const quint16 webPort;
    // Passed to the simulator, e.g. a line delay that makes commands slow.
    QStringList simArguments;
    // The engine's command line.
    QStringList arguments;
    // Set in the engine's environment last (over the rig's own values).
    QHash<QString, QString> environment;
    // Points every port 1..15 at a name in the folder's dev/ that does not
    // exist yet, so a search touches none of the machine's own devices.
    void hideAllPorts();
    QString hiddenPort(int port) const
    {
        return folder.file(QStringLiteral("dev/ttyX%1").arg(port));
    }

    EngineRig();
    // Ends the engine as a service manager would: SIGTERM, then a kill.
    ~EngineRig();

    // Starts the simulator, then the engine. With `now` set, the engine's
    // clock starts there and runs `timeScale` times fast; else real time.
    bool start(const QString& now = {}, double timeScale = 0);
    // With this set before start(), port 1 is a symbolic link in the folder
    // (as a /dev/serial/by-id name is) that points at the simulator.
    bool throughLink = false;
    QString linkPath() const { return folder.file(QStringLiteral("usb-X10_CM11A-if00")); }
    // Points the link at another simulator in one step.
    bool relink(const SimProcess& to) const;
    QString simLog() const { return sim.lines().join(QLatin1Char('\n')); }
};

} // namespace casalux::test
