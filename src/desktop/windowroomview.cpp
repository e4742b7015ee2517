#include "windowroomview.h"

#include "desktopcore.h"
#include "home/roomrecord.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QTreeWidgetItem>

namespace casalux {

WindowRoomView::WindowRoomView(QMainWindow& window) : m_window(window) {}

void WindowRoomView::attach(RoomViewPanel& panel, DesktopCore& core)
{
    m_panel = &panel;
    m_core = &core;
    QObject::connect(&panel, &RoomViewPanel::pictureClicked, &panel,
                     [this](int index) { m_core->launch(m_core->clicks.deviceclicked(index)); });
    QObject::connect(&panel, &RoomViewPanel::levelChosen, &panel, [this](int index, int level) {
        // The program's own slider moves happen under filebusy: not a user's move.
        if (!m_core->filebusy.isHeld())
            m_core->launch(sliderMoved(index, level));
    });
}

void WindowRoomView::showRoom(QTreeWidgetItem* roomNode)
{
    const QString room = roomNode->text(0);
    m_panel->loadroom(room);
    m_panel->clearSlots();
    m_panel->setShownRoom(room);
    // A room shows its first ten devices; the rest are in the tree only.
    const int shown = std::min(roomNode->childCount(), slotCount);
    for (int k = 0; k < shown; ++k) {
        const QString name = roomNode->child(k)->text(0);
        const QString key = RoomRecord::deviceKey(room, name);
        m_panel->showDevice(k, name, key, m_core->deviceStatus.getlaststatus(key));
    }
}

void WindowRoomView::clickDeviceNode(QTreeWidgetItem* deviceNode)
{
    // A device of another room is not switched, even when a shown device
    // has the same name: its slot would be drawn for the wrong device.
    const QString room = deviceNode->parent()->text(0);
    m_panel->loadroom(room);
    const int index = shownRoom() == room ? slotOf(deviceNode->text(0)) : -1;
    if (index >= 0)
        m_core->launch(m_core->clicks.deviceclicked(index));
}

void WindowRoomView::clear()
{
    m_panel->clearSlots();
    m_panel->loadroom(QString());
}

QCoro::Task<> WindowRoomView::sliderMoved(int index, int level)
{
    QPointer<RoomViewPanel> panel(m_panel);
    setBusy(true);
    m_core->clicks.playfile(QStringLiteral("1b2.wav"));
    co_await m_core->clicks.deviceclicked(index, level);
    if (!panel)
        co_return;
    // The slider shows where the user put it, whatever the click drew.
    m_panel->setSliderLevel(index, level);
    setBusy(false);
}

QString WindowRoomView::shownRoom() const
{
    return m_panel ? m_panel->shownRoom() : QString();
}

QString WindowRoomView::slotName(int index) const
{
    return m_panel ? m_panel->slotName(index) : QString();
}

void WindowRoomView::setpictureon(int index, const QString& deviceKey)
{
    if (m_panel)
        m_panel->setpictureon(index, deviceKey);
}

void WindowRoomView::setpictureoff(int index, const QString& deviceKey)
{
    if (m_panel)
        m_panel->setpictureoff(index, deviceKey);
}

void WindowRoomView::setSliderLevel(int index, int level)
{
    if (m_panel)
        m_panel->setSliderLevel(index, level);
}

void WindowRoomView::setBusy(bool busy)
{
    // Nested: a slider move wraps the click it makes.
    if (busy) {
        if (m_busy++ == 0) {
            m_window.centralWidget()->setEnabled(false);
            m_window.menuBar()->setEnabled(false);
            QApplication::setOverrideCursor(Qt::WaitCursor);
        }
    } else if (m_busy > 0 && --m_busy == 0) {
        m_window.centralWidget()->setEnabled(true);
        m_window.menuBar()->setEnabled(true);
        QApplication::restoreOverrideCursor();
    }
}

} // namespace casalux
