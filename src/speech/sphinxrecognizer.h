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
        QString phones;     // phone language model, for judging what was heard
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

    // What was heard and how sure the recogniser is of it. The grammar holds
    // only the home's phrases, so any sound (a conversation, the television)
    // comes out as the nearest of them; the confidence tells a phrase said
    // from one forced out of other words. It is the score of the phrase
    // against that of the best free sequence of speech sounds over the same
    // audio, per 10 ms frame: near 0 or below when the free sounds fit as
    // well as the phrase.
    struct Result {
        QString phrase; // empty when nothing was recognised
        double confidence = 0;
    };
    // Below this a result is ignored. Measured with synthetic speech (flite)
    // padded with silence: the home's phrases scored 3.3 to 23, other
    // sentences forced into them 0 at most (most of them below -1).
    static constexpr double minimumConfidence = 2.0;

    // The phrase heard in one complete recording.
    Result decode(const QByteArray& pcm);

    // Streaming: audio as it arrives. Reports when speech begins and, once
    // it has ended, what was heard.
    struct Heard {
        bool speechStarted = false;
        std::optional<Result> result;
    };
    Heard feed(const QByteArray& pcm);

private:
    void process(const QByteArray& pcm, bool fullUtterance);
    // Judges the phrase of the utterance just decoded, whose sound is
    // `audio`, against free speech sounds over the same sound.
    Result judge(const QByteArray& audio);
    // Decodes a whole recording with the current search; its score.
    int decodeSpan(const QByteArray& audio);

    ps_decoder_s* m_decoder = nullptr;
    QSet<QString> m_words;
    QString m_error;
    bool m_hasGrammar = false;
    bool m_inUtterance = false;
    bool m_inSpeech = false;
    QByteArray m_odd;       // a byte left over from an odd-sized chunk
    QByteArray m_utterance; // the sound of the utterance under way
};

} // namespace casalux
