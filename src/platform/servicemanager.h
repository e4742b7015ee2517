#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <qcoro/qcorotask.h>

namespace casalux {

// Installs, removes, starts, stops and queries the background engine as a
// service of the operating system. Status texts are the ones the programs
// compare: "Stopped", "Start Pending", "Stop Pending", "Running", or empty
// when the service (or the service manager) cannot be reached. Failures are
// reported through the results only; callers may ignore them.
class ServiceManager {
public:
    static constexpr const char* serviceName = "hearthcore";
    static constexpr const char* description =
        "This is the Casalux service engine. Without this, you wouldnt be able to control your "
        "X10 devices whilst logged out of your computer";

    // What the service runs: the engine and its arguments.
    struct Engine {
        QString program;
        QStringList arguments;
    };

    virtual ~ServiceManager() = default;

    virtual QCoro::Task<bool> install() = 0;
    virtual QCoro::Task<bool> remove() = 0;
    virtual QCoro::Task<bool> start() = 0;
    virtual QCoro::Task<bool> stop() = 0;
    virtual QCoro::Task<QString> status() = 0;

    // systemd where it runs: the package's system unit when it is installed
    // and serves the engine's folder, else a system unit as root, a user unit
    // otherwise. Without systemd a detached process with a pid file in
    // `stateFolder`.
    static std::unique_ptr<ServiceManager> forThisMachine(const Engine& engine,
                                                          const QString& stateFolder);
};

} // namespace casalux
