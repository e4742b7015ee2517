#include "roomviewpanel.h"

#include "devicepictures.h"
#include "home/devicestatus.h"
#include "home/devicetype.h"
#include "home/settingkeys.h"
#include "home/settingsstore.h"

#include <QGridLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

namespace casalux {

namespace {

constexpr int defaultLevel = 100; // a device switched on without a stored level
constexpr int offLevel = 20;      // where the slider of an off device rests
constexpr int columns = 5;

} // namespace

RoomViewPanel::RoomViewPanel(SettingsStore& settings, DeviceStatus& status,
                             DevicePictures& pictures, QWidget* parent)
    : QWidget(parent), m_settings(settings), m_status(status), m_pictures(pictures)
{
    setObjectName(QStringLiteral("panel_roomview"));
    auto* layout = new QVBoxLayout(this);
    m_caption = new QLabel(this);
    m_caption->setObjectName(QStringLiteral("lab_room"));
    QFont captionFont = m_caption->font();
    captionFont.setPointSizeF(captionFont.pointSizeF() * 1.6);
    captionFont.setBold(true);
    m_caption->setFont(captionFont);
    layout->addWidget(m_caption);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(18);
    grid->setVerticalSpacing(12);
    for (int i = 0; i < slotCount; ++i) {
        Slot& slot = m_slots[static_cast<size_t>(i)];
        auto* cell = new QWidget(this);
        auto* cellLayout = new QGridLayout(cell);
        cellLayout->setContentsMargins(0, 0, 0, 0);

        slot.picture = new QToolButton(cell);
        slot.picture->setObjectName(QStringLiteral("device_%1").arg(i));
        slot.picture->setIconSize(QSize(pictureSize, pictureSize));
        slot.picture->setAutoRaise(true);
        slot.picture->setFocusPolicy(Qt::StrongFocus);
        connect(slot.picture, &QToolButton::clicked, this, [this, i] { Q_EMIT pictureClicked(i); });

        slot.slider = new QSlider(Qt::Vertical, cell);
        slot.slider->setObjectName(QStringLiteral("image1_%1").arg(i));
        slot.slider->setRange(0, 100);
        slot.slider->setSingleStep(5);
        slot.slider->setPageStep(10);
        slot.slider->setFixedHeight(pictureSize);
        slot.slider->setToolTip(QStringLiteral(
            "Slide up to increase the brightness or Down to decrease the brightness"));
        QSlider* slider = slot.slider;
        // A drag counts once, when it is let go; keyboard and page steps
        // count as they happen.
        connect(slider, &QSlider::valueChanged, this, [this, i, slider](int value) {
            if (!slider->isSliderDown())
                Q_EMIT levelChosen(i, value);
        });
        connect(slider, &QSlider::sliderReleased, this,
                [this, i, slider] { Q_EMIT levelChosen(i, slider->value()); });

        slot.name = new QLabel(cell);
        slot.name->setObjectName(QStringLiteral("devicename_%1").arg(i));
        slot.name->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        slot.name->setWordWrap(true);
        slot.name->setMinimumWidth(pictureSize + 24);
        slot.name->setBuddy(slot.picture);

        cellLayout->addWidget(slot.picture, 0, 0, Qt::AlignHCenter);
        cellLayout->addWidget(slot.slider, 0, 1, Qt::AlignLeft);
        cellLayout->addWidget(slot.name, 1, 0, 1, 2);
        grid->addWidget(cell, i / columns, i % columns, Qt::AlignTop | Qt::AlignHCenter);
    }
    layout->addLayout(grid);
    layout->addStretch(1);
    clearSlots();
}

void RoomViewPanel::loadroom(const QString& roomName)
{
    m_caption->setText(roomName);
}

QString RoomViewPanel::room() const
{
    return m_caption->text();
}

void RoomViewPanel::clearSlots()
{
    m_shownRoom.clear();
    for (Slot& slot : m_slots) {
        slot.picture->hide();
        slot.slider->hide();
        slot.name->clear();
        slot.name->hide();
    }
}

void RoomViewPanel::showDevice(int index, const QString& deviceName, const QString& deviceKey,
                               bool on)
{
    if (index < 0 || index >= slotCount)
        return;
    Slot& slot = m_slots[static_cast<size_t>(index)];
    slot.picture->show();
    slot.name->show();
    slot.name->setText(deviceName);
    slot.picture->setAccessibleName(deviceName);
    draw(index, deviceKey, on);
}

QString RoomViewPanel::slotName(int index) const
{
    if (index < 0 || index >= slotCount)
        return {};
    return m_slots[static_cast<size_t>(index)].name->text();
}

void RoomViewPanel::setpictureon(int index, const QString& deviceKey)
{
    draw(index, deviceKey, true);
}

void RoomViewPanel::setpictureoff(int index, const QString& deviceKey)
{
    draw(index, deviceKey, false);
}

void RoomViewPanel::draw(int index, const QString& deviceKey, bool on)
{
    if (index < 0 || index >= slotCount)
        return;
    Slot& slot = m_slots[static_cast<size_t>(index)];
    const QString kind = DeviceType::storedFamily(m_settings, deviceKey);
    const QString file = on ? DeviceType::pictureOn(kind) : DeviceType::pictureOff(kind);
    slot.picture->setIcon(QIcon(m_pictures.picture(file, pictureSize, devicePixelRatioF())));
    slot.picture->setProperty("picture", file);
    slot.picture->setToolTip(on ? QStringLiteral("Click me to turn this device OFF")
                                : QStringLiteral("Click me to turn this device ON"));

    if (DeviceType::isDimmable(kind)) {
        int level = offLevel;
        if (on) {
            level = m_status.level(deviceKey);
            if (level < 0)
                level = defaultLevel;
        }
        setSliderLevel(index, level);
        slot.slider->show();
    } else {
        slot.slider->hide();
    }
}

void RoomViewPanel::setSliderLevel(int index, int level)
{
    if (index < 0 || index >= slotCount)
        return;
    const QSignalBlocker quiet(m_slots[static_cast<size_t>(index)].slider);
    m_slots[static_cast<size_t>(index)].slider->setValue(level);
}

int RoomViewPanel::sliderLevel(int index) const
{
    if (index < 0 || index >= slotCount)
        return 0;
    return m_slots[static_cast<size_t>(index)].slider->value();
}

} // namespace casalux
