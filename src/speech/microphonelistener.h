#pragma once

#include <QObject>
#include <QProcess>

namespace casalux {

// Listens on the default microphone through ALSA's arecord and hands the
// sound on as it arrives, on the event loop.
class MicrophoneListener final : public QObject {
    Q_OBJECT

public:
    explicit MicrophoneListener(QObject* parent = nullptr);
    ~MicrophoneListener() override;

    // False when the recording program cannot be started.
    bool start();
    void stop();
    bool listening() const { return m_recorder.state() != QProcess::NotRunning; }

Q_SIGNALS:
    // 16 kHz, 16-bit signed, mono, little-endian.
    void audio(const QByteArray& pcm);
    // Recording ended by itself (no microphone, device taken …).
    void failed(const QString& reason);

private:
    QProcess m_recorder;
    bool m_stopping = false;
};

} // namespace casalux
