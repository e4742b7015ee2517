#pragma once

#include "voicecommand.h"

#include <QStringList>
#include <functional>

namespace casalux {

// The voice texts of a command set as a grammar: which command a heard or
// typed phrase means, and the same phrases written out for a recogniser.
// Words compare without regard to case or punctuation; "[...]" groups may be
// left out.
class VoiceGrammar final {
public:
    VoiceGrammar() = default;
    explicit VoiceGrammar(const QList<VoiceCommand>& commands);

    // The name of the first command whose voice text the phrase says, or
    // empty when none does.
    QString commandFor(const QString& phrase) const;

    // The grammar in JSGF for a recogniser that knows only the words for
    // which `known` holds. Commands with an unknown word are left out and
    // their voice texts appended to `leftOut`. Empty when nothing is left.
    QString jsgf(const std::function<bool(const QString&)>& known, QStringList* leftOut) const;

    // A text cut into the words the grammar compares: lower case, letters,
    // digits and apostrophes.
    static QStringList words(const QString& text);

private:
    struct Part {
        QStringList words;
        bool optional = false;
    };
    struct Phrase {
        QString name;
        QString voiceText;
        QList<Part> parts;
    };

    static QList<Part> parse(const QString& voiceText);
    static bool matches(const QList<Part>& parts, const QStringList& words, int part, int word);

    QList<Phrase> m_phrases;
};

} // namespace casalux
