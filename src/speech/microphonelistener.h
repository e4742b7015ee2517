#pragma once

#include <QObject>
#include <QProcess>

namespace casalux {

class SphinxRecognizer;

// Listens on the default microphone through ALSA's arecord and hands the
// sound to the recogniser as it arrives, on the event loop.
class MicrophoneListener final : public QObject {
    Q_OBJECT

public:
    explicit MicrophoneListener(SphinxRecognizer& recognizer, QObject* parent = nullptr);
    ~MicrophoneListener() override;

    // False when the recording program cannot be started.
    bool start();
    void stop();
    bool listening() const { return m_recorder.state() != QProcess::NotRunning; }

Q_SIGNALS:
    void speechStarted();
    void heard(const QString& phrase);
    // Recording ended by itself (no microphone, device taken …).
    void failed(const QString& reason);

private:
    void readAudio();

    SphinxRecognizer& m_recognizer;
    QProcess m_recorder;
    bool m_stopping = false;
};

} // namespace casalux
