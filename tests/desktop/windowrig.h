#pragma once

#include "home/settingsstore.h"
#include "mainwindow.h"
#include "platform/autostartentry.h"
#include "platform/singleinstance.h"
#include "platform/soundplayer.h"
#include "recordingservice.h"
#include "scriptedinterface.h"
#include "scriptedprompts.h"
#include "temphome.h"

#include <QByteArray>
#include <QStringList>

namespace casalux::test {

struct RecordingSounds final : SoundPlayer {
    QStringList played;
    void play(const QString& path) override;
};

// The real main window on a throw-away program folder (with the pictures of
// html/), a scripted interface (or a real driver, when one is given) and
// scripted boxes. The service manager only records; the one-copy socket
// and the log-in entry are the test's own.
class WindowRig : public TempHome {
public:
    explicit WindowRig(const QByteArray& rooms = {}, const QByteArray& events = {},
                       InterfaceControl* realControl = nullptr);
    // Lets what the window started finish before it goes.
    ~WindowRig();

    ScriptedInterface control;
    ScriptedPrompts prompts;
    RecordingSounds sounds;
    RecordingService service;
    const QString instanceKey;
    SingleInstance instance;
    MainWindow window;

    // Finds the interface and stops the minute timers it arms, so no timed
    // event runs in the middle of a test.
    bool connectInterface();
    // Waits until every action the window started has finished.
    bool settle();

    template <typename T> T* find(const QString& name) const
    {
        return window.findChild<T*>(name);
    }
    // Clicks a top-level node, or a device node given as "Room/Device".
    bool clickNode(const QString& path);

    void setType(const QString& key, const QString& family);
    QStringList sentTexts() const;
};

} // namespace casalux::test
