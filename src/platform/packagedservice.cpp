#include "packagedservice.h"

#include "programfolder.h"
#include "systemctlcommand.h"
#include "systemdservice.h"

#include <QDir>
#include <QFile>

namespace casalux {

namespace {

// Command-line words from one text, the unit's name appended. (Kept out of
// the coroutines: GCC 12 mishandles string-literal arrays inside coroutine
// frames.)
QStringList forUnit(const QString& text)
{
    // Never wait on a password prompt: the polkit rule decides.
    return QStringList{QStringLiteral("--no-ask-password")} +
           text.split(QLatin1Char(' '), Qt::SkipEmptyParts) + QStringList{SystemctlCommand::unitName()};
}

QCoro::Task<QString> systemctl(QStringList arguments, bool* ok)
{
    co_return co_await SystemctlCommand::run(std::move(arguments), ok);
}

} // namespace

PackagedService::PackagedService(const QString& folder) : m_folder(folder) {}

QString PackagedService::enabledFile() const
{
    return ProgramFolder::file(m_folder, QStringLiteral("hearthcore.enabled"));
}

bool PackagedService::servesFolder(const QString& folder, const QStringList& unitFolders)
{
    if (QDir::cleanPath(folder) != ProgramFolder::installedFolder())
        return false;
    for (const QString& units : unitFolders) {
        if (QFile::exists(QDir(units).filePath(SystemctlCommand::unitName())))
            return true;
    }
    return false;
}

QStringList PackagedService::systemUnitFolders()
{
    return {QStringLiteral("/lib/systemd/system"), QStringLiteral("/usr/lib/systemd/system")};
}

QCoro::Task<bool> PackagedService::install()
{
    QFile enabled(enabledFile());
    co_return enabled.open(QIODevice::WriteOnly | QIODevice::Append);
}

QCoro::Task<bool> PackagedService::remove()
{
    const bool stopped = co_await stop();
    const bool gone = !QFile::exists(enabledFile()) || QFile::remove(enabledFile());
    co_return stopped&& gone;
}

QCoro::Task<bool> PackagedService::start()
{
    bool ok = false;
    co_await systemctl(forUnit(QStringLiteral("start --no-block")), &ok);
    co_return ok;
}

QCoro::Task<bool> PackagedService::stop()
{
    bool ok = false;
    co_await systemctl(forUnit(QStringLiteral("stop --no-block")), &ok);
    co_return ok;
}

QCoro::Task<QString> PackagedService::status()
{
    if (!QFile::exists(enabledFile()))
        co_return QString();
    bool ok = false;
    const QString show =
        co_await systemctl(forUnit(QStringLiteral("show --property=LoadState,ActiveState")), &ok);
    co_return ok ? SystemdService::statusFromShow(show) : QString();
}

} // namespace casalux
