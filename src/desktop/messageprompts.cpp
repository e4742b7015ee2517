#include "messageprompts.h"

#include <QInputDialog>
#include <QMessageBox>

#include <qcoro/qcorosignal.h>

namespace casalux {

namespace {

QMessageBox::Icon boxIcon(Prompts::Icon icon)
{
    switch (icon) {
    case Prompts::Icon::Information:
        return QMessageBox::Information;
    case Prompts::Icon::Exclamation:
        return QMessageBox::Warning;
    case Prompts::Icon::Critical:
        return QMessageBox::Critical;
    case Prompts::Icon::Question:
        return QMessageBox::Question;
    case Prompts::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons boxButtons(Prompts::Buttons buttons)
{
    switch (buttons) {
    case Prompts::Buttons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case Prompts::Buttons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case Prompts::Buttons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case Prompts::Buttons::Ok:
        break;
    }
    return QMessageBox::Ok;
}

Prompts::Answer answerOf(QMessageBox::StandardButton button, Prompts::Buttons buttons)
{
    switch (button) {
    case QMessageBox::Ok:
        return Prompts::Answer::Ok;
    case QMessageBox::Yes:
        return Prompts::Answer::Yes;
    case QMessageBox::No:
        return Prompts::Answer::No;
    default:
        break;
    }
    // Closed with Escape or the title bar: the most cautious answer offered.
    return buttons == Prompts::Buttons::Ok ? Prompts::Answer::Ok
           : buttons == Prompts::Buttons::YesNo ? Prompts::Answer::No
                                                : Prompts::Answer::Cancel;
}

} // namespace

QCoro::Task<Prompts::Answer> MessagePrompts::message(QString text, QString title, Icon icon,
                                                     Buttons buttons)
{
    QPointer<QMessageBox> box =
        new QMessageBox(boxIcon(icon), title, text, boxButtons(buttons), m_parent);
    box->setAttribute(Qt::WA_DeleteOnClose, false);
    box->open();
    co_await qCoro(box.data(), &QMessageBox::finished);
    if (!box)
        co_return answerOf(QMessageBox::NoButton, buttons);
    const auto answer = answerOf(box->standardButton(box->clickedButton()), buttons);
    box->deleteLater();
    co_return answer;
}

QCoro::Task<std::optional<QString>> MessagePrompts::input(QString prompt, QString title,
                                                          QString defaultText)
{
    QPointer<QInputDialog> box = new QInputDialog(m_parent);
    box->setWindowTitle(title);
    box->setLabelText(prompt);
    box->setTextValue(defaultText);
    box->open();
    const auto result = co_await qCoro(box.data(), &QInputDialog::finished);
    if (!box)
        co_return std::nullopt;
    std::optional<QString> answer;
    if (result == QDialog::Accepted)
        answer = box->textValue();
    box->deleteLater();
    co_return answer;
}

} // namespace casalux
