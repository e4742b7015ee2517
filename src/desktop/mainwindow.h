#pragma once

#include "desktopcore.h"
#include "devicepictures.h"
#include "platform/statussink.h"
#include "x10/roomview.h"

#include <QMainWindow>

#include <array>
#include <memory>

#include <qcoro/qcorotask.h>

class QLabel;
class QStackedWidget;
class QTreeWidgetItem;

namespace casalux {

class AddDevicePanel;
class AddRoomPanel;
class DeviceTree;
class EventsPanel;
class HomePanel;
class InterfaceControl;
class MacrosPanel;
class Prompts;
class ProfilesPanel;
class RoomViewPanel;
class SettingsStore;
class SoundPlayer;
class SpeechPanel;
class WebPanel;

// frm_main: the device tree on the left, one panel at a time on the right and
// a status bar of three panels (clock, activity, interface state). The window
// turns the user's actions into calls on the core, shows what the core
// reports, and is the room view the device operations draw on.
class MainWindow final : public QMainWindow, public StatusSink, public RoomView {
    Q_OBJECT

public:
    struct Setup {
        QString programFolder;
        SettingsStore& settings;
        InterfaceControl& control;
        Prompts& prompts;
        SoundPlayer& sounds;
    };

    enum class Panel { None, Home, AddRoom, AddDevice, Room, Events, Macros, WebServer, Profiles, Speech };

    explicit MainWindow(Setup setup, QWidget* parent = nullptr);
    ~MainWindow() override;

    DesktopCore& core() { return *m_core; }

    // Reads the room and device list and the event and macro lists, builds
    // the tree and every pick list and works out today's sun times.
    void loadAll();
    // The timers that run for the life of the window: the command queue and
    // the removal of once-events that have come due.
    void startTimers();
    // findinterface, as a background action.
    void startInterfaceSearch();

    // loadtree: the tree, the pick lists of every panel, from the list in memory.
    void loadtree();
    // loadevents: the event and macro lists, from their files.
    void loadevents();

    void showPanel(Panel panel);
    Panel currentPanel() const;
    void gohome() { showPanel(Panel::Home); }
    // The events page with its time selectors set to the clock's time.
    void showEvents();

    // StatusSink: panel 1 the clock, 2 activity, 3 the interface's state.
    void setStatus(int panel, const QString& text) override;
    QString statusText(int panel) const;

    // RoomView.
    QString selectedRoom() const override;
    QString slotName(int index) const override;
    void setpictureon(int index, const QString& deviceKey) override;
    void setpictureoff(int index, const QString& deviceKey) override;
    void setSliderLevel(int index, int level) override;
    void setBusy(bool busy) override;

private:
    void buildMenu();
    void buildStatusBar();
    void connectPanels();
    void nodeClicked(QTreeWidgetItem* item);
    void showRoom(QTreeWidgetItem* roomNode);
    void updateSunLabel();
    QCoro::Task<> deletetree(int keyAscii);
    QCoro::Task<> sliderMoved(int index, int level);
    QCoro::Task<> reloadEvents();

    std::unique_ptr<DesktopCore> m_core;
    DevicePictures m_pictures;
    DeviceTree* m_tree = nullptr;
    QStackedWidget* m_stack = nullptr;
    QWidget* m_blank = nullptr;
    HomePanel* m_home = nullptr;
    AddRoomPanel* m_addRoom = nullptr;
    AddDevicePanel* m_addDevice = nullptr;
    RoomViewPanel* m_room = nullptr;
    EventsPanel* m_events = nullptr;
    MacrosPanel* m_macros = nullptr;
    WebPanel* m_web = nullptr;
    ProfilesPanel* m_profiles = nullptr;
    SpeechPanel* m_speech = nullptr;
    std::array<QLabel*, 3> m_panels{};
    int m_busy = 0;
};

} // namespace casalux
