#pragma once

#include "platform/prompts.h"

#include <QPointer>

class QWidget;

namespace casalux {

// The real message and input boxes. Each box is shown window-modal with
// open() and the calling coroutine resumes when it is closed, so no event
// loop is ever nested inside another.
class MessagePrompts final : public Prompts {
public:
    explicit MessagePrompts(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParentWidget(QWidget* parent) { m_parent = parent; }

    QCoro::Task<Answer> message(QString text, QString title, Icon icon,
                                Buttons buttons = Buttons::Ok) override;
    QCoro::Task<std::optional<QString>> input(QString prompt, QString title,
                                              QString defaultText = {}) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace casalux
