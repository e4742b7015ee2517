#include "eventprofiles.h"

#include "eventlist.h"
#include "home/settingkeys.h"
#include "home/settingsstore.h"
#include "home/textlistfile.h"
#include "platform/busymark.h"

#include <QDir>
#include <QFile>

namespace casalux {

namespace {

constexpr const char* parkTempName = "profile.tmp"; // scratch file of the parking step

// Copies one list file over another in one step; a missing source removes
// the target, so "no parked schedule" stays "no file" rather than an empty one.
bool copyList(const QString& from, const QString& to, const QString& temp)
{
    if (!QFile::exists(from))
        return !QFile::exists(to) || QFile::remove(to);
    return TextListFile::replace(to, temp, TextListFile::readLines(from));
}

} // namespace

EventProfiles::EventProfiles(EventList& events, SettingsStore& settings)
    : m_events(events), m_settings(settings)
{
}

QStringList EventProfiles::names()
{
    return {QStringLiteral("Christmas"), QStringLiteral("Events 1"), QStringLiteral("Events 2"),
            QStringLiteral("Events 3"),  QStringLiteral("Holiday"),  QStringLiteral("Standard"),
            QStringLiteral("Weekends")};
}

QString EventProfiles::parkedPath(const QString& profile) const
{
    return parkedPath(m_events.folder(), profile);
}

QString EventProfiles::parkedPath(const QString& folder, const QString& profile)
{
    return QDir(folder).filePath(profile + QLatin1String(".txt"));
}

bool EventProfiles::isUsableName(const QString& profile)
{
    if (profile.trimmed().isEmpty() || profile == QLatin1String(".") ||
        profile == QLatin1String(".."))
        return false;
    if (profile.contains(QLatin1Char('/')) || profile.contains(QLatin1Char('\\')) ||
        profile.contains(QChar(0)))
        return false;
    // "temp" would park a schedule in the scratch file of every rewrite.
    return profile.compare(QLatin1String("temp"), Qt::CaseInsensitive) != 0 &&
           TextListFile::isStorable(profile);
}

QString EventProfiles::current() const
{
    return m_settings.read(settingkeys::profile);
}

QCoro::Task<EventProfiles::SwapResult> EventProfiles::swapProfile(QString next)
{
    const QString old = current();
    if (!isUsableName(next) || !isUsableName(old))
        co_return SwapResult::Refused;
    m_settings.write(settingkeys::profile, next);

    const auto hold = co_await m_events.filebusy().take();
    const QString temp = QDir(m_events.folder()).filePath(QLatin1String(parkTempName));
    // Park first: until the old schedule is safe in its own file, evelst.rvf
    // stays as it is.
    bool ok = copyList(m_events.path(), parkedPath(old), temp);
    if (ok)
        ok = copyList(parkedPath(next), m_events.path(), m_events.tempPath());
    if (!ok) {
        m_settings.write(settingkeys::profile, old);
        co_return SwapResult::Failed;
    }
    co_return SwapResult::Swapped;
}

} // namespace casalux
