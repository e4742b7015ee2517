#pragma once

#include "corefixture.h"
#include "simprocess.h"
#include "x10/cm11acontrol.h"

#include <QtTest>

namespace casalux::test {

// The core on the real CM11A driver, talking to the simulator over its
// pseudo-terminal: for tests of the whole path from the power line to the
// program and back.
struct SimCoreFixture : CoreOn<Cm11aControl> {
    SimProcess sim;

    using CoreOn::CoreOn;
    ~SimCoreFixture() { closeLine(); }

    // A command the test set off may still be on the line: ends it while
    // everything it reports to is still here. A test that adds parts the
    // core reports to calls it from its own destructor.
    void closeLine()
    {
        control.close();
        if (!QTest::qWaitFor([this] { return !core.commands.commandInProgress(); }, 5000))
            qWarning("a command outlived the test");
    }

    // Starts the simulator (its clock `scale` times fast), names it as serial
    // port `port`, opens the interface there and starts the queue of
    // commands set off by the power line's traffic.
    bool start(int port, double scale, const QStringList& simArguments = {})
    {
        if (!sim.start(simArguments, scale))
            return false;
        qputenv(QStringLiteral("CASALUX_SERIAL_%1").arg(port).toLatin1().constData(),
                sim.devicePath().toLocal8Bit());
        control.setPort(port);
        if (QCoro::waitFor(control.open()) != InterfaceControl::Ready)
            return false;
        core.traffic.startQueue();
        return true;
    }
    // The simulator's log so far.
    QString log() const { return sim.lines().join(QLatin1Char('\n')); }
};

} // namespace casalux::test
