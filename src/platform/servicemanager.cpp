#include "servicemanager.h"

#include "detachedservice.h"
#include "systemdservice.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace casalux {

std::unique_ptr<ServiceManager> ServiceManager::forThisMachine(const Engine& engine,
                                                               const QString& stateFolder)
{
    // systemd creates this folder at boot; containers started without it lack it.
    const bool systemd = QFileInfo::exists(QStringLiteral("/run/systemd/system")) &&
                         !QStandardPaths::findExecutable(QStringLiteral("systemctl")).isEmpty();
    if (systemd)
        return std::make_unique<SystemdService>(engine, ::geteuid() == 0);
    return std::make_unique<DetachedService>(engine, stateFolder);
}

} // namespace casalux
