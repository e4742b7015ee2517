#include "enginerig.h"
#include "home/roomlist.h"
#include "home/roomlisteditor.h"
#include "home/settingsstore.h"
#include "httpget.h"
#include "platform/busymark.h"
#include "platform/statussink.h"
#include "scriptedprompts.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QTcpSocket>
#include <QtTest>

using namespace casalux;

namespace {

constexpr double scale = 30; // a minute passes in two seconds

// True while something accepts connections on the port.
bool listening(quint16 port)
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    return probe.waitForConnected(200);
}

} // namespace

// The real hearthcore program against the simulated interface, on a clock
// that starts on Thursday 5 March 2026 at 07:29:00 and runs thirty times fast:
// two seconds before the 07:30 events, time for a loaded machine to start it.
class TestHearthcoreProcess : public QObject {
    Q_OBJECT

    struct Rig : test::EngineRig {
        Rig()
        {
            folder.write(QStringLiteral("html/index.html"), "<body><h1><room></h1><p><dev0></p>\r\n");
            folder.write(QStringLiteral("rmlst.rvf"), "Den~~~\r\nDen~Lamp~A~3\r\n");
        }
        bool start() { return EngineRig::start(QStringLiteral("2026-03-05T07:29:00"), scale); }
    };

private Q_SLOTS:
    void firesDueEventsAndHandsOver()
    {
        Rig rig;
        rig.folder.write(QStringLiteral("evelst.rvf"),
                         "Den Lamp~A~3~100~07:30~on~daily~u\r\n"         // Thursday: fires
                         "Den Fan~A~4~ ~07:30~off~daily~r\r\n"           // Sunday only
                         "Den Radio~A~5~100~sSet:00~on~daily~mtwufsr\r\n" // sun events: never here
                         "Den Light~A~6~100~07:30~on~once~r\r\n"         // once, wrong day: removed
                         "Den Lamp~A~3~ ~22:00~off~daily~mtwufsr\r\n");
        QVERIFY(rig.start());
        QTRY_VERIFY2_WITH_TIMEOUT(rig.simLog().contains(QLatin1String("A3 ON")), qPrintable(rig.simLog()), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.folder.read(QStringLiteral("evelst.rvf")).contains("Den Light"), 10000);
        QCOMPARE(rig.folder.read(QStringLiteral("evelst.rvf")),
                 QByteArray("Den Lamp~A~3~100~07:30~on~daily~u\r\n"
                            "Den Fan~A~4~ ~07:30~off~daily~r\r\n"
                            "Den Radio~A~5~100~sSet:00~on~daily~mtwufsr\r\n"
                            "Den Lamp~A~3~ ~22:00~off~daily~mtwufsr\r\n"));
        QVERIFY2(!rig.simLog().contains(QLatin1String("A4 ")), qPrintable(rig.simLog()));
        QVERIFY(!rig.simLog().contains(QLatin1String("A5 ")));
        QVERIFY(!rig.simLog().contains(QLatin1String("A6 ")));
        QCOMPARE(rig.settings.read(settingkeys::closeengine), QStringLiteral("False"));

        // The desktop program asks for the interface: nothing fires after the
        // release, while the pages are still served.
        rig.settings.write(settingkeys::closeengine, QStringLiteral("True"));
        QTest::qWait(int(6000 / scale) + 500); // past one watch interval
        QFile::remove(rig.folder.file(QStringLiteral("evelst.rvf")));
        rig.folder.write(QStringLiteral("evelst.rvf"), "Den Lamp~A~3~ ~07:31~off~daily~u\r\n");
        QTest::qWait(int(70000 / scale)); // past 07:31
        QVERIFY2(!rig.simLog().contains(QLatin1String("A3 OFF")), qPrintable(rig.simLog()));
        const QByteArray page = QCoro::waitFor(test::httpGet(rig.webPort, QStringLiteral("/index.html")));
        QVERIFY2(page.startsWith("HTTP/1.1 200") || page.startsWith("HTTP/1.0 200"), page.constData());
        QCOMPARE(rig.engine.state(), QProcess::Running);
    }

    // A service manager's SIGTERM while a command is on the line, from a
    // page or from a due event: the engine lets the command finish (the
    // simulator takes 0.7 s per transmission), then lets go of the port and
    // ends cleanly (the ASan build also checks that nothing ran on freed
    // objects and nothing was left behind).
    void sigtermLetsTheCommandFinish_data()
    {
        QTest::addColumn<bool>("fromPage");
        QTest::newRow("web command") << true;
        QTest::newRow("minute tick with a due event") << false;
    }
    void sigtermLetsTheCommandFinish()
    {
        QFETCH(bool, fromPage);
        Rig rig;
        rig.simArguments = {QStringLiteral("--line-delay"), QStringLiteral("700")};
        if (!fromPage)
            rig.folder.write(QStringLiteral("evelst.rvf"), "Den Lamp~A~3~100~07:30~on~daily~u\r\n");
        // The command line's socket appears once the engine holds the
        // interface: a page command before that would be refused.
        const QString socket = rig.folder.file(QStringLiteral("control"));
        rig.environment.insert(QStringLiteral("CASALUX_CONTROL_SOCKET"), socket);
        QVERIFY(rig.start());
        QTRY_VERIFY_WITH_TIMEOUT(listening(rig.webPort), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 10000);
        std::optional<QCoro::Task<QByteArray>> page;
        if (fromPage)
            page.emplace(
                test::httpGet(rig.webPort, QStringLiteral("/index.html?A~3~DenLamp~turnon~Den")));
        // The address of A3 has reached the interface: the command is on the line.
        QTRY_VERIFY2_WITH_TIMEOUT(rig.sim.receivedHex().contains(QLatin1String("04 62")),
                                  qPrintable(rig.sim.receivedHex()), 15000);
        QVERIFY(!rig.simLog().contains(QLatin1String("A3 ON")));
        rig.engine.terminate();
        QVERIFY(rig.engine.waitForFinished(15000));
        QCOMPARE(rig.engine.exitStatus(), QProcess::NormalExit);
        QCOMPARE(rig.engine.exitCode(), 0);
        QTRY_VERIFY2_WITH_TIMEOUT(rig.simLog().contains(QLatin1String("A3 ON")),
                                  qPrintable(rig.simLog()), 5000);
        if (page) {
            const QByteArray answer = QCoro::waitFor(*page);
            QVERIFY2(answer.startsWith("HTTP/1.1 200") || answer.startsWith("HTTP/1.0 200"),
                     answer.constData());
        }
        // The port is free for the desktop program.
        QSerialPort port(rig.sim.devicePath());
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    }

    // The simulator behind a symbolic link is killed (the adapter pulled)
    // and a new one put behind the same link: the engine says so in its log,
    // its pages show it, a click fails at once, and once the interface is
    // back a click switches the lamp, all without a restart.
    void lostAndFoundBehindTheSameLink()
    {
        Rig rig;
        rig.throughLink = true;
        rig.engine.setProcessChannelMode(QProcess::SeparateChannels);
        QByteArray log;
        const auto readLog = [&] {
            log += rig.engine.readAllStandardError();
            return QString::fromLocal8Bit(log);
        };
        const auto get = [&rig](const char* target) {
            return QCoro::waitFor(test::httpGet(rig.webPort, QString::fromLatin1(target)));
        };
        const QByteArray notice = "The X10 interface is not connected";
        QVERIFY(rig.start());
        QTRY_VERIFY_WITH_TIMEOUT(listening(rig.webPort), 10000);
        QVERIFY(!get("/index.html").contains(notice));

        rig.sim.kill();
        QTRY_VERIFY2_WITH_TIMEOUT(
            readLog().contains(QLatin1String("casalux.engine: X10 interface on port 1 lost")),
            qPrintable(readLog()), 5000);
        QVERIFY2(get("/index.html").contains(notice), qPrintable(readLog()));
        const QByteArray refused = get("/index.html?A~3~DenLamp~turnon~Den");
        QVERIFY2(refused.contains(notice), refused.constData());
        QVERIFY2(refused.contains("Not switched: the X10 interface is not connected; looking for "
                                  "it again."),
                 refused.constData());
        rig.settings.sync();
        QVERIFY(rig.settings.GetString(SettingsStore::Root::LocalMachine,
                                       QString::fromLatin1(settingkeys::casaluxPath),
                                       QStringLiteral("DenLamp")) != QLatin1String("True"));

        test::SimProcess back;
        QVERIFY(back.start({}, 0));
        QVERIFY(rig.relink(back));
        QTRY_VERIFY2_WITH_TIMEOUT(
            readLog().contains(QLatin1String("casalux.engine: X10 interface on port 1 found again")),
            qPrintable(readLog()), 10000);
        const QByteArray switched = get("/index.html?A~3~DenLamp~turnon~Den");
        QVERIFY2(!switched.contains(notice), switched.constData());
        QTRY_VERIFY2_WITH_TIMEOUT(back.lines().join(QLatin1Char('\n')).contains("A3 ON"),
                                  qPrintable(back.lines().join(QLatin1Char('\n'))), 5000);
        QCOMPARE(rig.engine.state(), QProcess::Running);
    }

    // The engine runs as a user of its own: what a person chose in the
    // desktop program (here the kind of a device added there) reaches its
    // pages through the machine-wide store, not that person's own.
    void pagesShowTheKindChosenByAnotherUser()
    {
        Rig rig;
        SettingsStore desktop(rig.folder.file(QStringLiteral("machine.ini")),
                              rig.folder.file(QStringLiteral("someone/Casalux")));
        RoomList list(rig.folder.path());
        BusyMark filebusy;
        SilentStatus silent;
        test::ScriptedPrompts prompts;
        RoomListEditor editor(list, desktop, filebusy, silent, prompts);
        QVERIFY(QCoro::waitFor(editor.adddevice(QStringLiteral("Den"), QStringLiteral("Lamp"),
                                                QStringLiteral("A"), QStringLiteral("3"),
                                                QStringLiteral("Lamp Module (dimmable)"))));
        QVERIFY(rig.start());
        QTRY_VERIFY_WITH_TIMEOUT(listening(rig.webPort), 10000);
        const QByteArray page =
            QCoro::waitFor(test::httpGet(rig.webPort, QStringLiteral("/index.html?loadroomDen")));
        QVERIFY2(page.contains("bulb2off.gif"), page.constData());
    }

    // With no port stored the engine sets itself up: it searches the
    // ports, and while nothing answers it serves the pages with a notice,
    // says so once in its log and searches again when a serial device
    // appears (here long before the 30-second search, on a real clock).
    void noPortSetsItselfUp()
    {
        Rig rig;
        rig.settings.write(settingkeys::port, QStringLiteral("none"));
        rig.hideAllPorts();
        rig.engine.setProcessChannelMode(QProcess::SeparateChannels);
        QVERIFY(rig.EngineRig::start());
        QTRY_VERIFY_WITH_TIMEOUT(listening(rig.webPort), 10000);
        const QByteArray page =
            QCoro::waitFor(test::httpGet(rig.webPort, QStringLiteral("/index.html")));
        QVERIFY2(page.contains("No X10 interface found yet") &&
                     page.contains("casaluxctl port N"),
                 page.constData());
        QCOMPARE(rig.engine.state(), QProcess::Running);

        QVERIFY(QFile::link(rig.sim.devicePath(), rig.hiddenPort(5)));
        QTRY_COMPARE_WITH_TIMEOUT((rig.settings.sync(), rig.settings.read(settingkeys::port)),
                                  QStringLiteral("5"), 10000);
        const QByteArray found =
            QCoro::waitFor(test::httpGet(rig.webPort, QStringLiteral("/index.html")));
        QVERIFY2(!found.contains("No X10 interface found yet"), found.constData());
        const QString log = QString::fromLocal8Bit(rig.engine.readAllStandardError());
        QCOMPARE(log.count(QStringLiteral("no X10 interface found")), 1);
    }

    void delayedStartWaitsAboutTwentyOneSeconds()
    {
        Rig rig;
        rig.settings.SaveString(SettingsStore::Root::LocalMachine,
                                QString::fromLatin1(settingkeys::currentVersionPath),
                                QStringLiteral("Casaluxdelay"), QStringLiteral("delayed"));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(rig.start());
        QTRY_VERIFY_WITH_TIMEOUT(listening(rig.webPort), 10000);
        const double seconds = clock.elapsed() * scale / 1000.0;
        // The upper bound leaves a loaded machine time to start the process,
        // and still catches a delay counted in the wrong unit.
        QVERIFY2(seconds >= 20 && seconds < 150, qPrintable(QString::number(seconds)));
    }
};

QTEST_GUILESS_MAIN(TestHearthcoreProcess)
#include "tst_hearthcoreprocess.moc"
