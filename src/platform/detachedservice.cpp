#include "detachedservice.h"

#include "clock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

#include <csignal>

#include <sys/types.h>

namespace casalux {

namespace {

bool writeWhole(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

bool alive(qint64 pid)
{
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) == 0;
}

} // namespace

DetachedService::DetachedService(Engine engine, const QString& stateFolder)
    : m_engine(std::move(engine)), m_folder(stateFolder)
{
}

QString DetachedService::pidFile() const
{
    return m_folder + QLatin1Char('/') + QLatin1String(serviceName) + QStringLiteral(".pid");
}

QString DetachedService::installedFile() const
{
    return m_folder + QLatin1Char('/') + QLatin1String(serviceName) + QStringLiteral(".installed");
}

qint64 DetachedService::runningPid() const
{
    QFile file(pidFile());
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    bool ok = false;
    const qint64 pid = file.readAll().trimmed().toLongLong(&ok);
    if (!ok || !alive(pid))
        return 0;
    // Pids are reused: only a process running the engine's program counts.
    const QString exe = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    const QString engine = QFileInfo(m_engine.program).canonicalFilePath();
    if (!exe.isEmpty() && !engine.isEmpty() && exe != engine)
        return 0;
    return pid;
}

QCoro::Task<bool> DetachedService::install()
{
    QDir().mkpath(m_folder);
    co_return writeWhole(installedFile(),
                         (QStringList{m_engine.program} + m_engine.arguments).join(QLatin1Char(' ')).toUtf8() +
                             '\n');
}

QCoro::Task<bool> DetachedService::remove()
{
    co_await stop();
    QFile::remove(installedFile());
    co_return true;
}

QCoro::Task<bool> DetachedService::start()
{
    if (!QFileInfo::exists(installedFile()))
        co_return false;
    if (runningPid() != 0)
        co_return true;
    qint64 pid = 0;
    if (!QProcess::startDetached(m_engine.program, m_engine.arguments, QString(), &pid) || pid <= 0)
        co_return false;
    co_return writeWhole(pidFile(), QByteArray::number(pid) + '\n');
}

QCoro::Task<bool> DetachedService::stop()
{
    const qint64 pid = runningPid();
    if (pid == 0) {
        QFile::remove(pidFile());
        co_return true;
    }
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    // The engine closes the interface once its file work is done; give it
    // that long, then make sure.
    for (int step = 0; step < stopWaitSeconds * 10 && alive(pid); ++step)
        co_await Clock::instance().sleep(0.1);
    if (alive(pid))
        ::kill(static_cast<pid_t>(pid), SIGKILL);
    QFile::remove(pidFile());
    co_return true;
}

QCoro::Task<QString> DetachedService::status()
{
    if (!QFileInfo::exists(installedFile()))
        co_return QString();
    co_return runningPid() != 0 ? QStringLiteral("Running") : QStringLiteral("Stopped");
}

} // namespace casalux
