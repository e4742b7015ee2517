#pragma once

#include "controlprotocol.h"
#include "x10/outsidecommands.h"
#include "x10/switchresult.h"

#include <QByteArray>

#include <optional>

#include <qcoro/qcorotask.h>

namespace casalux {

// A command line's request to switch or dim a device: looked up in the home,
// checked and carried out the same way whoever serves it (the program that
// holds the interface, or casaluxctl itself when none does).
class SwitchRequest final {
public:
    // The device the request names. None when it names no device, or asks
    // a dimming the device cannot do: `failure` is then the answer to give.
    static std::optional<OutsideCommands::Device> find(const OutsideCommands& outside,
                                                       const ControlProtocol::Request& request,
                                                       QByteArray* failure);
    // Switches or dims the device as the request asks. (The caller names
    // each argument: GCC 12 destroys temporaries of a co_await expression
    // twice.)
    static QCoro::Task<SwitchResult> carryOut(OutsideCommands& outside,
                                              const OutsideCommands::Device& device,
                                              const ControlProtocol::Request& request,
                                              const OutsideCommands::StillWanted& stillWanted);
};

} // namespace casalux
