#include "devicetile.h"

#include "devicepictures.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

namespace casalux {

DeviceTile::DeviceTile(int index, QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("tile_%1").arg(index));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setHorizontalSpacing(4);
    layout->setVerticalSpacing(4);

    m_picture = new QToolButton(this);
    m_picture->setObjectName(QStringLiteral("device_%1").arg(index));
    m_picture->setIconSize(QSize(DevicePictures::tileSize, DevicePictures::tileSize));
    m_picture->setMinimumSize(touchSize, touchSize);
    m_picture->setAutoRaise(true);
    m_picture->setFocusPolicy(Qt::StrongFocus);
    connect(m_picture, &QToolButton::clicked, this, &DeviceTile::pictureClicked);

    m_level = new QLabel(this);
    m_level->setObjectName(QStringLiteral("devicelevel_%1").arg(index));
    m_level->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    // Room for "100 %" whatever the level, so the slider does not shift.
    m_level->setMinimumWidth(m_level->fontMetrics().horizontalAdvance(QStringLiteral("100 %")));

    m_slider = new QSlider(Qt::Vertical, this);
    m_slider->setObjectName(QStringLiteral("image1_%1").arg(index));
    m_slider->setRange(0, 100);
    m_slider->setSingleStep(5);
    m_slider->setPageStep(10);
    m_slider->setFixedHeight(touchSize - m_level->sizeHint().height() - 4);
    m_slider->setToolTip(
        QStringLiteral("Slide up to increase the brightness or Down to decrease the brightness"));
    m_slider->setAccessibleName(QStringLiteral("Brightness"));
    // A drag counts once, when it is let go; keyboard and page steps count
    // as they happen. The % follows the handle all the way.
    connect(m_slider, &QSlider::valueChanged, this, [this](int value) {
        showLevel(value);
        if (!m_slider->isSliderDown())
            Q_EMIT levelChosen(value);
    });
    connect(m_slider, &QSlider::sliderReleased, this,
            [this] { Q_EMIT levelChosen(m_slider->value()); });

    m_name = new QLabel(this);
    m_name->setObjectName(QStringLiteral("devicename_%1").arg(index));
    m_name->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_name->setWordWrap(true);
    QFont nameFont = m_name->font();
    nameFont.setBold(true);
    m_name->setFont(nameFont);
    m_name->setBuddy(m_picture);

    m_state = new QLabel(this);
    m_state->setObjectName(QStringLiteral("devicestate_%1").arg(index));
    m_state->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    auto* levelColumn = new QVBoxLayout;
    levelColumn->setSpacing(4);
    levelColumn->addWidget(m_level, 0, Qt::AlignHCenter);
    levelColumn->addWidget(m_slider, 0, Qt::AlignHCenter);
    levelColumn->addStretch(1);
    // The picture centred on the tile; the slider column on its right is
    // balanced by an equal empty column on its left.
    layout->setColumnStretch(0, 1);
    layout->setColumnStretch(2, 1);
    layout->addWidget(m_picture, 0, 1, Qt::AlignCenter);
    layout->addLayout(levelColumn, 0, 2, Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(m_name, 1, 0, 1, 3);
    layout->addWidget(m_state, 2, 0, 1, 3);
    setMinimumWidth(touchSize + layout->horizontalSpacing() + m_level->minimumWidth() +
                    layout->contentsMargins().left() + layout->contentsMargins().right());
}

void DeviceTile::setState(const QIcon& icon, bool on)
{
    m_on = on;
    m_picture->setIcon(icon);
    m_picture->setToolTip(on ? QStringLiteral("Click me to turn this device OFF")
                             : QStringLiteral("Click me to turn this device ON"));
    m_picture->setAccessibleDescription(on ? QStringLiteral("On") : QStringLiteral("Off"));
    m_state->setText(on ? QStringLiteral("On") : QStringLiteral("Off"));
    QFont font = m_state->font();
    font.setBold(on);
    m_state->setFont(font);
    m_state->setForegroundRole(on ? QPalette::WindowText : QPalette::PlaceholderText);
    m_level->setEnabled(on);
    update();
}

void DeviceTile::setDimmable(bool dimmable)
{
    m_slider->setVisible(dimmable);
    m_level->setVisible(dimmable);
}

void DeviceTile::setLevel(int level)
{
    const QSignalBlocker quiet(m_slider);
    m_slider->setValue(level);
    showLevel(m_slider->value());
}

void DeviceTile::showLevel(int level)
{
    m_level->setText(QStringLiteral("%1 %").arg(level));
    m_slider->setAccessibleDescription(m_level->text());
}

void DeviceTile::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal width = m_on ? 2.5 : 1.0;
    const QRectF box = QRectF(rect()).adjusted(width / 2, width / 2, -width / 2, -width / 2);
    painter.setPen(QPen(palette().color(m_on ? QPalette::Highlight : QPalette::Mid), width));
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(box, 8, 8);
}

} // namespace casalux
