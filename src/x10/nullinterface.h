#pragma once

#include "interfacecontrol.h"

namespace casalux {

// Stands in where no interface is fitted: open() reports the port unusable,
// so the programs say that no interface was found. Sends go nowhere.
class NullInterface final : public InterfaceControl {
    Q_OBJECT

public:
    using InterfaceControl::InterfaceControl;

    QCoro::Task<int> open() override;
    QCoro::Task<bool> send(QString house, QString unit, int function, double level, int arg5,
                           int arg6) override;
    bool close() override { return true; }
};

} // namespace casalux
