#pragma once

#include "platform/prompts.h"

#include <QList>
#include <QStringList>

namespace casalux {

// The boxes of the shared set-up code, on a terminal: an error box is one
// line on standard error (and marks the command refused), any other box a
// line on standard output. Questions and input boxes are answered from
// what the command line gave, in order.
class TerminalPrompts final : public Prompts {
public:
    void setAnswers(QList<Answer> answers) { m_answers = std::move(answers); }
    void setInputs(QStringList inputs) { m_inputs = std::move(inputs); }
    // An error box was shown: the command was refused.
    bool refused() const { return m_refused; }

    QCoro::Task<Answer> message(QString text, QString title, Icon icon,
                                Buttons buttons = Buttons::Ok) override;
    QCoro::Task<std::optional<QString>> input(QString prompt, QString title,
                                              QString defaultText = {}) override;

private:
    QList<Answer> m_answers;
    QStringList m_inputs;
    bool m_refused = false;
};

} // namespace casalux
