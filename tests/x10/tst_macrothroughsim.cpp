#include "home/devicestatus.h"
#include "home/roomlist.h"
#include "home/settingsstore.h"
#include "platform/busymark.h"
#include "platform/clock.h"
#include "recordingstatus.h"
#include "schedule/macrolist.h"
#include "scriptedprompts.h"
#include "simprocess.h"
#include "temphome.h"
#include "x10/cm11acontrol.h"
#include "x10/devicecommands.h"
#include "x10/traffichandler.h"

#include <QtTest>

using namespace casalux;

namespace {
constexpr double scale = 20;
constexpr int port = 7;
} // namespace

// A wall switch on the simulated power line sets off a macro, whose target
// the program then switches through the real driver: the whole path from
// the interface's poll to the module on the far side.
class TestMacroThroughSim : public QObject {
    Q_OBJECT

    struct Rig : test::TempHome {
        RoomList rooms{folder.path()};
        test::SimProcess sim;
        Cm11aControl control;
        test::RecordingStatus status;
        test::ScriptedPrompts prompts;
        BusyMark filebusy;
        DeviceStatus deviceStatus{settings};
        DeviceCommands commands{control, status, CommandPolicy::desktop()};
        TrafficHandler traffic{control, rooms, commands, deviceStatus, status};
        MacroList macros{folder.path(), traffic.queue(), filebusy, status, prompts};

        Rig()
        {
            folder.write(QStringLiteral("rmlst.rvf"), "Lounge~~~\r\n"
                                                      "Lounge~Lamp~A~3\r\n"
                                                      "Hall~~~\r\n"
                                                      "Hall~Light~B~5\r\n");
            rooms.loadlists();
            const auto amacros = [this](const QString& house, const QString& unit, int code) {
                macros.amacros(house, unit, code);
            };
            commands.setMacroHook(amacros);
            traffic.setMacroTrigger(amacros);
        }
        ~Rig()
        {
            // A command the test set off may still be on the line: end it
            // while everything it reports to is still here.
            control.close();
            if (!QTest::qWaitFor([this] { return !commands.commandInProgress(); }, 5000))
                qWarning("a command outlived the test");
        }
        bool start()
        {
            if (!sim.start({}, scale))
                return false;
            qputenv("CASALUX_SERIAL_7", sim.devicePath().toLocal8Bit());
            control.setPort(port);
            if (QCoro::waitFor(control.open()) != InterfaceControl::Ready)
                return false;
            traffic.startQueue();
            return true;
        }
        QString log() const { return sim.lines().join(QLatin1Char('\n')); }
    };

private Q_SLOTS:
    void init() { Clock::instance().start(QDateTime(QDate(2026, 3, 5), QTime(19, 0)), scale); }
    void cleanup()
    {
        Clock::instance().useSystemTime();
        qunsetenv("CASALUX_SERIAL_7");
    }

    void wallSwitchTriggersMacroTarget()
    {
        Rig rig;
        rig.folder.write(QStringLiteral("macs.hlk"),
                         "When~A3~Lounge~Lamp~turns~on~Turn~On~B5~Hall~Light\r\n"
                         "When~A3~Lounge~Lamp~turns~off~Turn~Off~B5~Hall~Light\r\n");
        QVERIFY(rig.start());

        rig.sim.command(QStringLiteral("A3 ON"));
        // The queued command goes at once: only the line time.
        QTRY_VERIFY2_WITH_TIMEOUT(rig.log().contains(QLatin1String("B5 ON LEVEL 100")),
                                  qPrintable(rig.log()), 5000);
        QVERIFY(rig.log().indexOf(QLatin1String("REMOTE A3 ON")) <
                rig.log().indexOf(QLatin1String("B5 ON")));
        QVERIFY(rig.deviceStatus.getlaststatus(QStringLiteral("LoungeLamp")));

        // The off macro answers the switch going off, and only that one.
        rig.sim.command(QStringLiteral("A3 OFF"));
        QTRY_VERIFY2_WITH_TIMEOUT(rig.log().contains(QLatin1String("B5 OFF")),
                                  qPrintable(rig.log()), 5000);
        QCOMPARE(rig.log().count(QLatin1String("B5 ON")), 1);
    }

    void trafficForA1IsNotTakenForA10()
    {
        Rig rig;
        rig.folder.write(QStringLiteral("macs.hlk"),
                         "When~A10~Lounge~Fan~turns~on~Turn~On~B5~Hall~Light\r\n");
        QVERIFY(rig.start());
        rig.sim.command(QStringLiteral("A1 ON"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.log().contains(QLatin1String("REMOTE A1 ON")), 5000);
        // Give a queued command six (scaled) seconds to show there is none.
        QTest::qWait(Clock::instance().interval(6000));
        QVERIFY2(!rig.log().contains(QLatin1String("B5 ")), qPrintable(rig.log()));
    }
};

QTEST_GUILESS_MAIN(TestMacroThroughSim)
#include "tst_macrothroughsim.moc"
