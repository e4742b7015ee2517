#pragma once

#include "servicemanager.h"

namespace casalux {

// The engine as the system service the package ships (hearthcore.service,
// run as the user casalux on the shared folder). The unit file is the
// package's, so installing it means the file hearthcore.enabled in that
// folder, which the unit's start condition reads: polkit can let the group
// casalux start and stop this one unit, but enabling unit files cannot be
// limited to one unit.
class PackagedService final : public ServiceManager {
public:
    explicit PackagedService(const QString& folder);

    QCoro::Task<bool> install() override;
    QCoro::Task<bool> remove() override;
    QCoro::Task<bool> start() override;
    QCoro::Task<bool> stop() override;
    QCoro::Task<QString> status() override;

    QString enabledFile() const;

    // True when one of `unitFolders` holds the package's unit and `folder`
    // is the folder that unit runs the engine on.
    static bool servesFolder(const QString& folder, const QStringList& unitFolders);
    // Where the package puts its unit (/lib, or /usr/lib on merged systems).
    static QStringList systemUnitFolders();

private:
    QString m_folder;
};

} // namespace casalux
