#pragma once

#include <QString>
#include <QStringList>
#include <qcoro/qcorotask.h>

namespace casalux {

// One run of systemctl for the engine's unit, as the service layers drive it.
class SystemctlCommand final {
public:
    static constexpr int timeoutMs = 30000; // systemctl waits on D-Bus at most 25 s itself

    // "hearthcore.service".
    static QString unitName();

    // Runs systemctl with these arguments; its standard output. `ok` (when
    // given) tells whether it ran to the end and exited 0.
    static QCoro::Task<QString> run(QStringList arguments, bool* ok = nullptr);
};

} // namespace casalux
