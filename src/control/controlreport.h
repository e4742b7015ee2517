#pragma once

#include "x10/outsidecommands.h"

#include <QJsonObject>
#include <QList>
#include <QString>

namespace casalux {

class DeviceStatus;
class SettingsStore;

// What "status" and "events" answer, as JSON: built by the program that
// serves the socket, or by the command line itself when none runs. Field
// names are kept stable for scripts.
class ControlReport final {
public:
    struct Interface {
        QString state;  // "ready", "lost" or "none" (no program holds it)
        int port = 0;   // 0: none stored, or a device path
        QString holder; // "engine", "desktop", or empty
        QString path;   // the device path when the port is stored as one
    };

    // No program holds the interface: the port stored for it, if any.
    static Interface nobodyHolds(const SettingsStore& settings);

    static QJsonObject status(const QList<OutsideCommands::Device>& devices,
                              const DeviceStatus& states, const Interface& interface);
    // The event list of the current profile in file order.
    static QJsonObject events(const QString& programFolder);
};

} // namespace casalux
