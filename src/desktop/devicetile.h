#pragma once

#include <QFrame>

class QLabel;
class QSlider;
class QToolButton;

namespace casalux {

// One device slot of the room view, sized for a finger: the picture (click
// it to switch), a brightness slider with its level in % for dimmable
// devices, the name under the picture and an "On"/"Off" caption. The frame
// is drawn heavier in the highlight colour while the device is on, so the
// state shows in words, shape and picture, not by colour alone.
class DeviceTile final : public QFrame {
    Q_OBJECT

public:
    static constexpr int touchSize = 96; // the picture's button, logical pixels

    DeviceTile(int index, QWidget* parent = nullptr);

    QToolButton* picture() const { return m_picture; }
    QSlider* slider() const { return m_slider; }
    QLabel* name() const { return m_name; }

    // The picture, hint, caption and frame of a device that is on or off.
    void setState(const QIcon& icon, bool on);
    bool isOn() const { return m_on; }
    // The slider and its % label, shown for dimmable devices only.
    void setDimmable(bool dimmable);
    // Moves the slider without it counting as the user's move.
    void setLevel(int level);

Q_SIGNALS:
    void pictureClicked();
    // The user let go of the slider, or moved it with the keyboard.
    void levelChosen(int level);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void showLevel(int level);

    QToolButton* m_picture = nullptr;
    QSlider* m_slider = nullptr;
    QLabel* m_level = nullptr;
    QLabel* m_name = nullptr;
    QLabel* m_state = nullptr;
    bool m_on = false;
};

} // namespace casalux
