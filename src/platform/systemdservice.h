#pragma once

#include "servicemanager.h"

namespace casalux {

// The engine as a systemd unit, driven through systemctl: a system unit when
// run as root, a user unit (systemctl --user) otherwise.
class SystemdService final : public ServiceManager {
public:
    SystemdService(Engine engine, bool systemWide);

    QCoro::Task<bool> install() override;
    QCoro::Task<bool> remove() override;
    QCoro::Task<bool> start() override;
    QCoro::Task<bool> stop() override;
    QCoro::Task<QString> status() override;

    QString unitPath() const;
    // The unit file for this engine.
    QString unitText() const;
    // Maps `systemctl show` output (LoadState, ActiveState) to a status text.
    static QString statusFromShow(const QString& showOutput);

private:
    QCoro::Task<QString> systemctl(QStringList arguments, bool* ok = nullptr);

    Engine m_engine;
    bool m_systemWide;
};

} // namespace casalux
