#include "home/settingkeys.h"
#include "platform/clock.h"
#include "simprocess.h"
#include "windowrig.h"
#include "x10/cm11acontrol.h"

#include <QSlider>
#include <QToolButton>
#include <QtTest>

using namespace casalux;

namespace {
constexpr double scale = 20;
} // namespace

// The main window on the real CM11A driver and the simulated interface: the
// interface is found on the saved port, clicks and sliders switch modules on
// the simulated power line, and a wall switch there redraws the room view.
class TestDesktopSim : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { Clock::instance().start(QDateTime(QDate(2026, 3, 5), QTime(19, 0)), scale); }
    void cleanup()
    {
        Clock::instance().useSystemTime();
        qunsetenv("CASALUX_SERIAL_1");
    }

    void clicksSlidersAndWallSwitchesThroughTheSimulator()
    {
        test::SimProcess sim;
        QVERIFY2(sim.start({}, scale), qPrintable(sim.errors()));
        qputenv("CASALUX_SERIAL_1", sim.devicePath().toLocal8Bit());
        const auto log = [&sim] { return sim.lines().join(QLatin1Char('\n')); };

        Cm11aControl control;
        test::WindowRig rig("Lounge~~~\r\n"
                            "Lounge~Lamp~A~3\r\n"
                            "Lounge~Fan~A~4\r\n",
                            {}, &control);
        rig.setType("LoungeLamp", "bulb");
        rig.settings.write(settingkeys::port, QStringLiteral("1"));

        rig.window.startInterfaceSearch();
        QVERIFY(rig.settle());
        QVERIFY(rig.window.core().finder.interfaceReady());
        QCOMPARE(rig.window.statusText(3), QStringLiteral("STATUS: Ready"));
        QVERIFY(rig.window.statusText(2).startsWith(
            "Found and Initialized Interface on com port 1"));
        rig.window.core().scheduler.stop();

        QVERIFY(rig.clickNode("Lounge"));
        auto* lamp = rig.find<QToolButton>("device_0");
        QTest::mouseClick(lamp, Qt::LeftButton);
        QVERIFY(rig.settle());
        QTRY_VERIFY2_WITH_TIMEOUT(log().contains("A3 ON"), qPrintable(log()), 5000);
        QCOMPARE(lamp->property("picture").toString(), QStringLiteral("bulbon.gif"));

        // Half way on the slider: on, full, then dimmed by the rest.
        auto* slider = rig.find<QSlider>("image1_0");
        slider->setValue(50);
        QVERIFY(rig.settle());
        QTRY_VERIFY2_WITH_TIMEOUT(log().contains("A3 DIM"), qPrintable(log()), 5000);
        QCOMPARE(rig.machineValue("dimLoungeLamp"), QStringLiteral("50"));

        // The tree's device node switches the fan, shown in the same room.
        QVERIFY(rig.clickNode("Lounge/Fan"));
        QTRY_VERIFY2_WITH_TIMEOUT(log().contains("A4 ON"), qPrintable(log()), 5000);

        // Someone turns the lamp off at the wall.
        sim.command(QStringLiteral("A3 OFF"));
        QTRY_COMPARE_WITH_TIMEOUT(lamp->property("picture").toString(),
                                  QStringLiteral("bulboff.gif"), 5000);
        QCOMPARE(rig.machineValue("LoungeLamp"), QStringLiteral("False"));
        QVERIFY(rig.settle());
    }

    // Exit while a command is on the line: the command ends before the
    // window goes, not later against a window that is gone.
    void exitWithACommandOnTheLine()
    {
        test::SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--line-delay"), QStringLiteral("8000")}, scale));
        qputenv("CASALUX_SERIAL_1", sim.devicePath().toLocal8Bit());
        Cm11aControl control;
        test::WindowRig rig("Lounge~~~\r\n"
                            "Lounge~Lamp~A~3\r\n",
                            {}, &control);
        rig.settings.write(settingkeys::port, QStringLiteral("1"));
        QVERIFY(rig.connectInterface());

        QVERIFY(rig.clickNode("Lounge"));
        QTest::mouseClick(rig.find<QToolButton>("device_0"), Qt::LeftButton);
        QVERIFY(rig.window.core().commands.commandInProgress());
        bool commandEndedFirst = false;
        bool closed = false;
        connect(&rig.window, &MainWindow::closed, this, [&] {
            commandEndedFirst = !rig.window.core().commands.commandInProgress();
            closed = true;
        });
        rig.window.close();
        QTRY_VERIFY_WITH_TIMEOUT(closed, 10000);
        QVERIFY(commandEndedFirst);
    }
};

QTEST_MAIN(TestDesktopSim)
#include "tst_desktop_sim.moc"
