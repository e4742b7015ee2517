#pragma once

#include "home/devicestatus.h"
#include "home/roomlist.h"
#include "home/settingkeys.h"
#include "recordingstatus.h"
#include "scriptedinterface.h"
#include "temphome.h"
#include "x10/devicecommands.h"
#include "x10/outsidecommands.h"

namespace casalux::test {

// Outside commands on a scripted interface, in a throw-away home whose list
// file and device kinds the test writes.
struct OutsideRig {
    TempHome home;
    ScriptedInterface control;
    RecordingStatus bar;
    DeviceCommands commands{control, bar, CommandPolicy::engine()};
    DeviceStatus status{home.settings};
    RoomList rooms{home.folder.path()};
    OutsideCommands outside{rooms, home.settings, commands, status};

    void writeList(const QByteArray& lines)
    {
        home.folder.write(QString::fromLatin1(RoomList::fileName), lines);
    }
    // The picture family of a device, as the desktop's add-device panel stores it.
    void setKind(const QString& deviceKey, const QString& family)
    {
        home.settings.SaveSetting(QString::fromLatin1(settingkeys::appName),
                                  QString::fromLatin1(settingkeys::typeSection), deviceKey, family);
    }
    QStringList sent() const
    {
        QStringList out;
        for (const auto& s : control.sent)
            out.append(s.text());
        return out;
    }
};

} // namespace casalux::test
