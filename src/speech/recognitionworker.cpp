#include "recognitionworker.h"

namespace casalux {

RecognitionWorker::RecognitionWorker(SphinxRecognizer::Model model, double minimumConfidence)
    : m_model(std::move(model)), m_minimumConfidence(minimumConfidence)
{
}

RecognitionWorker::~RecognitionWorker() = default;

void RecognitionWorker::load()
{
    if (!m_recognizer)
        m_recognizer = std::make_unique<SphinxRecognizer>(m_model);
    Q_EMIT loaded(m_recognizer->ready(), m_recognizer->error());
}

void RecognitionWorker::setGrammar(const VoiceGrammar& grammar)
{
    // Commands whose words the dictionary lacks are left out; the rest work.
    if (m_recognizer && m_recognizer->ready())
        m_recognizer->setGrammar(grammar);
}

void RecognitionWorker::feed(const QByteArray& pcm)
{
    if (!m_recognizer)
        return;
    const SphinxRecognizer::Heard result = m_recognizer->feed(pcm);
    if (result.speechStarted)
        Q_EMIT speechStarted();
    if (!result.result || result.result->phrase.isEmpty())
        return;
    if (result.result->confidence >= m_minimumConfidence)
        Q_EMIT heard(result.result->phrase, result.result->confidence);
    else
        Q_EMIT ignored(result.result->phrase, result.result->confidence);
}

} // namespace casalux
