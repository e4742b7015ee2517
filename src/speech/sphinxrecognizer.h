#pragma once

#include "voicegrammar.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <optional>

struct ps_decoder_s;

namespace casalux {

// Offline recognition of spoken commands with pocketsphinx, restricted to
// the phrases of the command set. Audio is 16 kHz, 16-bit signed, mono,
// little-endian PCM.
class SphinxRecognizer final {
public:
    struct Model {
        QString acoustic;   // folder of the acoustic model
        QString dictionary; // pronunciation dictionary
        // The US English model of Debian's pocketsphinx-en-us.
        static Model installed();
    };

    explicit SphinxRecognizer(const Model& model);
    ~SphinxRecognizer();
    SphinxRecognizer(const SphinxRecognizer&) = delete;
    SphinxRecognizer& operator=(const SphinxRecognizer&) = delete;

    bool ready() const { return m_decoder != nullptr; }
    QString error() const { return m_error; }

    // Whether the dictionary can pronounce the word.
    bool knows(const QString& word) const { return m_words.contains(word); }

    // Listens for the phrases of this grammar from now on. Phrases with a
    // word the dictionary lacks are left out and their voice texts added to
    // `leftOut`; false when no phrase is left.
    bool setGrammar(const VoiceGrammar& grammar, QStringList* leftOut = nullptr);

    // The phrase heard in one complete recording, or empty.
    QString decode(const QByteArray& pcm);

    // Streaming: audio as it arrives. Reports when speech begins and, once
    // it has ended, the phrase heard (empty when nothing was recognised).
    struct Heard {
        bool speechStarted = false;
        std::optional<QString> phrase;
    };
    Heard feed(const QByteArray& pcm);

private:
    void process(const QByteArray& pcm, bool fullUtterance);

    ps_decoder_s* m_decoder = nullptr;
    QSet<QString> m_words;
    QString m_error;
    bool m_hasGrammar = false;
    bool m_inUtterance = false;
    bool m_inSpeech = false;
    QByteArray m_odd; // a byte left over from an odd-sized chunk
};

} // namespace casalux
