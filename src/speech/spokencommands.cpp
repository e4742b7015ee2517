#include "spokencommands.h"

#include "phraseagent.h"
#include "platform/statussink.h"

#include <QStandardPaths>

#ifdef CASALUX_HAVE_POCKETSPHINX
#include "microphonelistener.h"
#include "sphinxrecognizer.h"
#endif

namespace casalux {

#ifdef CASALUX_HAVE_POCKETSPHINX
struct SpokenCommands::Backend {
    SphinxRecognizer recognizer{SphinxRecognizer::Model::installed()};
    MicrophoneListener microphone{recognizer};
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

#ifdef CASALUX_HAVE_POCKETSPHINX

bool SpokenCommands::start()
{
    if (!available() || !m_agent.loaded() || m_failed)
        return false;
    if (!m_backend) {
        m_backend = std::make_unique<Backend>();
        connect(&m_backend->microphone, &MicrophoneListener::speechStarted, this,
                [this] { m_agent.beginListening(); });
        connect(&m_backend->microphone, &MicrophoneListener::heard, this,
                [this](const QString& phrase) { m_agent.hear(phrase); });
        connect(&m_backend->microphone, &MicrophoneListener::failed, this,
                [this](const QString& reason) {
                    fail(reason.isEmpty() ? QStringLiteral("the microphone stopped") : reason);
                });
    }
    if (!m_backend->recognizer.ready()) {
        fail(m_backend->recognizer.error());
        return false;
    }
    updateGrammar();
    if (!m_backend->microphone.start()) {
        fail(QStringLiteral("the microphone could not be opened"));
        return false;
    }
    return true;
}

void SpokenCommands::updateGrammar()
{
    if (!m_backend || !m_backend->recognizer.ready())
        return;
    // Commands whose words the dictionary lacks are left out; the rest work.
    m_backend->recognizer.setGrammar(m_agent.grammar());
}

#else

bool SpokenCommands::start()
{
    return false;
}

void SpokenCommands::updateGrammar() {}

#endif

} // namespace casalux
