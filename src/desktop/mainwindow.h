#pragma once

#include "desktopcore.h"
#include "devicepictures.h"
#include "platform/autostartentry.h"
#include "platform/servicemanager.h"
#include "platform/statussink.h"
#include "shell/startuphost.h"
#include "shell/startupoptions.h"
#include "shell/startupsequence.h"
#include "speech/phraseagent.h"
#include "speech/spokencommands.h"
#include "speech/voicecommandhandler.h"
#include "x10/roomview.h"

#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <array>
#include <functional>
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
class SayBox;
class SettingsStore;
class SingleInstance;
class SoundPlayer;
class SpeechPanel;
class TrayIcon;
class WaitWindow;
class WebPanel;

// frm_main: the device tree on the left, one panel at a time on the right and
// a status bar of three panels (clock, activity, interface state). The window
// turns the user's actions into calls on the core, shows what the core
// reports, and is the room view the device operations draw on. It is also
// the host of the start-up and shut-down sequence, sits in the tray, and
// carries out spoken (or typed) commands.
class MainWindow final : public QMainWindow,
                         public StatusSink,
                         public RoomView,
                         public StartupHost {
    Q_OBJECT

public:
    struct Setup {
        QString programFolder;
        SettingsStore& settings;
        InterfaceControl& control;
        Prompts& prompts;
        SoundPlayer& sounds;
        // The background engine as a service, and the one-copy rule.
        ServiceManager& service;
        SingleInstance& instance;
        // Where "Load at log-in" writes its log-in entry, and what it runs.
        AutostartEntry autostart;
        ServiceManager::Engine desktopProgram;
    };

    static constexpr int startupTickMs = 500;

    enum class Panel { None, Home, AddRoom, AddDevice, Room, Events, Macros, WebServer, Profiles, Speech };

    explicit MainWindow(Setup setup, QWidget* parent = nullptr);
    ~MainWindow() override;

    DesktopCore& core() { return *m_core; }

    // Reads the room and device list and the event and macro lists, builds
    // the tree and every pick list and works out today's sun times: the
    // loading steps of start-up without the wait window and the engine.
    void loadAll();
    // findinterface, as a background action.
    void startInterfaceSearch();

    // The main window's load: the start-up sequence, then the window is
    // shown and the start-up timer runs. False when another copy runs and
    // this one ends instead.
    QCoro::Task<bool> startup();
    // The start-up timer's tick: the tray icon, the window state, the
    // interface search.
    void startupTick();
    // Shut-down has run to its end and the window has closed.
    bool finished() const { return m_finished; }
    // Shut-down has begun.
    bool closing() const { return m_closing; }

    // loadtray: the icon in the notification area with its tip and menu.
    void loadtray();
    // Brings the window back from the tray to the front.
    void restoreFromTray();
    // Topmost and back: brings the window to the front without moving it.
    void ontop();
    void offtop();
    void showAbout();
    // A phrase said to the program (typed, or sent by `casalux --say`).
    // Returns the command it meant, or empty.
    QString sayPhrase(const QString& phrase);

    // Whether the desktop has a notification area; tests replace it.
    void setTrayCheck(std::function<bool()> check) { m_trayAvailable = std::move(check); }
    TrayIcon* tray() const { return m_tray.get(); }
    WaitWindow* waitWindow() const;
    PhraseAgent& agent() { return m_agent; }
    VoiceCommandHandler& voice() { return m_voice; }
    SpokenCommands& spoken() { return m_spoken; }
    StartupSequence& sequence() { return m_sequence; }
    StartupOptions& options() { return m_options; }

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
    QString shownRoom() const override;
    QString slotName(int index) const override;
    void setpictureon(int index, const QString& deviceKey) override;
    void setpictureoff(int index, const QString& deviceKey) override;
    void setSliderLevel(int index, int level) override;
    void setBusy(bool busy) override;

    // StartupHost.
    void showWait(const QString& heading) override;
    void setWaitProgress(const QString& text) override;
    void showSkipLink(bool shown) override;
    void closeWait() override;
    void suppressHandlers(bool optionClicks, bool settings) override;
    void endProgram() override;
    void showWebPort(const QString& port) override;
    void loadLists() override;
    void initAgent() override;
    void loadTree() override { loadtree(); }
    void loadOptions() override;
    void loadEvents() override;
    void startTimers() override;
    void restoreWindowOnScreen() override;
    void saveWindowPosition() override;
    bool serviceTicked() const override;

Q_SIGNALS:
    // Shut-down has finished; the program may end.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void setTopmost(bool topmost);
    // Left in the tray last time, and there is a tray to live in.
    bool startsInTray() const;
    QCoro::Task<> shutdown();
    QCoro::Task<> serviceClicked(bool ticked);
    QCoro::Task<> firstRunService();
    QCoro::Task<> delayedStartupClicked(bool ticked);
    void showStoredOptions();
    void buildMenu();
    void buildStatusBar();
    void connectPanels();
    void connectShell(SingleInstance& instance);
    void nodeClicked(QTreeWidgetItem* item);
    void showRoom(QTreeWidgetItem* roomNode);
    void updateSunLabel();
    QCoro::Task<> deletetree(int key);
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
    SayBox* m_say = nullptr;
    std::array<QLabel*, 3> m_panels{};
    int m_busy = 0;

    ServiceManager& m_service;
    AutostartEntry m_autostart;
    StartupSequence m_sequence;
    StartupOptions m_options;
    PhraseAgent m_agent;
    VoiceCommandHandler m_voice;
    SpokenCommands m_spoken;
    QPointer<WaitWindow> m_wait;
    std::unique_ptr<TrayIcon> m_tray;
    std::function<bool()> m_trayAvailable;
    QTimer m_startuptimer;
    bool m_suppressOptions = false;
    bool m_closing = false;
    bool m_finished = false;
};

} // namespace casalux
