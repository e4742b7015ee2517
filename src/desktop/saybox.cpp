#include "saybox.h"

#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace casalux {

SayBox::SayBox(QWidget* parent) : QWidget(parent), m_edit(new QLineEdit(this))
{
    setObjectName(QStringLiteral("frame_say"));
    m_edit->setObjectName(QStringLiteral("txt_say"));
    m_edit->setPlaceholderText(QStringLiteral("e.g. Cancel Lounge Lamp"));
    m_edit->setClearButtonEnabled(true);
    m_edit->setToolTip(QStringLiteral("Type a spoken command and press Enter"));
    auto* label = new QLabel(QStringLiteral("Sa&y a command:"), this);
    label->setBuddy(m_edit);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(label);
    layout->addWidget(m_edit);

    connect(m_edit, &QLineEdit::textEdited, this, [this](const QString& text) {
        // The first character is the user starting to speak.
        if (text.size() == 1)
            Q_EMIT speakingStarted();
    });
    connect(m_edit, &QLineEdit::returnPressed, this, [this] {
        const QString phrase = m_edit->text().simplified();
        if (!phrase.isEmpty())
            Q_EMIT phraseEntered(phrase);
    });
}

void SayBox::setUnderstood(bool understood)
{
    if (understood)
        m_edit->clear();
    else
        m_edit->selectAll();
}

} // namespace casalux
