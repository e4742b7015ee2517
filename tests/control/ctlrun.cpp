#include "ctlrun.h"

#include <QProcess>
#include <QSignalSpy>

namespace casalux::test {

CtlRun CtlRun::run(const QStringList& arguments, const QProcessEnvironment& environment,
                   int timeoutMs, const QByteArray& input)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    QSignalSpy done(&process, &QProcess::finished);
    process.start(QStringLiteral(CASALUXCTL_PATH), arguments);
    CtlRun result;
    if (!process.waitForStarted(5000))
        return result;
    process.write(input);
    process.closeWriteChannel();
    result.finished = done.wait(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

QString CtlRun::program()
{
    return QStringLiteral(CASALUXCTL_PATH);
}

QString CtlRun::describe() const
{
    return QStringLiteral("exit %1%2\nstdout: %3\nstderr: %4")
        .arg(exitCode)
        .arg(finished ? QString() : QStringLiteral(" (timed out)"), out, err);
}

} // namespace casalux::test
