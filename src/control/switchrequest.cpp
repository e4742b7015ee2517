#include "switchrequest.h"

namespace casalux {

std::optional<OutsideCommands::Device> SwitchRequest::find(const OutsideCommands& outside,
                                                          const ControlProtocol::Request& request,
                                                          QByteArray* failure)
{
    auto device = outside.find(request.target);
    if (!device) {
        *failure = ControlProtocol::failure(
            ControlProtocol::unknownTarget,
            QStringLiteral("no device \"%1\" in the home").arg(request.target.simplified()));
        return std::nullopt;
    }
    if (request.command == ControlProtocol::Command::Dim) {
        const QString notDimmable = OutsideCommands::cannotDim(*device, request.percent);
        if (!notDimmable.isEmpty()) {
            *failure = ControlProtocol::failure(ControlProtocol::usageError, notDimmable);
            return std::nullopt;
        }
    }
    return device;
}

QCoro::Task<SwitchResult> SwitchRequest::carryOut(OutsideCommands& outside,
                                                  const OutsideCommands::Device& device,
                                                  const ControlProtocol::Request& request,
                                                  const OutsideCommands::StillWanted& stillWanted)
{
    // (Not a conditional expression: GCC 12 mis-compiles co_await in one.)
    if (request.command == ControlProtocol::Command::Dim)
        co_return co_await outside.dimDevice(device, request.percent, stillWanted);
    co_return co_await outside.switchDevice(device, request.command == ControlProtocol::Command::On,
                                            stillWanted);
}

} // namespace casalux
