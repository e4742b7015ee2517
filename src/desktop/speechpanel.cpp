#include "speechpanel.h"

#include "panelparts.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace casalux {

SpeechPanel::SpeechPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("panel_speech"));
    auto* layout = new QVBoxLayout(this);
    auto* title = panelTitle(QStringLiteral("Speech Recognition Reminers"), this);
    layout->addWidget(title);

    auto* grid = new QGridLayout;
    grid->setVerticalSpacing(10);
    const std::array<std::pair<const char*, const char*>, 4> rows{{
        {"To turn a device ON",
         "Say   (room)  then  (device name)  then ON   e.g. Bedroom Light On"},
        {"To turn a device OFF",
         "Say   Cancel  (room)  then  (device name)    e.g. Cancel bedroom light"},
        {"To DIM a device", "Say   Dim  (room)  then  (device name)   e.g. Dim bedroom light"},
        {"To make a device brighter",
         "Say   Bright  (room)  then  (device name)    e.g. Bright bedroom light"},
    }};
    int row = 0;
    for (const auto& [what, say] : rows) {
        auto* heading = new QLabel(QString::fromLatin1(what), this);
        QFont font = heading->font();
        font.setBold(true);
        heading->setFont(font);
        grid->addWidget(heading, row, 0, Qt::AlignTop);
        auto* text = new QLabel(QString::fromLatin1(say), this);
        text->setWordWrap(true);
        grid->addWidget(text, row, 1);
        ++row;
    }
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);
    layout->addSpacing(12);
    layout->addWidget(new QLabel(
        QStringLiteral("Saying  'Repeat Command'   will repeat your last command"), this));
    layout->addWidget(new QLabel(
        QStringLiteral("Speak Fluently and Clearly and leave small breaks between your words"),
        this));
    // Off until the user asks: an open microphone would take a conversation
    // or the television for commands.
    layout->addSpacing(12);
    m_listen = new QCheckBox(QStringLiteral("&Listen to the microphone for spoken commands"), this);
    m_listen->setObjectName(QStringLiteral("chk_listen"));
    layout->addWidget(m_listen);
    connect(m_listen, &QCheckBox::clicked, this, &SpeechPanel::listenClicked);
    layout->addStretch(1);
}

void SpeechPanel::showListening(bool on)
{
    m_listen->setChecked(on);
}

} // namespace casalux
