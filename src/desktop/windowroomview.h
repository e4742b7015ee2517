#pragma once

#include "roomviewpanel.h"
#include "x10/roomview.h"

#include <QPointer>

#include <qcoro/qcorotask.h>

class QMainWindow;
class QTreeWidgetItem;

namespace casalux {

class DesktopCore;

// The room view the device operations draw on: the room panel's ten slots,
// and the window's input, held off while a click is handled. It also fills
// the slots when a room is chosen and turns the user's clicks and slider
// moves on them into device clicks.
class WindowRoomView final : public RoomView {
public:
    explicit WindowRoomView(QMainWindow& window);

    // The core is built on this view, and the panel on the core, so the
    // panel comes once both exist. Until then no room is shown.
    void attach(RoomViewPanel& panel, DesktopCore& core);

    // Fills the slots with the first ten devices of a room node.
    void showRoom(QTreeWidgetItem* roomNode);
    // A device node: switched as if its picture were clicked, when its room
    // is the one the slots show.
    void clickDeviceNode(QTreeWidgetItem* deviceNode);
    // What was shown may just have been deleted.
    void clear();

    QString shownRoom() const override;
    QString slotName(int index) const override;
    void setpictureon(int index, const QString& deviceKey) override;
    void setpictureoff(int index, const QString& deviceKey) override;
    void setSliderLevel(int index, int level) override;
    void setBusy(bool busy) override;

private:
    QCoro::Task<> sliderMoved(int index, int level);

    QMainWindow& m_window;
    // Gone before the core when the window closes.
    QPointer<RoomViewPanel> m_panel;
    DesktopCore* m_core = nullptr;
    int m_busy = 0;
};

} // namespace casalux
