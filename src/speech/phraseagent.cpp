#include "phraseagent.h"

namespace casalux {

PhraseAgent::PhraseAgent(QStringList characterFolders, QObject* parent)
    : SpeechAgent(parent), m_folders(std::move(characterFolders))
{
}

bool PhraseAgent::loadCharacter(const QString& name)
{
    m_character = SpeechCharacter::load(m_folders, name);
    return m_character.has_value();
}

void PhraseAgent::setCommands(const QString& caption, const QList<VoiceCommand>& commands)
{
    m_caption = caption;
    m_commands = commands;
    m_grammar = VoiceGrammar(commands);
}

void PhraseAgent::showProperties()
{
    Q_EMIT propertiesRequested();
}

void PhraseAgent::beginListening()
{
    if (!m_character)
        return;
    m_listening = true;
    m_visible = true;
    Q_EMIT listeningStarted();
}

QString PhraseAgent::hear(const QString& phrase)
{
    if (!m_character)
        return {};
    if (!m_listening)
        beginListening();
    m_listening = false;
    const QString name = m_grammar.commandFor(phrase);
    if (!name.isEmpty())
        Q_EMIT command(name);
    return name;
}

} // namespace casalux
