#include "desktopcore.h"

#include "platform/statussink.h"

namespace casalux {

DesktopCore::DesktopCore(Setup setup, QObject* parent)
    : HomeCore(setup.programFolder, setup.settings, setup.control,
               {.holder = QStringLiteral("desktop"),
                .commands = CommandPolicy::desktop(),
                .scheduler = SchedulerPolicy::desktop(),
                .status = &setup.statusBar,
                .view = &setup.view,
                // The window keeps serving the command line through a new
                // search of the ports, which may find nothing.
                .holding = [this] { return finder.interfaceReady(); }},
               parent),
      prompts(setup.prompts), sounds(setup.sounds), statusBar(setup.statusBar), view(setup.view),
      finder(control, settings, statusBar, prompts),
      clicks({finder, rooms, commands, deviceStatus, view, prompts, sounds, filebusy, folder}),
      profiles(events, settings), eventEditor(events, statusBar, prompts),
      macros(folder, traffic.queue(), filebusy, statusBar, prompts), sun(settings),
      roomEditor(rooms, settings, filebusy, statusBar, prompts),
      webOptions(folder, settings, server, prompts)
{
    // What the program sends, and what it sees on the power line, may
    // trigger macros.
    const auto amacros = [this](const QString& house, const QString& unit, int function) {
        macros.amacros(house, unit, function);
    };
    commands.setMacroHook(amacros);
    traffic.setMacroTrigger(amacros);
    scheduler.setSunTimes(&sun);
    scheduler.setPrompts(&prompts);
}

void DesktopCore::launch(QCoro::Task<> task)
{
    ++m_running;
    // Not awaited: the tracking coroutine frees itself when the task is done.
    track(this, std::move(task));
}

QCoro::Task<> DesktopCore::track(QPointer<DesktopCore> self, QCoro::Task<> task)
{
    try {
        co_await std::move(task);
    } catch (...) {
        // A failing action is absorbed where it happened; the window goes on.
    }
    if (self && --self->m_running == 0)
        Q_EMIT self->settled();
}

} // namespace casalux
