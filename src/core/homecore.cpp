#include "homecore.h"

#include "platform/settlewait.h"
#include "x10/interfacecontrol.h"

#include <QPointer>

namespace casalux {

HomeCore::HomeCore(QString programFolder, SettingsStore& settings, InterfaceControl& control,
                   Host host, QObject* parent)
    : QObject(parent), folder(std::move(programFolder)), settings(settings), control(control),
      rooms(folder), deviceStatus(settings),
      commands(control, host.status ? *host.status : m_silent, host.commands),
      traffic(control, rooms, commands, deviceStatus, host.status ? *host.status : m_silent),
      events(folder, filebusy),
      scheduler(events, settings, commands, deviceStatus, host.status ? *host.status : m_silent,
                host.scheduler),
      server({folder, settings, commands, deviceStatus, host.status ? *host.status : m_silent}),
      reconnector(control), outside(rooms, settings, commands, deviceStatus),
      controlServer({folder, settings, control, outside, host.holder, std::move(host.holding)}),
      mqtt(host.holder, settings, outside, deviceStatus, control),
      m_status(host.status ? *host.status : m_silent), m_log(host.log)
{
    traffic.setRoomView(host.view);
    outside.setRoomView(host.view);
    scheduler.setRoomView(host.view);
    server.setRoomView(host.view);
    if (host.gate) {
        server.setCommandGate(host.gate);
        outside.setGate(std::move(host.gate));
    }
    server.setPageNotice([this] { return this->control.isLost() ? lostNotice() : m_setupNotice; });
    // The interface went away or stopped answering: say so at once, and
    // again when it answers on its port once more.
    connect(&control, &InterfaceControl::lost, this, &HomeCore::interfaceLost);
    connect(&control, &InterfaceControl::found, this, &HomeCore::interfaceFound);
}

HomeCore::~HomeCore() = default;

void HomeCore::goLive()
{
    scheduler.armEventTimer();
    controlServer.start();
    mqtt.start();
}

void HomeCore::stopTakingWork()
{
    scheduler.stop();
    controlServer.stop(); // the program taking the port over serves it
    // The port goes to another program (or none): a lost interface is not
    // this one's to find any more.
    reconnector.stop();
}

bool HomeCore::settled() const
{
    return !commands.commandInProgress() && !outside.busy() && !server.serving() &&
           !filebusy.isHeld();
}

QCoro::Task<> HomeCore::shutDown(std::function<bool()> hostBusy)
{
    QPointer<HomeCore> self(this);
    stopTakingWork();
    // (Named, not a temporary: GCC 12 destroys temporaries of a co_await
    // expression twice.)
    const std::function<bool()> done = [self, hostBusy = std::move(hostBusy)] {
        return !self || (self->settled() && !(hostBusy && hostBusy()));
    };
    co_await SettleWait::until(done);
    if (!self)
        co_return;
    // The program that takes the interface over connects to the hub:
    // "offline" first.
    co_await mqtt.stop();
    if (!self)
        co_return;
    // ... and serves the pages on the same port: let it go first.
    server.stopserver();
}

QString HomeCore::lostActivity() const
{
    return QStringLiteral("X10 Interface lost on com port %1, looking for it again every %2 "
                          "seconds")
        .arg(control.port())
        .arg(InterfaceReconnector::retrySeconds);
}

QString HomeCore::lostNotice()
{
    return QStringLiteral("The X10 interface is not connected; looking for it again. Devices "
                          "cannot be switched until it answers.");
}

void HomeCore::interfaceLost()
{
    m_status.setStatus(StatusSink::Ready, lostStatus());
    m_status.setStatus(StatusSink::Activity, lostActivity());
    if (m_log)
        qCWarning(*m_log).noquote()
            << "X10 interface on port" << control.port() << "lost; looking for it again every"
            << InterfaceReconnector::retrySeconds << "seconds";
}

void HomeCore::interfaceFound()
{
    m_status.setStatus(StatusSink::Ready, QStringLiteral("STATUS: Ready"));
    m_status.setStatus(StatusSink::Activity,
                       QStringLiteral("Found the X10 Interface again on com port ") +
                           QString::number(control.port()));
    if (m_log)
        qCInfo(*m_log).noquote() << "X10 interface on port" << control.port() << "found again";
}

} // namespace casalux
