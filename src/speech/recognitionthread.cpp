#include "recognitionthread.h"

#include "recognitionworker.h"

namespace casalux {

RecognitionThread::RecognitionThread(SphinxRecognizer::Model model, double minimumConfidence,
                                     QObject* parent)
    : QObject(parent), m_worker(new RecognitionWorker(std::move(model), minimumConfidence))
{
    m_thread.setObjectName(QStringLiteral("speech"));
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    // Signals of the worker reach this object, on the main thread, queued.
    connect(m_worker, &RecognitionWorker::loaded, this, &RecognitionThread::ready);
    connect(m_worker, &RecognitionWorker::speechStarted, this, &RecognitionThread::speechStarted);
    connect(m_worker, &RecognitionWorker::heard, this, &RecognitionThread::heard);
    connect(m_worker, &RecognitionWorker::ignored, this, &RecognitionThread::ignored);
    m_thread.start();
}

RecognitionThread::~RecognitionThread()
{
    m_thread.quit();
    m_thread.wait();
}

void RecognitionThread::start()
{
    QMetaObject::invokeMethod(m_worker, &RecognitionWorker::load, Qt::QueuedConnection);
}

void RecognitionThread::setGrammar(const VoiceGrammar& grammar)
{
    RecognitionWorker* worker = m_worker;
    QMetaObject::invokeMethod(
        m_worker, [worker, grammar] { worker->setGrammar(grammar); }, Qt::QueuedConnection);
}

void RecognitionThread::feed(const QByteArray& pcm)
{
    RecognitionWorker* worker = m_worker;
    QMetaObject::invokeMethod(
        m_worker, [worker, pcm] { worker->feed(pcm); }, Qt::QueuedConnection);
}

const QObject* RecognitionThread::worker() const
{
    return m_worker;
}

} // namespace casalux
