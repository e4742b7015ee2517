#include "microphonelistener.h"

#include "sphinxrecognizer.h"

#include <QStandardPaths>

namespace casalux {

MicrophoneListener::MicrophoneListener(SphinxRecognizer& recognizer, QObject* parent)
    : QObject(parent), m_recognizer(recognizer)
{
    connect(&m_recorder, &QProcess::readyReadStandardOutput, this, [this] { readAudio(); });
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
    if (arecord.isEmpty() || !m_recognizer.ready())
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

void MicrophoneListener::readAudio()
{
    const SphinxRecognizer::Heard result = m_recognizer.feed(m_recorder.readAllStandardOutput());
    if (result.speechStarted)
        Q_EMIT speechStarted();
    if (result.phrase && !result.phrase->isEmpty())
        Q_EMIT heard(*result.phrase);
}

} // namespace casalux
