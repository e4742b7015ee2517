#include "voicegrammar.h"

namespace casalux {

VoiceGrammar::VoiceGrammar(const QList<VoiceCommand>& commands)
{
    for (const VoiceCommand& command : commands) {
        QList<Part> parts = parse(command.voiceText);
        const bool saysSomething =
            std::any_of(parts.cbegin(), parts.cend(), [](const Part& p) { return !p.optional; });
        if (saysSomething)
            m_phrases.append({command.name, command.voiceText, std::move(parts)});
    }
}

QStringList VoiceGrammar::words(const QString& text)
{
    QStringList result;
    QString word;
    for (const QChar c : text) {
        if (c.isLetterOrNumber() || c == QLatin1Char('\'')) {
            word += c.toLower();
        } else if (!word.isEmpty()) {
            result.append(word);
            word.clear();
        }
    }
    if (!word.isEmpty())
        result.append(word);
    return result;
}

QList<VoiceGrammar::Part> VoiceGrammar::parse(const QString& voiceText)
{
    QList<Part> parts;
    qsizetype pos = 0;
    while (pos < voiceText.size()) {
        const qsizetype open = voiceText.indexOf(QLatin1Char('['), pos);
        const qsizetype close = open < 0 ? -1 : voiceText.indexOf(QLatin1Char(']'), open);
        // A "[" without its "]" is read as an ordinary character.
        const qsizetype plainEnd = close < 0 ? voiceText.size() : open;
        for (const QString& word : words(voiceText.mid(pos, plainEnd - pos)))
            parts.append({{word}, false});
        if (close < 0)
            break;
        if (QStringList group = words(voiceText.mid(open + 1, close - open - 1)); !group.isEmpty())
            parts.append({std::move(group), true});
        pos = close + 1;
    }
    return parts;
}

bool VoiceGrammar::matches(const QList<Part>& parts, const QStringList& words, int part, int word)
{
    if (part == parts.size())
        return word == words.size();
    const Part& p = parts.at(part);
    const bool fits = word + p.words.size() <= words.size() &&
                      std::equal(p.words.cbegin(), p.words.cend(), words.cbegin() + word);
    if (fits && matches(parts, words, part + 1, word + int(p.words.size())))
        return true;
    return p.optional && matches(parts, words, part + 1, word);
}

QString VoiceGrammar::commandFor(const QString& phrase) const
{
    const QStringList said = words(phrase);
    if (said.isEmpty())
        return {};
    for (const Phrase& p : m_phrases) {
        if (matches(p.parts, said, 0, 0))
            return p.name;
    }
    return {};
}

QString VoiceGrammar::jsgf(const std::function<bool(const QString&)>& known,
                           QStringList* leftOut) const
{
    QStringList rules;
    QStringList alternatives;
    for (const Phrase& p : m_phrases) {
        QStringList body;
        bool usable = true;
        for (const Part& part : p.parts) {
            for (const QString& word : part.words)
                usable = usable && known(word);
            const QString words = part.words.join(QLatin1Char(' '));
            body.append(part.optional ? QLatin1Char('[') + words + QLatin1Char(']') : words);
        }
        if (!usable) {
            if (leftOut)
                leftOut->append(p.voiceText);
            continue;
        }
        const QString rule = QStringLiteral("c%1").arg(rules.size());
        rules.append(QStringLiteral("<%1> = %2;").arg(rule, body.join(QLatin1Char(' '))));
        alternatives.append(QLatin1Char('<') + rule + QLatin1Char('>'));
    }
    if (rules.isEmpty())
        return {};
    return QLatin1String("#JSGF V1.0;\ngrammar casalux;\npublic <command> = ") +
           alternatives.join(QLatin1String(" | ")) + QLatin1String(";\n") +
           rules.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace casalux
