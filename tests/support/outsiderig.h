#pragma once

#include "corerig.h"
#include "home/settingkeys.h"
#include "x10/outsidecommands.h"

namespace casalux::test {

// Outside commands on the scripted core, in a throw-away home whose list
// file and device kinds the test writes.
struct OutsideRig {
    CoreRig core{CommandPolicy::engine()};
    TempHome& home = core;
    ScriptedInterface& control = core.control;
    RecordingStatus& bar = core.status;
    DeviceCommands& commands = core.commands;
    DeviceStatus& status = core.deviceStatus;
    RoomList& rooms = core.rooms;
    OutsideCommands outside{rooms, home.settings, commands, status};

    void writeList(const QByteArray& lines) { core.writeList(lines); }
    // The picture family of a device, as the desktop's add-device panel stores it.
    void setKind(const QString& deviceKey, const QString& family)
    {
        home.settings.SaveSetting(QString::fromLatin1(settingkeys::appName),
                                  QString::fromLatin1(settingkeys::typeSection), deviceKey, family);
    }
    QStringList sent() const { return core.sent(); }
};

} // namespace casalux::test
