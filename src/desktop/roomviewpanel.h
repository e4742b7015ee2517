#pragma once

#include "x10/roomview.h"

#include <QWidget>
#include <array>

class QGridLayout;
class QLabel;

namespace casalux {

class DevicePictures;
class DeviceTile;
class DeviceStatus;
class SettingsStore;

// The room view: the room's name and ten device slots, each a tile with a
// picture that shows whether the device is on (click it to switch), the
// device's name and, for dimmable devices, a brightness slider. The tiles
// share the panel's width: as many to a row as fit, five at most.
class RoomViewPanel final : public QWidget {
    Q_OBJECT

public:
    static constexpr int slotCount = RoomView::slotCount;

    RoomViewPanel(SettingsStore& settings, DeviceStatus& status, DevicePictures& pictures,
                  QWidget* parent = nullptr);

    // loadroom: the caption.
    void loadroom(const QString& roomName);
    QString room() const;
    // Hides every picture and slider and empties every name.
    void clearSlots();
    // The room whose devices fill the slots (the caption may name another:
    // a device node sets it to the device's room without refilling them).
    QString shownRoom() const { return m_shownRoom; }
    void setShownRoom(const QString& room) { m_shownRoom = room; }
    // Shows slot `index` for a device and draws it by its stored state.
    void showDevice(int index, const QString& deviceName, const QString& deviceKey, bool on);

    QString slotName(int index) const;
    void setpictureon(int index, const QString& deviceKey);
    void setpictureoff(int index, const QString& deviceKey);
    // Moves a slider without it counting as the user's move.
    void setSliderLevel(int index, int level);
    int sliderLevel(int index) const;

Q_SIGNALS:
    void pictureClicked(int index);
    // The user let go of a slider, or moved it with the keyboard.
    void levelChosen(int index, int level);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeTiles(int columns);
    void draw(int index, const QString& deviceKey, bool on);

    SettingsStore& m_settings;
    DeviceStatus& m_status;
    DevicePictures& m_pictures;
    QLabel* m_caption = nullptr;
    QGridLayout* m_grid = nullptr;
    int m_columns = 0;
    QString m_shownRoom;
    std::array<DeviceTile*, slotCount> m_tiles{};
};

} // namespace casalux
