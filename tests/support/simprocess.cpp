#include "simprocess.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>

#include <algorithm>

namespace casalux::test {

SimProcess::SimProcess(QObject* parent) : QObject(parent)
{
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &SimProcess::readOutput);
    connect(&m_process, &QProcess::readyReadStandardError, this,
            [this] { m_stderr += m_process.readAllStandardError(); });
}

SimProcess::~SimProcess()
{
    stop();
}

bool SimProcess::start(const QStringList& arguments, double timeScale)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("CASALUX_NOW"));
    if (timeScale > 0)
        env.insert(QStringLiteral("CASALUX_TIME_SCALE"), QString::number(timeScale));
    else
        env.remove(QStringLiteral("CASALUX_TIME_SCALE"));
    m_process.setProcessEnvironment(env);
    m_process.start(QStringLiteral(CM11A_SIM_PATH),
                    QStringList{QStringLiteral("--trace")} + arguments);
    if (!m_process.waitForStarted(5000))
        return false;
    while (m_devicePath.isEmpty()) {
        if (!m_process.waitForReadyRead(5000))
            return false;
        readOutput();
    }
    return true;
}

void SimProcess::readOutput()
{
    m_stdout += m_process.readAllStandardOutput();
    qsizetype end;
    while ((end = m_stdout.indexOf('\n')) >= 0) {
        const QString line = QString::fromLocal8Bit(m_stdout.left(end));
        m_stdout.remove(0, end + 1);
        if (m_devicePath.isEmpty())
            m_devicePath = line;
        else
            m_lines.append(line);
    }
}

void SimProcess::command(const QString& line)
{
    m_process.write(line.toLocal8Bit() + '\n');
    m_process.waitForBytesWritten(1000); // on its way even if the caller blocks next
}

void SimProcess::kill()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

void SimProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    command(QStringLiteral("QUIT"));
    if (!m_process.waitForFinished(5000))
        kill();
}

QStringList SimProcess::traced(const char* direction)
{
    m_stderr += m_process.readAllStandardError();
    QStringList hex;
    const QStringList lines = errors().split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String(direction)))
            hex.append(line.mid(3).trimmed());
    }
    return hex;
}

QString SimProcess::receivedHex()
{
    return traced("<- ").join(QLatin1Char(' '));
}

bool SimProcess::waitUntilSent(const QString& bytes, int count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    // The trace is on standard error; waiting on that channel does not run
    // the event loop, so what the simulator sends stays unread meanwhile.
    m_process.setReadChannel(QProcess::StandardError);
    bool done = false;
    while (!(done = traced("-> ").count(bytes) >= count) && !deadline.hasExpired())
        m_process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
    m_process.setReadChannel(QProcess::StandardOutput);
    return done;
}

} // namespace casalux::test
