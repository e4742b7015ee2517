#include "roomviewpanel.h"

#include "devicepictures.h"
#include "devicetile.h"
#include "home/devicestatus.h"
#include "home/devicetype.h"
#include "home/settingkeys.h"
#include "home/settingsstore.h"

#include <QGridLayout>
#include <QLabel>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace casalux {

namespace {

constexpr int defaultLevel = 100; // a device switched on without a stored level
constexpr int offLevel = 20;      // where the slider of an off device rests
constexpr int maxColumns = 5;

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

    m_grid = new QGridLayout;
    m_grid->setSpacing(12);
    for (int i = 0; i < slotCount; ++i) {
        auto* tile = new DeviceTile(i, this);
        m_tiles[static_cast<size_t>(i)] = tile;
        connect(tile, &DeviceTile::pictureClicked, this, [this, i] { Q_EMIT pictureClicked(i); });
        connect(tile, &DeviceTile::levelChosen, this,
                [this, i](int level) { Q_EMIT levelChosen(i, level); });
    }
    placeTiles(maxColumns);
    // One tile wide at the least, whatever the columns now: the width the
    // panel is given decides them (resizeEvent), not the other way round.
    const QMargins margins = layout->contentsMargins();
    setMinimumWidth(m_tiles[0]->minimumWidth() + margins.left() + margins.right());
    layout->addLayout(m_grid);
    layout->addStretch(1);
    clearSlots();
}

void RoomViewPanel::placeTiles(int columns)
{
    if (columns == m_columns)
        return;
    m_columns = columns;
    for (DeviceTile* tile : m_tiles)
        m_grid->removeWidget(tile);
    for (int i = 0; i < slotCount; ++i)
        m_grid->addWidget(m_tiles[static_cast<size_t>(i)], i / columns, i % columns);
    // Equal columns that keep their width when a room has fewer devices.
    for (int c = 0; c < maxColumns; ++c) {
        m_grid->setColumnStretch(c, c < columns ? 1 : 0);
        m_grid->setColumnMinimumWidth(c, c < columns ? m_tiles[0]->minimumWidth() : 0);
    }
}

void RoomViewPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const QMargins margins = contentsMargins() + layout()->contentsMargins();
    const int room = width() - margins.left() - margins.right() + m_grid->horizontalSpacing();
    const int tile = m_tiles[0]->minimumWidth() + m_grid->horizontalSpacing();
    placeTiles(std::clamp(room / tile, 1, maxColumns));
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
    for (DeviceTile* tile : m_tiles) {
        tile->picture()->hide();
        tile->setDimmable(false);
        tile->name()->clear();
        tile->name()->hide();
        tile->hide();
    }
}

void RoomViewPanel::showDevice(int index, const QString& deviceName, const QString& deviceKey,
                               bool on)
{
    if (index < 0 || index >= slotCount)
        return;
    DeviceTile* tile = m_tiles[static_cast<size_t>(index)];
    tile->show();
    tile->picture()->show();
    tile->name()->show();
    tile->name()->setText(deviceName);
    tile->picture()->setAccessibleName(deviceName);
    draw(index, deviceKey, on);
}

QString RoomViewPanel::slotName(int index) const
{
    if (index < 0 || index >= slotCount)
        return {};
    return m_tiles[static_cast<size_t>(index)]->name()->text();
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
    DeviceTile* tile = m_tiles[static_cast<size_t>(index)];
    const QString kind = DeviceType::storedFamily(m_settings, deviceKey);
    const QString file = on ? DeviceType::pictureOn(kind) : DeviceType::pictureOff(kind);
    tile->setState(m_pictures.device(file), on);
    // The pages' name for the picture: what is drawn, for tests and tools.
    tile->picture()->setProperty("picture", file);

    const bool dimmable = DeviceType::isDimmable(kind);
    if (dimmable) {
        int level = offLevel;
        if (on) {
            level = m_status.level(deviceKey);
            if (level < 0)
                level = defaultLevel;
        }
        setSliderLevel(index, level);
    }
    tile->setDimmable(dimmable);
}

void RoomViewPanel::setSliderLevel(int index, int level)
{
    if (index < 0 || index >= slotCount)
        return;
    m_tiles[static_cast<size_t>(index)]->setLevel(level);
}

int RoomViewPanel::sliderLevel(int index) const
{
    if (index < 0 || index >= slotCount)
        return 0;
    return m_tiles[static_cast<size_t>(index)]->slider()->value();
}

} // namespace casalux
