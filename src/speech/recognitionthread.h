#pragma once

#include "sphinxrecognizer.h"

#include <QObject>
#include <QThread>

namespace casalux {

class RecognitionWorker;

// Spoken-command recognition off the event loop's thread: the decoder
// lives on a worker thread and its results come back as queued signals, so
// the window never waits for pocketsphinx. Used from the main thread only.
class RecognitionThread final : public QObject {
    Q_OBJECT

public:
    explicit RecognitionThread(SphinxRecognizer::Model model = SphinxRecognizer::Model::installed(),
                               double minimumConfidence = SphinxRecognizer::minimumConfidence,
                               QObject* parent = nullptr);
    // Lets the decoder finish the piece of sound in hand, then ends the thread.
    ~RecognitionThread() override;

    // Loads the model on the worker thread; answered by ready().
    void start();
    void setGrammar(const VoiceGrammar& grammar);
    // Sound as recorded: 16 kHz, 16-bit signed, mono, little-endian.
    void feed(const QByteArray& pcm);

    // The object that owns the decoder (for checking where it lives).
    const QObject* worker() const;

Q_SIGNALS:
    void ready(bool ok, const QString& error);
    void speechStarted();
    void heard(const QString& phrase, double confidence);
    void ignored(const QString& phrase, double confidence);

private:
    QThread m_thread;
    RecognitionWorker* m_worker; // deleted on its own thread when that ends
};

} // namespace casalux
