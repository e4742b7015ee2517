#pragma once

#include "homecore.h"
#include "home/roomlisteditor.h"
#include "remote/weboptions.h"
#include "schedule/eventeditor.h"
#include "schedule/eventprofiles.h"
#include "schedule/macrolist.h"
#include "schedule/suntimes.h"
#include "x10/deviceclickhandler.h"
#include "x10/interfacefinder.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <qcoro/qcorotask.h>

namespace casalux {

class InterfaceControl;
class Prompts;
class RoomView;
class SettingsStore;
class SoundPlayer;
class StatusSink;

// The home's core with what only the desktop program has around it: the
// search for the interface, clicks on device pictures, the editors of the
// lists, the profiles, the macros, the sun times and the web port's option.
// The window and its panels only turn user actions into calls on these.
class DesktopCore final : public HomeCore {
    Q_OBJECT

public:
    struct Setup {
        QString programFolder;
        SettingsStore& settings;
        InterfaceControl& control;
        Prompts& prompts;
        SoundPlayer& sounds;
        StatusSink& statusBar;
        RoomView& view;
    };

    explicit DesktopCore(Setup setup, QObject* parent = nullptr);

    // Runs a handler's coroutine to its end without the caller waiting, and
    // counts it, so tests (and shut-down) can tell when every action settled.
    void launch(QCoro::Task<> task);
    int running() const { return m_running; }

    Prompts& prompts;
    SoundPlayer& sounds;
    StatusSink& statusBar;
    RoomView& view;

    InterfaceFinder finder;
    DeviceClickHandler clicks;
    EventProfiles profiles;
    EventEditor eventEditor;
    MacroList macros;
    SunTimes sun;
    RoomListEditor roomEditor;
    WebOptions webOptions;

Q_SIGNALS:
    // Every launched action has finished.
    void settled();

private:
    static QCoro::Task<> track(QPointer<DesktopCore> self, QCoro::Task<> task);

    int m_running = 0;
};

} // namespace casalux
