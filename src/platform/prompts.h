#pragma once

#include <QString>

#include <optional>

#include <qcoro/qcorotask.h>

namespace casalux {

// Every message box and input box of the programs goes through here, with the
// fixed texts and titles. The desktop shows real boxes without nesting an
// event loop (hence the coroutines); the engine answers without asking; tests
// script the answers.
class Prompts {
public:
    enum class Icon { None, Information, Exclamation, Critical, Question };
    enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
    enum class Answer { Ok, Cancel, Yes, No };

    virtual ~Prompts() = default;

    virtual QCoro::Task<Answer> message(QString text, QString title, Icon icon,
                                        Buttons buttons = Buttons::Ok) = 0;
    // An empty optional means the user cancelled.
    virtual QCoro::Task<std::optional<QString>> input(QString prompt, QString title,
                                                      QString defaultText = {}) = 0;
};

} // namespace casalux
