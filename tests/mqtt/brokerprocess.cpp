#include "brokerprocess.h"

#include "httpget.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTcpSocket>
#include <QThread>

namespace casalux::test {

bool BrokerProcess::installed()
{
    return QFileInfo(program()).isExecutable();
}

BrokerProcess::BrokerProcess() : m_port(freePort())
{
    m_folder.write(QStringLiteral("mosquitto.conf"), QStringLiteral("listener %1 127.0.0.1\n"
                                                                    "allow_anonymous true\n"
                                                                    "persistence false\n"
                                                                    "log_dest stderr\n"
                                                                    "log_type all\n")
                                                         .arg(m_port)
                                                         .toUtf8());
}

BrokerProcess::~BrokerProcess()
{
    kill();
}

bool BrokerProcess::start()
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(program(),
                    {QStringLiteral("-c"), m_folder.file(QStringLiteral("mosquitto.conf"))});
    if (!m_process.waitForStarted(5000))
        return false;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 5000 && m_process.state() == QProcess::Running) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(200))
            return true;
        QThread::msleep(50);
    }
    return false;
}

void BrokerProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
    m_log += m_process.readAll();
}

QString BrokerProcess::log()
{
    m_log += m_process.readAll();
    return QString::fromUtf8(m_log);
}

} // namespace casalux::test

namespace casalux::test {

QString BrokerProcess::linesAbout(const QString& client)
{
    QStringList lines = log().split(QLatin1Char('\n'));
    lines.removeIf([&client](const QString& line) { return !line.contains(client); });
    return lines.join(QLatin1Char('\n'));
}

bool BrokerProcess::leftCleanly(const QString& client)
{
    bool left = false;
    for (const QString& line : log().split(QLatin1Char('\n'))) {
        if (!line.contains(client))
            continue;
        if (line.contains(QLatin1String("closed its connection")) ||
            line.contains(QLatin1String("Socket error")) ||
            line.contains(QLatin1String("exceeded timeout")))
            return false;
        left |= line.contains(QLatin1String(" disconnected."));
    }
    return left;
}

} // namespace casalux::test
