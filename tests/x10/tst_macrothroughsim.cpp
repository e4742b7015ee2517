#include "platform/clock.h"
#include "schedule/macrolist.h"
#include "scriptedprompts.h"
#include "simcorefixture.h"

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

    // The core on the simulator, with the macro list a program runs beside
    // it.
    struct WithMacros : test::SimCoreFixture {
        test::ScriptedPrompts prompts;
        MacroList macros{folder.path(), core.traffic.queue(), core.filebusy, status, prompts};

        WithMacros()
        {
            loadList("Lounge~~~\r\n"
                     "Lounge~Lamp~A~3\r\n"
                     "Hall~~~\r\n"
                     "Hall~Light~B~5\r\n");
            const auto amacros = [this](const QString& house, const QString& unit, int code) {
                macros.amacros(house, unit, code);
            };
            core.commands.setMacroHook(amacros);
            core.traffic.setMacroTrigger(amacros);
        }
        ~WithMacros() { closeLine(); } // before the macro list goes
        bool start() { return SimCoreFixture::start(port, scale); }
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
        WithMacros rig;
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
        QVERIFY(rig.core.deviceStatus.getlaststatus(QStringLiteral("LoungeLamp")));

        // The off macro answers the switch going off, and only that one.
        rig.sim.command(QStringLiteral("A3 OFF"));
        QTRY_VERIFY2_WITH_TIMEOUT(rig.log().contains(QLatin1String("B5 OFF")),
                                  qPrintable(rig.log()), 5000);
        QCOMPARE(rig.log().count(QLatin1String("B5 ON")), 1);
    }

    void trafficForA1IsNotTakenForA10()
    {
        WithMacros rig;
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
