#include "desktopcore.h"

#include "x10/commandpolicy.h"
#include "x10/interfacecontrol.h"
#include "platform/statussink.h"
#include "schedule/schedulerpolicy.h"

namespace casalux {

DesktopCore::DesktopCore(Setup setup, QObject* parent)
    : QObject(parent), folder(setup.programFolder), settings(setup.settings),
      control(setup.control), prompts(setup.prompts), sounds(setup.sounds),
      statusBar(setup.statusBar), view(setup.view), rooms(folder), deviceStatus(settings),
      commands(control, statusBar, CommandPolicy::desktop()),
      finder(control, settings, statusBar, prompts),
      clicks({finder, rooms, commands, deviceStatus, view, prompts, sounds, filebusy, folder}),
      traffic(control, rooms, commands, deviceStatus, statusBar, this), events(folder, filebusy),
      profiles(events, settings), eventEditor(events, statusBar, prompts),
      macros(folder, traffic.queue(), filebusy, statusBar, prompts), sun(settings),
      scheduler(events, settings, commands, deviceStatus, statusBar, SchedulerPolicy::desktop(),
                this),
      roomEditor(rooms, settings, filebusy, statusBar, prompts),
      server({folder, settings, commands, deviceStatus, statusBar}, this),
      webOptions(folder, settings, server, prompts), reconnector(control),
      outside(rooms, settings, commands, deviceStatus),
      controlServer({folder, settings, control, outside, QStringLiteral("desktop"),
                     [this] { return finder.interfaceReady(); }}),
      mqtt(QStringLiteral("desktop"), settings, outside, deviceStatus, control)
{
    // What the program sends, and what it sees on the power line, may
    // trigger macros.
    const auto amacros = [this](const QString& house, const QString& unit, int function) {
        macros.amacros(house, unit, function);
    };
    commands.setMacroHook(amacros);
    traffic.setMacroTrigger(amacros);
    traffic.setRoomView(&view);
    outside.setRoomView(&view);
    scheduler.setRoomView(&view);
    scheduler.setSunTimes(&sun);
    scheduler.setPrompts(&prompts);

    // The interface went away or stopped answering: say so at once, and
    // again when it answers on its port once more.
    connect(&control, &InterfaceControl::lost, this, [this] {
        statusBar.setStatus(StatusSink::Ready, lostStatus());
        statusBar.setStatus(StatusSink::Activity, lostActivity());
    });
    connect(&control, &InterfaceControl::found, this, [this] {
        statusBar.setStatus(StatusSink::Ready, QStringLiteral("STATUS: Ready"));
        statusBar.setStatus(StatusSink::Activity,
                            QStringLiteral("Found the X10 Interface again on com port ") +
                                QString::number(control.port()));
    });
    server.setPageNotice([this] { return control.isLost() ? lostNotice() : QString(); });
}

QString DesktopCore::lostActivity() const
{
    return QStringLiteral("X10 Interface lost on com port %1, looking for it again every %2 "
                          "seconds")
        .arg(control.port())
        .arg(InterfaceReconnector::retrySeconds);
}

QString DesktopCore::lostNotice()
{
    return QStringLiteral("The X10 interface is not connected; looking for it again. Devices "
                          "cannot be switched until it answers.");
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
