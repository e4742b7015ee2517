#pragma once

#include "sphinxrecognizer.h"

#include <QObject>
#include <memory>

namespace casalux {

// The decoder's side of spoken commands. It lives on a thread of its own,
// because decoding blocks for as long as pocketsphinx takes; every call
// reaches it queued, and it answers through its signals only.
class RecognitionWorker final : public QObject {
    Q_OBJECT

public:
    RecognitionWorker(SphinxRecognizer::Model model, double minimumConfidence);
    ~RecognitionWorker() override;

    // Loads the model; answered by loaded().
    void load();
    void setGrammar(const VoiceGrammar& grammar);
    void feed(const QByteArray& pcm);

Q_SIGNALS:
    void loaded(bool ok, const QString& error);
    void speechStarted();
    // A phrase heard with enough confidence.
    void heard(const QString& phrase, double confidence);
    // A phrase the decoder found but is not sure enough of.
    void ignored(const QString& phrase, double confidence);

private:
    SphinxRecognizer::Model m_model;
    double m_minimumConfidence;
    std::unique_ptr<SphinxRecognizer> m_recognizer;
};

} // namespace casalux
