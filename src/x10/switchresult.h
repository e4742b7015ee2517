#pragma once

#include <QString>

#include <utility>

namespace casalux {

// How one device command ended, with the reason when it did not: the
// reason travels with the result, so a caller never reads another
// command's.
class SwitchResult final {
public:
    enum class Outcome {
        Done,    // carried out (and recorded, where the caller records)
        NotSent, // the interface did not carry it out
        Refused, // not tried: the program cannot switch now, or no longer should
    };

    // Nothing tried yet.
    SwitchResult() = default;

    static SwitchResult done() { return SwitchResult(Outcome::Done, {}); }
    static SwitchResult notSent(QString why) { return {Outcome::NotSent, std::move(why)}; }
    static SwitchResult refused(QString why) { return {Outcome::Refused, std::move(why)}; }

    Outcome outcome() const { return m_outcome; }
    bool isDone() const { return m_outcome == Outcome::Done; }
    // Empty when done.
    const QString& why() const { return m_why; }

private:
    SwitchResult(Outcome outcome, QString why) : m_outcome(outcome), m_why(std::move(why)) {}

    Outcome m_outcome = Outcome::Refused;
    QString m_why;
};

} // namespace casalux
