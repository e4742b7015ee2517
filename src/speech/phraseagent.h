#pragma once

#include "speechagent.h"
#include "speechcharacter.h"
#include "voicegrammar.h"

namespace casalux {

// The speech character of this platform. It understands phrases handed to
// it as text: typed into the "Say a command" box, sent with --say to the
// running program, or heard by the speech recogniser.
class PhraseAgent final : public SpeechAgent {
    Q_OBJECT

public:
    // Characters are looked for in these folders, in order.
    explicit PhraseAgent(QStringList characterFolders, QObject* parent = nullptr);

    bool loadCharacter(const QString& name) override;
    bool loaded() const override { return m_character.has_value(); }
    void setCommands(const QString& caption, const QList<VoiceCommand>& commands) override;
    void showProperties() override;
    void hide() override { m_visible = false; }

    // The user started speaking: shows the character.
    void beginListening();
    // A phrase the user said or typed. Returns the command it meant, or
    // empty (and nothing happens) when it meant none or no character is
    // loaded.
    QString hear(const QString& phrase);

    bool visible() const { return m_visible; }
    QString caption() const { return m_caption; }
    const QList<VoiceCommand>& commands() const { return m_commands; }
    const VoiceGrammar& grammar() const { return m_grammar; }
    const std::optional<SpeechCharacter>& character() const { return m_character; }

private:
    QStringList m_folders;
    std::optional<SpeechCharacter> m_character;
    QString m_caption;
    QList<VoiceCommand> m_commands;
    VoiceGrammar m_grammar;
    bool m_visible = false;
    bool m_listening = false;
};

} // namespace casalux
