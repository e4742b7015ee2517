#pragma once

#include "servicemanager.h"

namespace casalux {

// The engine as a plain background process where no service manager runs
// (containers, minimal systems): started detached, remembered by a pid file,
// stopped with SIGTERM and a bounded wait.
class DetachedService final : public ServiceManager {
public:
    static constexpr int stopWaitSeconds = 15;

    DetachedService(Engine engine, const QString& stateFolder);

    QCoro::Task<bool> install() override;
    QCoro::Task<bool> remove() override;
    QCoro::Task<bool> start() override;
    QCoro::Task<bool> stop() override;
    QCoro::Task<QString> status() override;

    QString pidFile() const;
    QString installedFile() const;

private:
    // The engine's pid when the pid file names a live process running the
    // engine (not some other process that got the same pid later), else 0.
    qint64 runningPid() const;

    Engine m_engine;
    QString m_folder;
};

} // namespace casalux
