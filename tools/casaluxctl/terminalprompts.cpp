#include "terminalprompts.h"

#include <cstdio>

namespace casalux {

QCoro::Task<Prompts::Answer> TerminalPrompts::message(QString text, QString title, Icon icon,
                                                      Buttons buttons)
{
    if (buttons != Buttons::Ok)
        co_return m_answers.isEmpty() ? Answer::No : m_answers.takeFirst();
    // The web port's refusal comes with an information icon: its title
    // says it is an error.
    const bool error = icon == Icon::Critical || icon == Icon::Exclamation ||
                       title.startsWith(QLatin1String("Error"));
    if (error) {
        m_refused = true;
        std::fprintf(stderr, "casaluxctl: %s\n", qPrintable(text.simplified()));
    } else {
        std::printf("%s\n", qPrintable(text.simplified()));
    }
    co_return Answer::Ok;
}

QCoro::Task<std::optional<QString>> TerminalPrompts::input(QString, QString, QString)
{
    if (m_inputs.isEmpty())
        co_return std::nullopt;
    co_return m_inputs.takeFirst();
}

} // namespace casalux
