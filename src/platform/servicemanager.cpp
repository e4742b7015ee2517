#include "servicemanager.h"

#include "detachedservice.h"
#include "packagedservice.h"
#include "systemdservice.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <unistd.h>

namespace casalux {

namespace {

// The folder the engine is told to run on (`--home DIR`).
QString homeOf(const ServiceManager::Engine& engine)
{
    const qsizetype at = engine.arguments.indexOf(QStringLiteral("--home"));
    return at >= 0 && at + 1 < engine.arguments.size() ? engine.arguments.at(at + 1) : QString();
}

} // namespace

std::unique_ptr<ServiceManager> ServiceManager::forThisMachine(const Engine& engine,
                                                               const QString& stateFolder)
{
    // systemd creates this folder at boot; containers started without it lack it.
    const bool systemd = QFileInfo::exists(QStringLiteral("/run/systemd/system")) &&
                         !QStandardPaths::findExecutable(QStringLiteral("systemctl")).isEmpty();
    if (systemd &&
        PackagedService::servesFolder(homeOf(engine), PackagedService::systemUnitFolders()))
        return std::make_unique<PackagedService>(homeOf(engine));
    if (systemd)
        return std::make_unique<SystemdService>(engine, ::geteuid() == 0);
    return std::make_unique<DetachedService>(engine, stateFolder);
}

} // namespace casalux
