#pragma once

#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

namespace casalux {

class EventList;
class SettingsStore;

// Profiles are alternative schedules. The current profile's schedule is
// always evelst.rvf; every other profile that has been used is parked in the
// program folder as "<Profile>.txt" (Weekends.txt) in the same format.
class EventProfiles final {
public:
    EventProfiles(EventList& events, SettingsStore& settings);

    // The profile selector's items, in order.
    static QStringList names();
    // The parked file of a profile: its name with ".txt".
    QString parkedPath(const QString& profile) const;
    static QString parkedPath(const QString& folder, const QString& profile);

    // A profile name must stay a plain file name inside the program folder
    // and must not clash with the rewrite's scratch file temp.txt.
    static bool isUsableName(const QString& profile);

    // The stored current profile ("Standard" when none was stored).
    QString current() const;

    enum class SwapResult { Swapped, Refused, Failed };

    // The selector now reads `next`: park the current schedule in the old
    // profile's file and make the new profile's parked schedule the current
    // one (an empty schedule when it has none). Holds `filebusy` throughout.
    // Each file is replaced in one step and the old schedule is parked before
    // evelst.rvf is touched, so a failure or a power cut never loses a
    // schedule. On failure the stored profile name is put back.
    QCoro::Task<SwapResult> swapProfile(QString next);

private:
    EventList& m_events;
    SettingsStore& m_settings;
};

} // namespace casalux
