#include "platform/clock.h"
#include "platform/detachedservice.h"
#include "platform/packagedservice.h"
#include "platform/programfolder.h"
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

    // The package's unit is used only for the folder it runs the engine on.
    void packagedUnitServesOnlyTheSharedFolder()
    {
        QTemporaryDir units;
        const QString shared = ProgramFolder::installedFolder();
        QVERIFY(!PackagedService::servesFolder(shared, {units.path()}));
        QFile unit(units.filePath(QStringLiteral("hearthcore.service")));
        QVERIFY(unit.open(QIODevice::WriteOnly));
        unit.close();
        QVERIFY(PackagedService::servesFolder(shared, {QStringLiteral("/nowhere"), units.path()}));
        QVERIFY(PackagedService::servesFolder(shared + QStringLiteral("/"), {units.path()}));
        QVERIFY(!PackagedService::servesFolder(QStringLiteral("/home/me/casa"), {units.path()}));
        QVERIFY(!PackagedService::servesFolder(QString(), {units.path()}));
    }

    // The system unit through a stand-in systemctl that records its calls:
    // never a user unit, never a password prompt, and "installed" is the
    // file the unit's start condition reads.
    void packagedServiceDrivesTheSystemUnit()
    {
        QTemporaryDir bin;
        QTemporaryDir folder;
        const QString log = bin.filePath(QStringLiteral("calls"));
        QFile fake(bin.filePath(QStringLiteral("systemctl")));
        QVERIFY(fake.open(QIODevice::WriteOnly));
        fake.write("#!/bin/sh\necho \"$*\" >>'" + log.toUtf8() +
                   "'\ncase \"$*\" in *show*) printf 'LoadState=loaded\\nActiveState=active\\n';; "
                   "esac\n");
        fake.close();
        fake.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.path().toUtf8() + ':' + path);
        auto calls = [&log] {
            QFile f(log);
            return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        };

        PackagedService service(folder.path());
        QCOMPARE(service.enabledFile(), folder.filePath(QStringLiteral("hearthcore.enabled")));
        QCOMPARE(QCoro::waitFor(service.status()), QString()); // not "installed"
        QCOMPARE(calls(), QString());
        QVERIFY(QCoro::waitFor(service.install()));
        QVERIFY(QFile::exists(service.enabledFile()));
        QCOMPARE(QCoro::waitFor(service.status()), QStringLiteral("Running"));
        QVERIFY(QCoro::waitFor(service.stop()));
        QVERIFY(QCoro::waitFor(service.start()));
        QVERIFY(QCoro::waitFor(service.remove()));
        QVERIFY(!QFile::exists(service.enabledFile()));
        QCOMPARE(QCoro::waitFor(service.status()), QString());
        qputenv("PATH", path);

        QCOMPARE(calls(), QStringLiteral("--no-ask-password show --property=LoadState,ActiveState "
                                         "hearthcore.service\n"
                                         "--no-ask-password stop --no-block hearthcore.service\n"
                                         "--no-ask-password start --no-block hearthcore.service\n"
                                         "--no-ask-password stop --no-block hearthcore.service\n"));
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
