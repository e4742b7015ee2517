#pragma once

class QStackedWidget;
class QWidget;

namespace casalux {

class AddDevicePanel;
class AddRoomPanel;
class DesktopCore;
class DevicePictures;
class DeviceTree;
class EventsPanel;
class HomePanel;
class MacrosPanel;
class ProfilesPanel;
class RoomViewPanel;
class SayBox;
class SpeechPanel;
class WebPanel;

// The window's contents: the device tree with the box for typed spoken
// commands on the left, and one panel at a time on the right. It builds
// them on the core and moves between the panels; the window owns them
// once it has taken centre().
class WindowPanels final {
public:
    // In the order they sit in the stack.
    enum class Panel {
        None,
        Home,
        AddRoom,
        AddDevice,
        Room,
        Events,
        Macros,
        WebServer,
        Profiles,
        Speech
    };

    WindowPanels(DesktopCore& core, DevicePictures& pictures);

    // The tree and the panels side by side, for the window's centre.
    QWidget* centre();

    void showPanel(Panel panel);
    Panel currentPanel() const;
    void gohome() { showPanel(Panel::Home); }
    // The events page with its time selectors set to the clock's time.
    void showEvents();

    DeviceTree* const tree;
    SayBox* const say;
    HomePanel* const home;
    AddRoomPanel* const addRoom;
    AddDevicePanel* const addDevice;
    RoomViewPanel* const room;
    EventsPanel* const events;
    MacrosPanel* const macros;
    WebPanel* const web;
    ProfilesPanel* const profiles;
    SpeechPanel* const speech;

private:
    QStackedWidget* const m_stack;
};

} // namespace casalux
