#pragma once

#include <QString>
#include <QStringList>

namespace casalux {

// The data folder holding rmlst.rvf, evelst.rvf, macs.hlk, the parked
// profiles, html/ and the sounds.
class ProgramFolder final {
public:
    // From `--home DIR` (or `--home=DIR`) in args, else $CASALUX_HOME, else
    // installedFolder() for a program in the install's bindir, else the folder
    // of the executable. The result is absolute, without a trailing slash.
    static QString resolve(const QStringList& args, const QString& executableDir);

    // The shared folder of installed programs (/var/lib/casalux).
    static QString installedFolder();

    // `name` inside `folder`.
    static QString file(const QString& folder, const QString& name);

    // New files of this process are 0660 and folders 0770: writable for the
    // group that shares the program folder, closed to everyone else (the
    // folder holds the MQTT password and the web login).
    static void closeNewFilesToOthers();
};

} // namespace casalux
