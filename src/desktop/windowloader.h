#pragma once

#include "shell/startuphost.h"

#include <QPointer>

class QTimer;

namespace casalux {

class DesktopCore;
class MainWindow;
class OptionBoxes;
class SpokenCommands;
class StartupSequence;
class VoiceCommandHandler;
class WaitWindow;
class WindowPanels;

// Fills the window from the core: the loading steps of start-up and
// shut-down with their wait window, and again the tree and the lists
// whenever one of them changes.
class WindowLoader final : public StartupHost {
public:
    struct Parts {
        MainWindow& window;
        DesktopCore& core;
        WindowPanels& panels;
        OptionBoxes& options;
        VoiceCommandHandler& voice;
        SpokenCommands& spoken;
        StartupSequence& sequence;
        QTimer& startupTimer;
    };

    explicit WindowLoader(Parts parts);

    // The loading steps of start-up without the wait window and the engine:
    // the room and device list, the event and macro lists, the tree, every
    // pick list and today's sun times.
    void loadAll();
    // loadevents: the event and macro lists, from their files.
    void loadevents();
    void updateSunLabel();
    WaitWindow* waitWindow() const;

    void showWait(const QString& heading) override;
    void setWaitProgress(const QString& text) override;
    void showSkipLink(bool shown) override;
    void closeWait() override;
    void suppressHandlers(bool optionClicks, bool settings) override;
    void endProgram() override;
    void showWebPort(const QString& port) override;
    void loadlists() override;
    void initagent() override;
    // loadtree: the tree and the pick lists of every panel, from the list
    // in memory; the spoken commands follow the devices.
    void loadtree() override;
    void loadOptions() override;
    void loadEventsAndSunTimes() override;
    void startTimers() override;
    void restoreWindowOnScreen() override;
    void saveWindowPosition() override;
    bool serviceTicked() const override;

private:
    MainWindow& m_window;
    DesktopCore& m_core;
    WindowPanels& m_panels;
    OptionBoxes& m_options;
    VoiceCommandHandler& m_voice;
    SpokenCommands& m_spoken;
    StartupSequence& m_sequence;
    QTimer& m_startupTimer;
    QPointer<WaitWindow> m_wait;
};

} // namespace casalux
