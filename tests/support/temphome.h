#pragma once

#include "home/settingkeys.h"
#include "home/settingsstore.h"
#include "tempfolder.h"

namespace casalux::test {

// A throw-away program folder with both settings stores inside it.
struct TempHome {
    TempFolder folder;
    SettingsStore settings{folder.file(QStringLiteral("machine.ini")),
                           folder.file(QStringLiteral("user"))};

    // A machine-wide value under the program's key, such as a device's state.
    QString machineValue(const QString& name) const
    {
        return settings.GetString(SettingsStore::Root::LocalMachine,
                                  QString::fromLatin1(settingkeys::casaluxPath), name);
    }
};

} // namespace casalux::test
