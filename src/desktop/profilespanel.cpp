#include "profilespanel.h"

#include "desktopcore.h"
#include "panelparts.h"
#include "home/settingsstore.h"
#include "platform/prompts.h"
#include "x10/roomview.h"
#include "schedule/sunrisecalculator.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace casalux {

ProfilesPanel::ProfilesPanel(DesktopCore& core, QWidget* parent) : QWidget(parent), m_core(core)
{
    setObjectName(QStringLiteral("panel_profiles"));
    auto* layout = new QVBoxLayout(this);
    auto* title = panelTitle(QStringLiteral("Profiles"), this);
    layout->addWidget(title);

    const QString profileHelp = QStringLiteral(
        "Power profiles allow you to set different sets of events based on things like Holidays, "
        "Weekends, Business Trips etc. When you select a different profile above, your will get a "
        "new events list. Whatever you set as an event in one profile, will not be shown in a "
        "different profile.");
    m_profile = new QComboBox(this);
    m_profile->setObjectName(QStringLiteral("com_profile"));
    m_profile->addItems(EventProfiles::names());
    m_profile->setToolTip(profileHelp);
    layout->addWidget(m_profile, 0, Qt::AlignLeft);
    // The help text names the box for the keyboard (Alt+P).
    auto* help = new QLabel(QLatin1Char('&') + profileHelp, this);
    help->setBuddy(m_profile);
    help->setWordWrap(true);
    layout->addWidget(help);
    layout->addSpacing(16);

    auto* cityHelp = new QLabel(QStringLiteral("Select the nearest &City to you from this drop "
                                               "down list, this will be used to calculate Sunrise "
                                               "and Sunset times."),
                                this);
    cityHelp->setObjectName(QStringLiteral("Label9"));
    cityHelp->setWordWrap(true);
    layout->addWidget(cityHelp);
    m_city = new QComboBox(this);
    m_city->setObjectName(QStringLiteral("com_city"));
    // Editable, so a place that is not in the table can be typed as
    // "Name, Region, latitude, longitude, zone".
    m_city->setEditable(true);
    m_city->setInsertPolicy(QComboBox::NoInsert);
    for (int i = 0; i < SunriseCalculator::CityCount(); ++i)
        m_city->addItem(SunriseCalculator::cityLine(i));
    m_city->setMinimumContentsLength(32);
    cityHelp->setBuddy(m_city);
    layout->addWidget(m_city, 0, Qt::AlignLeft);
    m_dst = new QCheckBox(QStringLiteral("&Daylight Saving Time"), this);
    m_dst->setObjectName(QStringLiteral("Check1"));
    layout->addWidget(m_dst, 0, Qt::AlignLeft);
    layout->addStretch(1);

    // Only the user's own choices count; showing the stored values does not
    // start a swap or a recomputation.
    connect(m_profile, &QComboBox::activated, this,
            [this](int index) { m_core.launch(swapProfile(m_profile->itemText(index))); });
    connect(m_city, &QComboBox::activated, this,
            [this](int index) { chooseCity(m_city->itemText(index)); });
    connect(m_city->lineEdit(), &QLineEdit::returnPressed, this,
            [this] { chooseCity(m_city->currentText()); });
    connect(m_dst, &QCheckBox::clicked, this, [this](bool on) {
        m_core.sun.setDaylightSaving(on);
        Q_EMIT sunTimesChanged();
    });
    showStored();
}

void ProfilesPanel::showStored()
{
    m_profile->setCurrentText(m_core.profiles.current());
    m_city->setCurrentText(m_core.settings.read(settingkeys::city));
    m_dst->setChecked(m_core.settings.read(settingkeys::dst) != QLatin1String("0"));
}

void ProfilesPanel::chooseCity(const QString& text)
{
    QString why;
    if (m_core.sun.selectCity(text, &why))
        Q_EMIT sunTimesChanged();
    else if (!why.isEmpty() && !m_refusingCity)
        m_core.launch(refuseCity(why));
}

// One box per refusal: a single Return press reaches the line edit's
// signal twice, within one event. The mark stays until the box is answered
// and that event is over.
QCoro::Task<> ProfilesPanel::refuseCity(QString why)
{
    QPointer<ProfilesPanel> self(this);
    m_refusingCity = true;
    co_await m_core.prompts.message(why, QStringLiteral("City"), Prompts::Icon::Exclamation);
    if (self)
        QTimer::singleShot(0, self, [self] { self->m_refusingCity = false; });
}

QCoro::Task<> ProfilesPanel::swapProfile(QString next)
{
    QPointer<ProfilesPanel> self(this);
    if (next == m_core.profiles.current())
        co_return;
    m_core.view.setBusy(true);
    const auto result = co_await m_core.profiles.swapProfile(next);
    m_core.view.setBusy(false);
    if (!self)
        co_return;
    if (result == EventProfiles::SwapResult::Swapped) {
        Q_EMIT profileSwapped();
    } else {
        m_profile->setCurrentText(m_core.profiles.current());
        if (result == EventProfiles::SwapResult::Failed)
            co_await m_core.prompts.message(
                QStringLiteral("The profile could not be changed; your events are as they were."),
                QStringLiteral("Error"), Prompts::Icon::Critical);
    }
}

} // namespace casalux
