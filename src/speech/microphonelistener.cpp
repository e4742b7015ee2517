#include "microphonelistener.h"

#include <QStandardPaths>

namespace casalux {

MicrophoneListener::MicrophoneListener(QObject* parent) : QObject(parent)
{
    connect(&m_recorder, &QProcess::readyReadStandardOutput, this,
            [this] { Q_EMIT audio(m_recorder.readAllStandardOutput()); });
    connect(&m_recorder, &QProcess::finished, this, [this] {
        if (!m_stopping)
            Q_EMIT failed(QString::fromLocal8Bit(m_recorder.readAllStandardError()).trimmed());
    });
}

MicrophoneListener::~MicrophoneListener()
{
    stop();
}

bool MicrophoneListener::start()
{
    const QString arecord = QStandardPaths::findExecutable(QStringLiteral("arecord"));
    if (arecord.isEmpty())
        return false;
    m_stopping = false;
    m_recorder.start(arecord, {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("raw"),
                               QStringLiteral("-f"), QStringLiteral("S16_LE"), QStringLiteral("-r"),
                               QStringLiteral("16000"), QStringLiteral("-c"), QStringLiteral("1")});
    return m_recorder.waitForStarted(3000);
}

void MicrophoneListener::stop()
{
    if (m_recorder.state() == QProcess::NotRunning)
        return;
    m_stopping = true;
    m_recorder.terminate();
    if (!m_recorder.waitForFinished(1000))
        m_recorder.kill();
}

} // namespace casalux
