#include "engine/hearthcoreengine.h"
#include "home/settingsstore.h"
#include "httpget.h"
#include "platform/clock.h"
#include "scriptedinterface.h"
#include "servlane.h"
#include "temphome.h"

#include <QtTest>

using namespace casalux;

// The engine in-process, with a recording interface.
class TestHearthcoreEngine : public QObject {
    Q_OBJECT

    struct Rig : test::TempHome {
        test::ScriptedInterface control;
        std::unique_ptr<HearthcoreEngine> engine;
        quint16 webPort = test::freePort();
        Rig()
        {
            folder.write(QStringLiteral("html/index.html"),
                         "<body><h1><room></h1><p><dev0></p>\r\n");
            folder.write(QStringLiteral("rmlst.rvf"), "Den~~~\r\nDen~Lamp~A~3\r\n");
            settings.write(settingkeys::webport, QString::number(webPort));
            engine = std::make_unique<HearthcoreEngine>(folder.path(), settings, control);
        }
        bool start() { return QCoro::waitFor(engine->start()); }
        // The desktop program asks for the interface, from its own process.
        void desktopAsksForThePort()
        {
            SettingsStore desktop(folder.file(QStringLiteral("machine.ini")),
                                  folder.file(QStringLiteral("user")));
            desktop.write(settingkeys::closeengine, QStringLiteral("True"));
        }
        // A click on a page after the hand-over: the page says so, nothing is sent.
        bool pageSaysHandedOver()
        {
            const QByteArray page = QCoro::waitFor(
                test::httpGet(webPort, QStringLiteral("/index.html?A~3~DenLamp~turnon~Den")));
            return page.contains("Casalux has taken over the X10 interface") &&
                   control.sent.isEmpty();
        }
    };

private Q_SLOTS:
    void init() { Clock::instance().freeze(QDateTime(QDate(2026, 3, 5), QTime(7, 29, 50)), 1000); }
    void cleanup() { Clock::instance().useSystemTime(); }

    void startsOnStoredPort()
    {
        Rig rig;
        rig.settings.write(settingkeys::port, QStringLiteral("3"));
        rig.settings.write(settingkeys::closeengine, QStringLiteral("True"));
        QVERIFY(rig.start());
        QCOMPARE(rig.control.openedPorts, QList<int>{3});
        QCOMPARE(rig.control.numericOption(), 4);
        QCOMPARE(rig.control.ownerName(), QStringLiteral("Casalux"));
        QCOMPARE(rig.settings.read(settingkeys::closeengine), QStringLiteral("False"));
        QVERIFY(rig.engine->scheduler().eventTimerActive());
        QVERIFY(rig.engine->server().web().ServerRunning());
    }

    // No usable port stored: the engine searches the ports as the desktop
    // program's auto-detect does and stores the one that answers. (A stored
    // port that does not open is tried again: unopenablePortIsTriedAgain;
    // nothing answering: noPortSetsItselfUp of the process test.)
    void noUsablePortIsSearchedFor_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("runs");
        QTest::newRow("none") << "none" << 0 << true;
        QTest::newRow("garbage") << "COM3" << 0 << true;
    }
    void noUsablePortIsSearchedFor()
    {
        QFETCH(QString, port);
        QFETCH(int, answer);
        QFETCH(bool, runs);
        Rig rig;
        rig.settings.write(settingkeys::port, port);
        rig.control.setDefaultOpenAnswer(answer);
        QCOMPARE(rig.start(), runs);
        QCOMPARE(rig.engine->server().web().ServerRunning(), runs);
        QCOMPARE(rig.engine->scheduler().eventTimerActive(), runs);
        QCOMPARE(rig.control.openedPorts, QList<int>{1});
        QCOMPARE(rig.settings.read(settingkeys::port), QStringLiteral("1"));
    }

    // The hand-over waits for the file work in progress, then closes the
    // interface; the pages stay up and say why nothing is switched.
    void releaseWaitsForFileWork()
    {
        Rig rig;
        rig.settings.write(settingkeys::port, QStringLiteral("1"));
        QVERIFY(rig.start());
        auto hold = std::make_unique<BusyMark::Hold>(*rig.engine->filebusy().tryTake());
        auto release = rig.engine->release();
        QCoro::waitFor(Clock::instance().sleep(3));
        QCOMPARE(rig.control.closeCount, 0);
        QVERIFY(!rig.engine->released());
        hold.reset();
        QCoro::waitFor(release);
        QCOMPARE(rig.control.closeCount, 1);
        QVERIFY(!rig.engine->scheduler().eventTimerActive());

        QVERIFY(rig.pageSaysHandedOver());
    }

    // A stored port that cannot be opened (no permission, adapter not yet
    // plugged in) or where nothing answers is tried again every few seconds,
    // with the reason in the log once; the engine neither ends nor runs
    // events or pages without an interface meanwhile.
    void unopenablePortIsTriedAgain_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("reason");
        QTest::newRow("unusable") << int(InterfaceControl::PortUnusable)
                                  << "port 2 .* cannot be opened: .*Trying again every 5 seconds";
        QTest::newRow("no answer") << int(InterfaceControl::NoAnswer)
                                   << "port 2 .* no X10 interface answered .*Trying again";
    }
    void unopenablePortIsTriedAgain()
    {
        QFETCH(int, answer);
        QFETCH(QString, reason);
        Rig rig;
        rig.settings.write(settingkeys::port, QStringLiteral("2"));
        rig.control.setDefaultOpenAnswer(answer);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(reason));
        auto start = rig.engine->start();
        QTRY_VERIFY(rig.control.openedPorts.size() >= 3);
        QVERIFY(!start.isReady());
        QCOMPARE(rig.control.openedPorts.count(2), rig.control.openedPorts.size());
        QCOMPARE(rig.control.closeCount, rig.control.openedPorts.size()); // let go between tries
        QVERIFY(!rig.engine->server().web().ServerRunning());
        QVERIFY(!rig.engine->scheduler().eventTimerActive());

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("port 2 answered"));
        rig.control.setDefaultOpenAnswer(InterfaceControl::Ready);
        QVERIFY(QCoro::waitFor(start));
        QVERIFY(rig.engine->interfaceOpen());
        QVERIFY(rig.engine->scheduler().eventTimerActive());
        QVERIFY(rig.engine->server().web().ServerRunning());
    }

    // While it retries, the engine still lets go when the desktop program
    // asks (its pages then say so), and ends when it is asked to.
    void retryingHonoursHandOverAndShutdown()
    {
        {
            Rig rig;
            rig.settings.write(settingkeys::port, QStringLiteral("2"));
            rig.control.setDefaultOpenAnswer(InterfaceControl::PortUnusable);
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot be opened"));
            auto start = rig.engine->start();
            QCoro::waitFor(Clock::instance().sleep(7));
            rig.desktopAsksForThePort();
            rig.control.setDefaultOpenAnswer(InterfaceControl::Ready);
            QVERIFY(QCoro::waitFor(start));
            QVERIFY(rig.engine->released());
            QVERIFY(!rig.control.isOpen);
            QVERIFY(!rig.engine->scheduler().eventTimerActive());
            QVERIFY(rig.pageSaysHandedOver());
        }
        {
            Rig rig;
            rig.settings.write(settingkeys::port, QStringLiteral("2"));
            rig.control.setDefaultOpenAnswer(InterfaceControl::PortUnusable);
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot be opened"));
            auto start = rig.engine->start();
            QCoro::waitFor(Clock::instance().sleep(7));
            rig.control.setDefaultOpenAnswer(InterfaceControl::Ready);
            QCoro::waitFor(rig.engine->shutdown());
            QVERIFY(start.isReady());
            QVERIFY(!QCoro::waitFor(start));
            QVERIFY(!rig.control.isOpen);
            QVERIFY(!rig.engine->scheduler().eventTimerActive());
            QVERIFY(!rig.engine->server().web().ServerRunning());
        }
    }

    // A closeengine written during the delayed start: the engine never
    // opens the port, runs no events, and its pages say who has it.
    void handOverDuringDelayKeepsThePortShut()
    {
        Rig rig;
        rig.settings.write(settingkeys::port, QStringLiteral("1"));
        rig.settings.SaveString(SettingsStore::Root::LocalMachine,
                                QString::fromLatin1(settingkeys::currentVersionPath),
                                QStringLiteral("Casaluxdelay"), QStringLiteral("delayed"));
        auto start = rig.engine->start();
        QCoro::waitFor(Clock::instance().sleep(3));
        QVERIFY(!start.isReady());
        rig.desktopAsksForThePort();
        QVERIFY(QCoro::waitFor(start));
        QVERIFY(rig.control.openedPorts.isEmpty());
        QVERIFY(rig.engine->released());
        QVERIFY(!rig.engine->scheduler().eventTimerActive());
        QVERIFY(rig.pageSaysHandedOver());
    }

    // The release comes while the port is being opened: the port is closed
    // once the open returns, and stays closed.
    void handOverDuringOpenClosesThePort()
    {
        Rig rig;
        rig.settings.write(settingkeys::port, QStringLiteral("1"));
        // Slow enough that the open is surely still under way at the release.
        Clock::instance().freeze(QDateTime(QDate(2026, 3, 5), QTime(7, 29, 50)), 20);
        rig.control.setOpenSeconds(10);
        auto start = rig.engine->start();
        QCoro::waitFor(Clock::instance().sleep(1));
        QCOMPARE(rig.control.openedPorts, QList<int>{1});
        QVERIFY(!start.isReady());            // still opening
        auto release = rig.engine->release(); // as the watch does on closeengine
        QVERIFY(QCoro::waitFor(start));
        QCoro::waitFor(release);
        QVERIFY(rig.engine->released());
        QVERIFY(!rig.control.isOpen);
        QVERIFY(!rig.engine->interfaceOpen());
        QVERIFY(!rig.engine->scheduler().eventTimerActive());
    }

    // In real time: the desktop program's request is noticed from the
    // settings file's change at once, long before a five-second poll would
    // see it, and the idle engine polls nothing meanwhile.
    void handOverNoticedFromTheSettingsFile()
    {
        Rig rig;
        rig.settings.write(settingkeys::port, QStringLiteral("1"));
        Clock::instance().useSystemTime();
        QVERIFY(rig.start());
        QVERIFY(!rig.engine->pollingHandOver());
        rig.desktopAsksForThePort();
        QTRY_VERIFY_WITH_TIMEOUT(rig.engine->released(), 2000);
        QCOMPARE(rig.control.closeCount, 1);
    }

    void closeengineWatchedEveryFiveSeconds()
    {
        Rig rig;
        rig.settings.write(settingkeys::port, QStringLiteral("1"));
        Clock::instance().start(QDateTime(QDate(2026, 3, 5), QTime(7, 29, 50)), 1000);
        QVERIFY(rig.start());
        rig.desktopAsksForThePort();
        QTRY_VERIFY_WITH_TIMEOUT(rig.engine->released(), 5000);
        QCOMPARE(rig.control.closeCount, 1);
    }
};

QTEST_GUILESS_MAIN(TestHearthcoreEngine)
#include "tst_hearthcoreengine.moc"
