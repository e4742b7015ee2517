#pragma once

#include "voicecommand.h"

#include <QObject>

namespace casalux {

// The speech character the desktop program talks to: it loads a character,
// learns the program's spoken commands, shows and hides itself and reports
// what the user said as the name of a command.
class SpeechAgent : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    ~SpeechAgent() override = default;

    // Loads the named character; false when it cannot be loaded, and the
    // program then goes on without speech.
    virtual bool loadCharacter(const QString& name) = 0;
    virtual bool loaded() const = 0;
    // Replaces the command set; `caption` titles it in the character's list.
    virtual void setCommands(const QString& caption, const QList<VoiceCommand>& commands) = 0;
    virtual void showProperties() = 0;
    // Hides the character, unhurried.
    virtual void hide() = 0;

Q_SIGNALS:
    // The user began to speak (or type) a command.
    void listeningStarted();
    // A phrase was understood as the command with this name.
    void command(const QString& name);
    // The property sheet was asked for.
    void propertiesRequested();
};

} // namespace casalux
