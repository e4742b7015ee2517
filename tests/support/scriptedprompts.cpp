#include "scriptedprompts.h"

namespace casalux::test {

QCoro::Task<Prompts::Answer> ScriptedPrompts::message(QString text, QString title, Icon icon,
                                                      Buttons buttons)
{
    shown.append({text, title, icon, buttons, false});
    if (!m_answers.isEmpty())
        co_return m_answers.takeFirst();
    co_return (buttons == Buttons::YesNo || buttons == Buttons::YesNoCancel) ? Answer::Yes
                                                                            : Answer::Ok;
}

QCoro::Task<std::optional<QString>> ScriptedPrompts::input(QString prompt, QString title,
                                                           QString defaultText)
{
    shown.append({prompt, title, Icon::None, Buttons::OkCancel, true});
    if (!m_inputs.isEmpty())
        co_return m_inputs.takeFirst();
    co_return defaultText;
}

QStringList ScriptedPrompts::texts() const
{
    QStringList out;
    for (const auto& s : shown)
        out.append(s.text);
    return out;
}

} // namespace casalux::test
