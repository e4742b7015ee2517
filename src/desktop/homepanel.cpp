#include "homepanel.h"

#include "linkbutton.h"
#include "panelparts.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace casalux {

HomePanel::HomePanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("panel_home"));
    auto* layout = new QVBoxLayout(this);
    auto* title = panelTitle(QStringLiteral("Casalux"), this, 1.8);
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
    connect(link("Label3", "Add a new &room"), &QPushButton::clicked, this,
            &HomePanel::addRoomRequested);
    connect(link("Label4", "Add a new &device"), &QPushButton::clicked, this,
            &HomePanel::addDeviceRequested);
    connect(link("Label5", "Add or View timed &events"), &QPushButton::clicked, this,
            &HomePanel::eventsRequested);
    layout->addSpacing(12);
    connect(link("lab_autodetect", "To &auto detect X10 interface, click here"),
            &QPushButton::clicked, this, &HomePanel::autodetectRequested);
    connect(link("lab_manualport", "To &manually set X10 port number, click here"),
            &QPushButton::clicked, this, &HomePanel::manualPortRequested);
    layout->addSpacing(12);

    m_sun = new QLabel(this);
    m_sun->setObjectName(QStringLiteral("lab_sunset"));
    m_sun->setWordWrap(true);
    layout->addWidget(m_sun);
    layout->addSpacing(12);

    auto* options = new QGroupBox(QStringLiteral("Start-up options"), this);
    options->setObjectName(QStringLiteral("Frame_options"));
    auto* optionsLayout = new QVBoxLayout(options);
    const auto box = [options, optionsLayout](const char* name, const char* text,
                                              const char* hint) {
        auto* check = new QCheckBox(QString::fromLatin1(text), options);
        check->setObjectName(QString::fromLatin1(name));
        check->setToolTip(QString::fromLatin1(hint));
        optionsLayout->addWidget(check);
        return check;
    };
    m_service = box("chk_service", "Run as a &service",
                    "Hand the interface to the background engine when this program closes, so "
                    "events and the web server keep working");
    m_lww = box("chk_lww", "&Load at log-in", "Start this program when you log in");
    m_startup = box("chk_startup", "Delayed S&tartup",
                    "Wait 20 seconds before taking the interface at start-up");
    layout->addWidget(options, 0, Qt::AlignLeft);
    layout->addStretch(1);

    connect(m_service, &QCheckBox::clicked, this, &HomePanel::serviceClicked);
    connect(m_lww, &QCheckBox::clicked, this, &HomePanel::loadWithWindowsClicked);
    connect(m_startup, &QCheckBox::clicked, this, &HomePanel::delayedStartupClicked);
}

void HomePanel::setOptions(bool service, bool loadWithWindows, bool delayedStartup)
{
    const QSignalBlocker a(m_service), b(m_lww), c(m_startup);
    m_service->setChecked(service);
    m_lww->setChecked(loadWithWindows);
    m_startup->setChecked(delayedStartup);
}

bool HomePanel::serviceTicked() const
{
    return m_service->isChecked();
}

void HomePanel::setSunLabel(const QString& text)
{
    m_sun->setText(text);
}

} // namespace casalux
