#include "platform/clock.h"
#include "platform/detachedservice.h"
#include "platform/systemdservice.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace casalux;

class TestServiceManager : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void systemdStates_data()
    {
        QTest::addColumn<QString>("show");
        QTest::addColumn<QString>("status");
        QTest::newRow("running") << "LoadState=loaded\nActiveState=active\n"
                                 << "Running";
        QTest::newRow("starting") << "LoadState=loaded\nActiveState=activating\n"
                                  << "Start Pending";
        QTest::newRow("stopping") << "LoadState=loaded\nActiveState=deactivating\n"
                                  << "Stop Pending";
        QTest::newRow("stopped") << "LoadState=loaded\nActiveState=inactive\n"
                                 << "Stopped";
        QTest::newRow("failed") << "LoadState=loaded\nActiveState=failed\n"
                                << "Stopped";
        QTest::newRow("not installed") << "LoadState=not-found\nActiveState=inactive\n"
                                       << "";
        QTest::newRow("no answer") << ""
                                   << "";
    }
    void systemdStates()
    {
        QFETCH(QString, show);
        QFETCH(QString, status);
        QCOMPARE(SystemdService::statusFromShow(show), status);
    }

    void systemdUnitRunsTheEngine()
    {
        SystemdService user({QStringLiteral("/opt/casa lux/hearthcore"),
                             {QStringLiteral("--home"), QStringLiteral("/srv/home \"x\"")}},
                            false);
        const QString unit = user.unitText();
        QVERIFY(unit.contains(QStringLiteral(
            "ExecStart=\"/opt/casa lux/hearthcore\" \"--home\" \"/srv/home \\\"x\\\"\"")));
        QVERIFY(unit.contains(QStringLiteral("Description=This is the Casalux service engine.")));
        QVERIFY(unit.contains(QStringLiteral("WantedBy=default.target")));
        QVERIFY(!unit.contains(QLatin1Char('@')));
        QVERIFY(user.unitPath().endsWith(QStringLiteral("/systemd/user/hearthcore.service")));
        SystemdService system({QStringLiteral("/usr/bin/hearthcore"), {}}, true);
        QVERIFY(system.unitText().contains(QStringLiteral("WantedBy=multi-user.target")));
        QCOMPARE(system.unitPath(), QStringLiteral("/etc/systemd/system/hearthcore.service"));
    }

    // The fallback runs a real process: a stand-in engine that sleeps.
    void detachedProcessLifecycle()
    {
        const QString sleeper = QStandardPaths::findExecutable(QStringLiteral("sleep"));
        if (sleeper.isEmpty())
            QSKIP("no sleep program");
        Clock::instance().start(QDateTime::currentDateTime(), 10);
        QTemporaryDir state;
        DetachedService service({sleeper, {QStringLiteral("60")}}, state.path());

        QCOMPARE(QCoro::waitFor(service.status()), QString()); // not installed
        QVERIFY(!QCoro::waitFor(service.start()));
        QVERIFY(QCoro::waitFor(service.install()));
        QCOMPARE(QCoro::waitFor(service.status()), QStringLiteral("Stopped"));
        QVERIFY(QCoro::waitFor(service.start()));
        QCOMPARE(QCoro::waitFor(service.status()), QStringLiteral("Running"));
        QVERIFY(QCoro::waitFor(service.start())); // already running: nothing more
        QVERIFY(QCoro::waitFor(service.stop()));
        QCOMPARE(QCoro::waitFor(service.status()), QStringLiteral("Stopped"));
        QVERIFY(QCoro::waitFor(service.remove()));
        QCOMPARE(QCoro::waitFor(service.status()), QString());
        Clock::instance().useSystemTime();
    }

    // The systemd path for real, as a user unit. Only where a user's systemd
    // runs, and never over an engine somebody has installed on this machine.
    void systemdUserUnitLifecycle()
    {
        if (!QFileInfo(QStringLiteral("/run/systemd/system")).isDir())
            QSKIP("systemd is not running on this machine: the systemd path is not exercised");
        QProcess probe;
        probe.start(QStringLiteral("systemctl"),
                    {QStringLiteral("--user"), QStringLiteral("is-system-running")});
        if (!probe.waitForFinished(5000) || probe.readAllStandardOutput().trimmed().isEmpty())
            QSKIP("no systemd user manager for this user: the systemd path is not exercised");
        const QString sleeper = QStandardPaths::findExecutable(QStringLiteral("sleep"));
        SystemdService service({sleeper, {QStringLiteral("60")}}, false);
        if (QFile::exists(service.unitPath()))
            QSKIP("a hearthcore user unit is installed here; it is left alone");

        QVERIFY(QCoro::waitFor(service.install()));
        QCOMPARE(QCoro::waitFor(service.status()), QStringLiteral("Stopped"));
        QVERIFY(QCoro::waitFor(service.start()));
        QTRY_COMPARE_WITH_TIMEOUT(QCoro::waitFor(service.status()), QStringLiteral("Running"),
                                  5000);
        QVERIFY(QCoro::waitFor(service.stop()));
        QCOMPARE(QCoro::waitFor(service.status()), QStringLiteral("Stopped"));
        QVERIFY(QCoro::waitFor(service.remove()));
        QCOMPARE(QCoro::waitFor(service.status()), QString());
        QVERIFY(!QFile::exists(service.unitPath()));
    }

    // A pid file left behind must never make us signal whatever process got
    // that pid later.
    void stalePidIsNotTheEngine()
    {
        QTemporaryDir state;
        DetachedService service({QStringLiteral("/bin/true"), {}}, state.path());
        QVERIFY(QCoro::waitFor(service.install()));
        QFile pid(service.pidFile());
        QVERIFY(pid.open(QIODevice::WriteOnly));
        pid.write(QByteArray::number(QCoreApplication::applicationPid()));
        pid.close();
        QCOMPARE(QCoro::waitFor(service.status()), QStringLiteral("Stopped"));
        QVERIFY(QCoro::waitFor(service.stop())); // and we are still here
        QVERIFY(!QFile::exists(service.pidFile()));
    }
};

QTEST_GUILESS_MAIN(TestServiceManager)
#include "tst_servicemanager.moc"
