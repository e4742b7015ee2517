#include "systemdservice.h"

#include "systemctlcommand.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>


namespace casalux {

namespace {

// Command-line words from one text. (Kept out of the coroutines: GCC 12
// mishandles string-literal arrays inside coroutine frames.)
QStringList words(const QString& text)
{
    return text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QString shellQuoted(const QString& text)
{
    // systemd's own quoting: double quotes, with \ and " escaped.
    QString q = text;
    q.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

} // namespace

SystemdService::SystemdService(Engine engine, bool systemWide)
    : m_engine(std::move(engine)), m_systemWide(systemWide)
{
}

QString SystemdService::unitPath() const
{
    if (m_systemWide)
        return QStringLiteral("/etc/systemd/system/") + SystemctlCommand::unitName();
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/systemd/user/") + SystemctlCommand::unitName();
}

QString SystemdService::unitText() const
{
    QFile source(QStringLiteral(":/casalux/hearthcore.service.in"));
    if (!source.open(QIODevice::ReadOnly))
        return {};
    QString exec = shellQuoted(m_engine.program);
    for (const QString& a : m_engine.arguments)
        exec += QLatin1Char(' ') + shellQuoted(a);
    return QString::fromUtf8(source.readAll())
        .replace(QStringLiteral("@DESCRIPTION@"), QLatin1String(description))
        .replace(QStringLiteral("@EXEC@"), exec)
        .replace(QStringLiteral("@TARGET@"), m_systemWide ? QStringLiteral("multi-user.target")
                                                          : QStringLiteral("default.target"));
}

QString SystemdService::statusFromShow(const QString& showOutput)
{
    QString load;
    QString active;
    const QStringList lines = showOutput.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String("LoadState=")))
            load = line.mid(10).trimmed();
        else if (line.startsWith(QLatin1String("ActiveState=")))
            active = line.mid(12).trimmed();
    }
    if (load.isEmpty() || load == QLatin1String("not-found"))
        return {};
    if (active == QLatin1String("active") || active == QLatin1String("reloading"))
        return QStringLiteral("Running");
    if (active == QLatin1String("activating"))
        return QStringLiteral("Start Pending");
    if (active == QLatin1String("deactivating"))
        return QStringLiteral("Stop Pending");
    if (active == QLatin1String("inactive") || active == QLatin1String("failed"))
        return QStringLiteral("Stopped");
    return {};
}

QCoro::Task<QString> SystemdService::systemctl(QStringList arguments, bool* ok)
{
    if (!m_systemWide)
        arguments.prepend(QStringLiteral("--user"));
    co_return co_await SystemctlCommand::run(std::move(arguments), ok);
}

QCoro::Task<bool> SystemdService::install()
{
    const QString path = unitPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile unit(path);
    const QByteArray text = unitText().toUtf8();
    if (text.isEmpty() || !unit.open(QIODevice::WriteOnly) || unit.write(text) != text.size() ||
        !unit.commit())
        co_return false;
    bool ok = false;
    co_await systemctl(words(QStringLiteral("daemon-reload")), &ok);
    if (ok)
        co_await systemctl(words(QStringLiteral("enable ") + SystemctlCommand::unitName()), &ok);
    co_return ok;
}

QCoro::Task<bool> SystemdService::remove()
{
    co_await systemctl(words(QStringLiteral("disable --now ") + SystemctlCommand::unitName()));
    QFile::remove(unitPath());
    bool ok = false;
    co_await systemctl(words(QStringLiteral("daemon-reload")), &ok);
    co_return ok;
}

QCoro::Task<bool> SystemdService::start()
{
    bool ok = false;
    co_await systemctl(words(QStringLiteral("start --no-block ") + SystemctlCommand::unitName()), &ok);
    co_return ok;
}

QCoro::Task<bool> SystemdService::stop()
{
    bool ok = false;
    co_await systemctl(words(QStringLiteral("stop --no-block ") + SystemctlCommand::unitName()), &ok);
    co_return ok;
}

QCoro::Task<QString> SystemdService::status()
{
    bool ok = false;
    const QString show = co_await systemctl(
        words(QStringLiteral("show --property=LoadState,ActiveState ") + SystemctlCommand::unitName()), &ok);
    co_return ok ? statusFromShow(show) : QString();
}

} // namespace casalux
