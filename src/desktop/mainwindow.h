#pragma once

#include "desktopcore.h"
#include "devicepictures.h"
#include "optionboxes.h"
#include "platform/autostartentry.h"
#include "platform/servicemanager.h"
#include "shell/startupsequence.h"
#include "speech/phraseagent.h"
#include "speech/spokencommands.h"
#include "speech/voicecommandhandler.h"
#include "statuspanels.h"
#include "windowloader.h"
#include "windowpanels.h"
#include "windowroomview.h"

#include <QMainWindow>
#include <QTimer>

#include <functional>
#include <memory>

#include <qcoro/qcorotask.h>

class QTreeWidgetItem;

namespace casalux {

class InterfaceControl;
class Prompts;
class SettingsStore;
class SingleInstance;
class SoundPlayer;
class TrayIcon;

// frm_main: the device tree on the left, one panel at a time on the right and
// a status bar of three panels (clock, activity, interface state). The window
// turns the user's actions into calls on the core and runs the program's
// life: start-up, the tray, the window's state and shut-down. What it shows
// is drawn by its parts: the panels, the status panels, the room view and
// the loader.
class MainWindow final : public QMainWindow {
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

    using Panel = WindowPanels::Panel;

    explicit MainWindow(Setup setup, QWidget* parent = nullptr);
    ~MainWindow() override;

    DesktopCore& core() { return *m_core; }
    WindowPanels& panels() { return m_panels; }
    StatusPanels& status() { return m_status; }
    WindowRoomView& roomView() { return m_roomView; }
    WindowLoader& loader() { return m_loader; }
    SpokenCommands& spoken() { return m_spoken; }

    // findinterface, as a background action.
    void startInterfaceSearch();

    // The main window's load: the start-up sequence, then the window is
    // shown and the start-up timer runs. False when another copy runs and
    // this one ends instead.
    QCoro::Task<bool> startup();
    // Another copy runs: this one ends at once, with nothing to hand back.
    void endWithoutShutdown();
    // Shut-down has run to its end and the window has closed.
    bool finished() const { return m_finished; }
    // Shut-down has begun.
    bool closing() const { return m_closing; }

    // loadtray: the icon in the notification area with its tip and menu.
    void loadtray();
    // Whether the desktop has a notification area; tests replace it.
    void setTrayCheck(std::function<bool()> check) { m_trayAvailable = std::move(check); }
    TrayIcon* tray() const { return m_tray.get(); }

    // A phrase said to the program (typed, or sent by `casalux --say`).
    // Returns the command it meant, or empty.
    QString sayPhrase(const QString& phrase);

Q_SIGNALS:
    // Shut-down has finished; the program may end.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // The start-up timer's tick: the tray icon, the window state, the
    // interface search.
    void startupTick();
    // Left in the tray last time, and there is a tray to live in.
    bool startsInTray() const;
    // Brings the window back from the tray to the front.
    void restoreFromTray();
    // Topmost and back: brings the window to the front without moving it.
    void ontop();
    void offtop();
    void setTopmost(bool topmost);
    void showAbout();
    void setBusy(bool busy) { m_roomView.setBusy(busy); }
    QCoro::Task<> shutdown();
    void buildMenu();
    void connectPanels();
    void connectShell(SingleInstance& instance);
    void nodeClicked(QTreeWidgetItem* item);
    QCoro::Task<> deletetree(int key);

    // The core reports to these two, so they come first.
    StatusPanels m_status;
    WindowRoomView m_roomView;
    std::unique_ptr<DesktopCore> m_core;
    DevicePictures m_pictures;
    WindowPanels m_panels;
    OptionBoxes m_options;
    PhraseAgent m_agent;
    VoiceCommandHandler m_voice;
    SpokenCommands m_spoken;
    QTimer m_startuptimer;
    WindowLoader m_loader;
    StartupSequence m_sequence;
    std::unique_ptr<TrayIcon> m_tray;
    std::function<bool()> m_trayAvailable;
    bool m_closing = false;
    bool m_finished = false;
};

} // namespace casalux
