#pragma once

#include "x10/deviceswitch.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <qcoro/qcorotask.h>

namespace casalux {

class DeviceCommands;
class DeviceStatus;
class RoomList;
class SettingsStore;
class SpeechAgent;
class StatusSink;

// The main window's side of voice control: starts the speech character,
// registers the home's spoken commands with it and carries out what it
// hears.
class VoiceCommandHandler final : public QObject {
    Q_OBJECT

public:
    static constexpr int hideAfterMs = 20000;

    VoiceCommandHandler(SpeechAgent& agent, SettingsStore& settings, DeviceCommands& commands,
                        DeviceStatus& status, RoomList& rooms, StatusSink& statusBar,
                        QObject* parent = nullptr);

    // Shows the speech-reminder panel (and hides the others) when the user
    // starts to speak.
    void setReminderHook(std::function<void()> hook) { m_showReminder = std::move(hook); }
    // Runs the coroutine of a command the character heard; the desktop
    // passes its own launcher so it can tell when every action has settled.
    // Without one the command runs detached.
    void setLauncher(std::function<void(QCoro::Task<>)> launch) { m_launch = std::move(launch); }
    // The room view to keep in step with what is switched by voice.
    void setRoomView(RoomView* view) { m_switch.setRoomView(view); }

    // Loads the character named in the settings. False (with the status text
    // saying so) when there is none: the program goes on without speech.
    bool initagent();
    bool speechLoaded() const;
    // Registers the commands of every device of the room list.
    void registerCommands();

    // Carries out a command the character heard, by its name.
    QCoro::Task<> runCommand(QString name);
    QString lastCommand() const { return m_last; }

    QTimer& timerhide() { return m_timerhide; }

private:
    void listeningStarted();
    QCoro::Task<> switchDevice(QString name);

    SpeechAgent& m_agent;
    SettingsStore& m_settings;
    DeviceCommands& m_commands;
    DeviceSwitch m_switch;
    RoomList& m_rooms;
    StatusSink& m_statusBar;
    std::function<void()> m_showReminder;
    std::function<void(QCoro::Task<>)> m_launch;
    QString m_last;
    QTimer m_timerhide;
};

} // namespace casalux
