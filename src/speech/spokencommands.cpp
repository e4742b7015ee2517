#include "spokencommands.h"

#include "phraseagent.h"
#include "platform/statussink.h"

#include <QStandardPaths>

#ifdef CASALUX_HAVE_POCKETSPHINX
#include "microphonelistener.h"
#include "recognitionthread.h"
#endif

namespace casalux {

#ifdef CASALUX_HAVE_POCKETSPHINX
struct SpokenCommands::Backend {
    RecognitionThread recognition;
    MicrophoneListener microphone;
};
#else
struct SpokenCommands::Backend {};
#endif

SpokenCommands::SpokenCommands(PhraseAgent& agent, StatusSink& statusBar, QObject* parent)
    : QObject(parent), m_agent(agent), m_statusBar(statusBar)
{
}

SpokenCommands::~SpokenCommands() = default;

bool SpokenCommands::available()
{
#ifdef CASALUX_HAVE_POCKETSPHINX
    return !QStandardPaths::findExecutable(QStringLiteral("arecord")).isEmpty();
#else
    return false;
#endif
}

bool SpokenCommands::listening() const
{
#ifdef CASALUX_HAVE_POCKETSPHINX
    return m_backend && m_backend->microphone.listening();
#else
    return false;
#endif
}

void SpokenCommands::fail(const QString& reason)
{
    // One status text for the run: a microphone that keeps failing must not
    // keep overwriting the status bar.
    if (m_failed)
        return;
    m_failed = true;
    m_statusBar.setStatus(StatusSink::Activity,
                          QStringLiteral("Spoken commands are off: %1").arg(reason));
}

void SpokenCommands::setOn(bool on)
{
    if (on == m_on)
        return;
    m_on = on;
    if (!on) {
        // Closes the microphone and ends the decoder's thread.
        m_backend.reset();
        return;
    }
    // Asked for again: a failure is worth telling again.
    m_failed = false;
    start();
}

#ifdef CASALUX_HAVE_POCKETSPHINX

void SpokenCommands::start()
{
    if (QStandardPaths::findExecutable(QStringLiteral("arecord")).isEmpty()) {
        fail(QStringLiteral("arecord (alsa-utils) is not installed"));
        return;
    }
    if (!m_agent.loaded()) {
        fail(QStringLiteral("no speech character is loaded"));
        return;
    }
    m_backend = std::make_unique<Backend>();
    Backend* backend = m_backend.get();
    connect(&backend->microphone, &MicrophoneListener::audio, &backend->recognition,
            &RecognitionThread::feed);
    connect(&backend->recognition, &RecognitionThread::speechStarted, this,
            [this] { m_agent.beginListening(); });
    connect(&backend->recognition, &RecognitionThread::heard, this,
            [this](const QString& phrase) { m_agent.hear(phrase); });
    connect(&backend->microphone, &MicrophoneListener::failed, this, [this](const QString& reason) {
        fail(reason.isEmpty() ? QStringLiteral("the microphone stopped") : reason);
    });
    connect(&backend->recognition, &RecognitionThread::ready, this,
            [this, backend](bool ok, const QString& error) {
                if (m_backend.get() != backend)
                    return;
                if (!ok) {
                    fail(error);
                    return;
                }
                updateGrammar();
                if (!backend->microphone.start())
                    fail(QStringLiteral("the microphone could not be opened"));
            });
    backend->recognition.start();
}

void SpokenCommands::updateGrammar()
{
    if (m_backend)
        m_backend->recognition.setGrammar(m_agent.grammar());
}

#else

void SpokenCommands::start()
{
    fail(QStringLiteral("this program was built without speech recognition (pocketsphinx)"));
}

void SpokenCommands::updateGrammar() {}

#endif

} // namespace casalux
