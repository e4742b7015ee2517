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
            folder.write(QStringLiteral("html/index.html"), "<body><h1><room></h1><p><dev0></p>\r\n");
            folder.write(QStringLiteral("rmlst.rvf"), "Den~~~\r\nDen~Lamp~A~3\r\n");
            settings.write(settingkeys::webport, QString::number(webPort));
            engine = std::make_unique<HearthcoreEngine>(folder.path(), settings, control);
        }
        bool start() { return QCoro::waitFor(engine->start()); }
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

    // No port, or one that never answers: the engine ends before its web
    // server starts. A port that cannot be opened still lets it serve pages.
    void stoppingConditions_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("runs");
        QTest::newRow("none") << "none" << 0 << false;
        QTest::newRow("garbage") << "COM3" << 0 << false;
        QTest::newRow("no answer") << "2" << int(InterfaceControl::NoAnswer) << false;
        QTest::newRow("unusable") << "2" << int(InterfaceControl::PortUnusable) << true;
    }
    void stoppingConditions()
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

        const QByteArray page = QCoro::waitFor(
            test::httpGet(rig.webPort, QStringLiteral("/index.html?A~3~DenLamp~turnon~Den")));
        QVERIFY(page.contains("Casalux has taken over the X10 interface"));
        QVERIFY(rig.control.sent.isEmpty());
    }

    void closeengineWatchedEveryFiveSeconds()
    {
        Rig rig;
        rig.settings.write(settingkeys::port, QStringLiteral("1"));
        Clock::instance().start(QDateTime(QDate(2026, 3, 5), QTime(7, 29, 50)), 1000);
        QVERIFY(rig.start());
        SettingsStore desktop(rig.folder.file(QStringLiteral("machine.ini")),
                              rig.folder.file(QStringLiteral("user")));
        desktop.write(settingkeys::closeengine, QStringLiteral("True"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.engine->released(), 5000);
        QCOMPARE(rig.control.closeCount, 1);
    }
};

QTEST_GUILESS_MAIN(TestHearthcoreEngine)
#include "tst_hearthcoreengine.moc"
