#pragma once

#include "platform/prompts.h"

#include <QList>
#include <QStringList>

namespace casalux::test {

// Prompts whose answers a test queues in advance; every box shown is recorded.
// A box with no queued answer gets the first button's answer (Ok or Yes).
class ScriptedPrompts final : public Prompts {
public:
    struct Shown {
        QString text;
        QString title;
        Icon icon = Icon::None;
        Buttons buttons = Buttons::Ok;
        bool isInput = false;
    };

    void queueAnswer(Answer answer) { m_answers.append(answer); }
    void queueInput(const std::optional<QString>& text) { m_inputs.append(text); }

    QCoro::Task<Answer> message(QString text, QString title, Icon icon, Buttons buttons) override;
    QCoro::Task<std::optional<QString>> input(QString prompt, QString title,
                                              QString defaultText) override;

    QList<Shown> shown;
    QStringList texts() const;

private:
    QList<Answer> m_answers;
    QList<std::optional<QString>> m_inputs;
};

} // namespace casalux::test
