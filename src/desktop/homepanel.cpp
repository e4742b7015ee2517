#include "homepanel.h"

#include "linkbutton.h"

#include <QLabel>
#include <QVBoxLayout>

namespace casalux {

HomePanel::HomePanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("panel_home"));
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QStringLiteral("Casalux"), this);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    title->setFont(big);
    layout->addWidget(title);
    auto* intro = new QLabel(QStringLiteral("Choose a room on the left to see and switch its "
                                            "devices, or pick what to do next:"),
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    layout->addSpacing(8);

    const auto link = [this, layout](const char* name, const char* text) {
        auto* button = new LinkButton(QString::fromLatin1(name), QString::fromLatin1(text), this);
        layout->addWidget(button, 0, Qt::AlignLeft);
        return button;
    };
    connect(link("Label3", "Add a new room"), &QPushButton::clicked, this,
            &HomePanel::addRoomRequested);
    connect(link("Label4", "Add a new device"), &QPushButton::clicked, this,
            &HomePanel::addDeviceRequested);
    connect(link("Label5", "Add or View timed events"), &QPushButton::clicked, this,
            &HomePanel::eventsRequested);
    layout->addSpacing(12);
    connect(link("lab_autodetect", "To auto detect X10 interface, click here"),
            &QPushButton::clicked, this, &HomePanel::autodetectRequested);
    connect(link("lab_manualport", "To manually set X10 port number, click here"),
            &QPushButton::clicked, this, &HomePanel::manualPortRequested);
    layout->addSpacing(12);

    m_sun = new QLabel(this);
    m_sun->setObjectName(QStringLiteral("lab_sunset"));
    m_sun->setWordWrap(true);
    layout->addWidget(m_sun);
    layout->addStretch(1);
}

void HomePanel::setSunLabel(const QString& text)
{
    m_sun->setText(text);
}

} // namespace casalux
