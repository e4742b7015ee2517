#pragma once

#include <QObject>
#include <QString>
#include <memory>

namespace casalux {

class PhraseAgent;
class StatusSink;

// Spoken commands from the microphone: what arecord records is recognised
// against the command set of the speech character and handed to it as a
// heard phrase. Only where the program was built with pocketsphinx and
// arecord is installed; elsewhere commands are typed.
class SpokenCommands final : public QObject {
    Q_OBJECT

public:
    SpokenCommands(PhraseAgent& agent, StatusSink& statusBar, QObject* parent = nullptr);
    ~SpokenCommands() override;

    // Whether this build and this machine can listen at all.
    static bool available();

    // The user's choice: the microphone is open only while this is on, which
    // it is not until the user turns it on. Turning it on starts listening
    // with the agent's current commands (the model loads on the decoder's
    // thread, then the microphone opens); a failure (no model, no
    // microphone) is told once on the status bar; typed commands go on
    // working. Turning it off closes the microphone and ends the decoder.
    void setOn(bool on);
    bool isOn() const { return m_on; }
    // The command set changed: listen for the new phrases.
    void updateGrammar();
    bool listening() const;

private:
    void start();
    void fail(const QString& reason);

    struct Backend;
    PhraseAgent& m_agent;
    StatusSink& m_statusBar;
    std::unique_ptr<Backend> m_backend;
    bool m_failed = false;
    bool m_on = false;
};

} // namespace casalux
