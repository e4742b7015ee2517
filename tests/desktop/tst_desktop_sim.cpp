#include "home/settingkeys.h"
#include "httpget.h"
#include "platform/clock.h"
#include "simprocess.h"
#include "trayicon.h"
#include "windowrig.h"
#include "x10/cm11acontrol.h"

#include <QFile>
#include <QSlider>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <cstdio>

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
        QCOMPARE(rig.window.status().text(3), QStringLiteral("STATUS: Ready"));
        QVERIFY(rig.window.status().text(2).startsWith(
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

    // The simulator behind a symbolic link (a /dev/serial/by-id name) is
    // killed, as an adapter is pulled, and a new one is put behind the same
    // link: the status bar, the tray tip and the pages say so at once, a
    // click fails without waiting, and once the interface answers again a
    // click switches the lamp, all without a restart.
    void lostAndFoundBehindTheSameLink()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("usb-X10_CM11A-if00"));
        const auto plugIn = [&link](test::SimProcess& sim) {
            const QString next = link + QStringLiteral(".new");
            return sim.start({}, scale) && QFile::link(sim.devicePath(), next) &&
                   std::rename(next.toLocal8Bit().constData(), link.toLocal8Bit().constData()) == 0;
        };
        test::SimProcess sim;
        QVERIFY(plugIn(sim));
        qputenv("CASALUX_SERIAL_1", link.toLocal8Bit());

        Cm11aControl control;
        test::WindowRig rig("Lounge~~~\r\n"
                            "Lounge~Lamp~A~3\r\n",
                            {}, &control);
        rig.setType("LoungeLamp", "bulb");
        rig.folder.write(QStringLiteral("html/index.html"),
                         "<body><h1><room></h1><p><dev0></p>\r\n");
        rig.settings.write(settingkeys::port, QStringLiteral("1"));
        const quint16 webPort = test::freePort();
        rig.settings.write(settingkeys::webport, QString::number(webPort));
        QVERIFY(rig.connectInterface());
        rig.window.core().server.startserver();
        rig.window.loadtray();
        QVERIFY(rig.window.tray());
        const QString tip = rig.window.tray()->toolTip();
        const auto page = [webPort](const char* target) {
            return QCoro::waitFor(test::httpGet(webPort, QString::fromLatin1(target)));
        };
        const QByteArray notice = "The X10 interface is not connected";
        QVERIFY(!page("/index.html").contains(notice));

        sim.kill();
        QTRY_COMPARE(rig.window.status().text(3), QStringLiteral("STATUS: Interface lost"));
        QCOMPARE(rig.window.status().text(2),
                 QStringLiteral("X10 Interface lost on com port 1, looking for it again every 5 "
                                "seconds"));
        QVERIFY2(rig.window.tray()->toolTip().startsWith(tip + QLatin1Char('\n')),
                 qPrintable(rig.window.tray()->toolTip()));
        QVERIFY(page("/index.html").contains(notice));
        const QByteArray refused = page("/index.html?A~3~LoungeLamp~turnon~Lounge");
        QVERIFY2(refused.contains(notice), refused.constData());
        QVERIFY2(refused.contains("Not switched: the X10 interface is not connected; looking for "
                                  "it again."),
                 refused.constData());

        // A click fails at once and says why; the lamp stays as it was.
        QVERIFY(rig.clickNode("Lounge"));
        auto* lamp = rig.find<QToolButton>("device_0");
        QTest::mouseClick(lamp, Qt::LeftButton);
        QVERIFY(rig.settle());
        QVERIFY2(rig.window.status().text(2).endsWith(InterfaceControl::lostText()),
                 qPrintable(rig.window.status().text(2)));
        QCOMPARE(lamp->property("picture").toString(), QStringLiteral("bulboff.gif"));
        QCOMPARE(rig.window.status().text(3), QStringLiteral("STATUS: Interface lost"));

        test::SimProcess back;
        QVERIFY(plugIn(back));
        QTRY_COMPARE_WITH_TIMEOUT(rig.window.status().text(3), QStringLiteral("STATUS: Ready"),
                                  10000);
        QCOMPARE(rig.window.status().text(2),
                 QStringLiteral("Found the X10 Interface again on com port 1"));
        QCOMPARE(rig.window.tray()->toolTip(), tip);
        QVERIFY(!page("/index.html").contains(notice));
        QTest::mouseClick(lamp, Qt::LeftButton);
        QVERIFY(rig.settle());
        const auto log = [&back] { return back.lines().join(QLatin1Char('\n')); };
        QTRY_VERIFY2_WITH_TIMEOUT(log().contains("A3 ON"), qPrintable(log()), 5000);
        QCOMPARE(lamp->property("picture").toString(), QStringLiteral("bulbon.gif"));
        QCOMPARE(rig.window.status().text(3), QStringLiteral("STATUS: Ready"));
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
