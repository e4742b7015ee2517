#include "localcommand.h"

#include "homecore.h"
#include "control/controlreport.h"
#include "control/switchrequest.h"
#include "home/settingsstore.h"
#include "x10/cm11acontrol.h"
#include "x10/interfacefinder.h"
#include "x10/serialportmap.h"

#include <QJsonDocument>

namespace casalux {

namespace {
QJsonObject failure(const char* code, const QString& message)
{
    return QJsonDocument::fromJson(ControlProtocol::failure(code, message)).object();
}
} // namespace

QCoro::Task<QJsonObject> LocalCommand::run(QString programFolder, ControlProtocol::Request request)
{
    using Command = ControlProtocol::Command;
    const auto settings = SettingsStore::forProgramFolder(programFolder);
    Cm11aControl control;
    // The programs' own core, run for this one command. It switches as the
    // engine does: no status texts, no macros (no program runs them).
    HomeCore core(programFolder, *settings, control,
                  {.holder = QStringLiteral("casaluxctl"),
                   .commands = CommandPolicy::engine(),
                   .scheduler = SchedulerPolicy::engine()});
    OutsideCommands& outside = core.outside;
    const DeviceStatus& status = core.deviceStatus;

    if (request.command == Command::Status || request.command == Command::Events) {
        QJsonObject report =
            request.command == Command::Status
                ? ControlReport::status(outside.devices(), status,
                                        ControlReport::nobodyHolds(*settings))
                : ControlReport::events(programFolder);
        report.insert(QStringLiteral("ok"), true);
        co_return report;
    }

    QByteArray refusal;
    const auto device = SwitchRequest::find(outside, request, &refusal);
    if (!device)
        co_return QJsonDocument::fromJson(refusal).object();
    if (!InterfaceFinder::useSavedPort(control, *settings))
        co_return failure(ControlProtocol::notSent,
                          QStringLiteral("no program holds the X10 interface and no port is "
                                         "stored for it: start Casalux once to find it"));
    // The port's lock keeps out a program that holds it without serving the
    // socket (and any other user of the port): the open then fails.
    const int opened = co_await control.open();
    if (opened != InterfaceControl::Ready) {
        control.close();
        const QString detail = control.failureText().isEmpty()
                                   ? QString()
                                   : QStringLiteral(" [%1]").arg(control.failureText());
        co_return failure(
            ControlProtocol::notSent,
            QStringLiteral("the X10 interface on port %1 (%2) %3%4")
                .arg(control.portText(), control.devicePath())
                .arg(opened == InterfaceControl::PortUnusable
                         ? QStringLiteral("cannot be opened (is another program using it?)")
                         : QStringLiteral("did not answer"))
                .arg(detail));
    }
    InterfaceFinder::claim(control, *settings, control.port());
    const OutsideCommands::StillWanted always;
    const SwitchResult result = co_await SwitchRequest::carryOut(outside, *device, request, always);
    control.close();
    if (result.isDone())
        co_return QJsonObject{{QStringLiteral("ok"), true}};
    co_return failure(ControlProtocol::notSent, result.why());
}

} // namespace casalux
