#include "systemctlcommand.h"

#include "servicemanager.h"

#include <QProcess>
#include <qcoro/qcoroprocess.h>

namespace casalux {

QString SystemctlCommand::unitName()
{
    return QLatin1String(ServiceManager::serviceName) + QStringLiteral(".service");
}

QCoro::Task<QString> SystemctlCommand::run(QStringList arguments, bool* ok)
{
    QProcess process;
    process.start(QStringLiteral("systemctl"), arguments);
    const bool finished = co_await qCoro(process).waitForFinished(timeoutMs);
    if (!finished)
        process.kill();
    if (ok)
        *ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    co_return QString::fromLocal8Bit(process.readAllStandardOutput());
}

} // namespace casalux
