#include "cgirunner.h"

#include <QFileInfo>
#include <algorithm>

namespace servlane {

CgiRunner::CgiRunner(QObject* parent) : QObject(parent)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        m_timedOut = true;
        m_process.kill();
    });
    // Only standard output is a pipe, as the program expects; its error
    // output goes nowhere.
    m_process.setStandardErrorFile(QProcess::nullDevice());
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &CgiRunner::readOutput);
    connect(&m_process, &QProcess::finished, this, &CgiRunner::onFinished);
    connect(&m_process, &QProcess::errorOccurred, this, &CgiRunner::onError);
}

CgiRunner::~CgiRunner()
{
    abandon();
}

int CgiRunner::timeoutMs(int cgiTimeoutSeconds)
{
    if (cgiTimeoutSeconds <= 0)
        return 0;
    return std::min(cgiTimeoutSeconds, 2'000'000) * 1000;
}

QByteArray CgiRunner::failureText(const QString& what, const QString& description, int number)
{
    const QString text = what + QStringLiteral("<BR>\r\nError Desc: ") +
                         (description.isEmpty() ? QStringLiteral("Unknown error.") : description) +
                         QStringLiteral("<BR>\r\nError Number: ") + QString::number(number) +
                         QStringLiteral("<BR>\r\n");
    return text.toLatin1();
}

QStringList CgiRunner::argumentsFor(const QString& programName, const QString& arguments)
{
    if (!programName.endsWith(QLatin1String(".bat"), Qt::CaseInsensitive))
        return {};
    return arguments.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

void CgiRunner::start(const Job& job)
{
    m_output.clear();
    m_done = false;
    m_timedOut = false;
    m_truncated = false;
    m_maxOutput = job.maxOutput;
    m_process.setProgram(job.program);
    m_process.setArguments(job.arguments);
    m_process.setWorkingDirectory(job.workingDirectory.isEmpty()
                                      ? QFileInfo(job.program).absolutePath()
                                      : job.workingDirectory);
    m_process.setEnvironment(job.environment);
    m_process.start(QIODevice::ReadWrite);
    if (m_done)
        return; // failed to start; already announced
    if (!job.input.isEmpty())
        m_process.write(job.input);
    m_process.closeWriteChannel();
    if (job.timeoutMs > 0)
        m_deadline.start(job.timeoutMs);
}

void CgiRunner::abandon()
{
    m_done = true;
    m_deadline.stop();
    if (m_process.state() != QProcess::NotRunning) {
        m_process.disconnect(this);
        m_process.kill();
        m_process.waitForFinished(1000); // SIGKILL: reaped at once
    }
}

void CgiRunner::readOutput()
{
    const QByteArray chunk = m_process.readAllStandardOutput();
    if (m_truncated)
        return;
    const qint64 room = m_maxOutput - m_output.size();
    if (chunk.size() > room) {
        m_output.append(chunk.left(room));
        m_truncated = true;
        m_process.kill(); // a program flooding its output is stopped
        return;
    }
    m_output.append(chunk);
}

void CgiRunner::onFinished()
{
    readOutput();
    finish(m_output);
}

void CgiRunner::onError(QProcess::ProcessError error)
{
    if (error == QProcess::FailedToStart) {
        finish(failureText(QStringLiteral("Create::Process Failed."), m_process.errorString(),
                           int(error)));
        return;
    }
    if (error == QProcess::ReadError) {
        m_process.kill();
        finish(failureText(QStringLiteral("ReadFile Failed."), m_process.errorString(),
                           int(error)));
    }
    // Crashed (also our own kill) and the rest: `finished` follows.
}

void CgiRunner::finish(const QByteArray& output)
{
    if (m_done)
        return;
    m_done = true;
    m_deadline.stop();
    Q_EMIT finished(output);
}

} // namespace servlane
