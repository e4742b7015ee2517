#include "home/settingsstore.h"
#include "platform/autostartentry.h"
#include "platform/clock.h"
#include "platform/singleinstance.h"
#include "recordingservice.h"
#include "recordingstatus.h"
#include "scriptedprompts.h"
#include "shell/startupoptions.h"
#include "temphome.h"

#include <QLockFile>
#include <QProcess>
#include <QtTest>

using namespace casalux;

using test::RecordingService;

// The start-up options, the log-in entry and the one-copy rule.
class TestStartupOptions : public QObject {
    Q_OBJECT

    struct Rig : test::TempHome {
        RecordingService service;
        AutostartEntry autostart{folder.file(QStringLiteral("config"))};
        test::RecordingStatus status;
        test::ScriptedPrompts prompts;
        StartupOptions options{settings,
                               service,
                               autostart,
                               status,
                               prompts,
                               {QStringLiteral("/opt/casalux/casalux"),
                                {QStringLiteral("--home"), QStringLiteral("/srv/my home")}}};
    };

private Q_SLOTS:
    void freshInstallTicksOnlyLoadAtLogIn()
    {
        Rig rig;
        QVERIFY(rig.options.loadWithWindowsTicked());
        QVERIFY(!rig.options.serviceTicked());
        QVERIFY(!rig.options.delayedStartupTicked());
        QVERIFY(!rig.autostart.exists());
    }

    void serviceInstalledNotStartedAndKeptOnNo()
    {
        Rig rig;
        QVERIFY(QCoro::waitFor(rig.options.serviceClicked(true)));
        QCOMPARE(rig.service.calls, QStringList{"install"}); // started only when closing
        QVERIFY(rig.options.serviceTicked());

        rig.prompts.queueAnswer(Prompts::Answer::No);
        QVERIFY(QCoro::waitFor(rig.options.serviceClicked(false)));
        QCOMPARE(rig.prompts.shown.last().title, QStringLiteral("Stop service?"));
        QVERIFY(rig.prompts.shown.last().text.endsWith(
            QLatin1String("Server will also work.\n\nDo you really want to stop the service?")));
        QCOMPARE(rig.service.calls, QStringList{"install"});
        QVERIFY(rig.options.serviceTicked());

        rig.prompts.queueAnswer(Prompts::Answer::Yes);
        QVERIFY(!QCoro::waitFor(rig.options.serviceClicked(false)));
        QCOMPARE(rig.service.calls, (QStringList{"install", "remove"}));
        QVERIFY(!rig.options.serviceTicked());
    }

    void loadAtLogInWritesAndRemovesTheEntry()
    {
        Rig rig;
        rig.options.loadWithWindowsClicked(true);
        QCOMPARE(rig.status.activity.last(), QStringLiteral("Casalux will now start when you log in"));
        QCOMPARE(rig.settings.read(settingkeys::runAtLogon),
                 QStringLiteral("/opt/casalux/casalux"));
        QFile entry(rig.autostart.path());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QByteArray text = entry.readAll();
        QVERIFY(text.startsWith("[Desktop Entry]\n"));
        QVERIFY(text.contains("\nExec=/opt/casalux/casalux --home \"/srv/my home\"\n"));

        rig.options.loadWithWindowsClicked(false);
        QCOMPARE(rig.status.activity.last(),
                 QStringLiteral("Casalux will no longer start when you log in"));
        QCOMPARE(rig.settings.read(settingkeys::lww), QStringLiteral("0"));
        QCOMPARE(rig.settings.read(settingkeys::runAtLogon), QString());
        QVERIFY(!rig.autostart.exists());
        QVERIFY(!rig.options.loadWithWindowsTicked());
    }

    void execLineQuoting_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << QStringList{"/usr/bin/casalux"} << "/usr/bin/casalux";
        QTest::newRow("space") << QStringList{"/opt/my apps/casalux"} << "\"/opt/my apps/casalux\"";
        QTest::newRow("quote, dollar, backslash")
            << QStringList{"/x", "a\"b$c\\d"} << "/x \"a\\\\\"b\\\\$c\\\\\\\\d\"";
        QTest::newRow("percent") << QStringList{"/x", "100%"} << "/x 100%%";
        QTest::newRow("empty argument") << QStringList{"/x", ""} << "/x \"\"";
    }
    void execLineQuoting()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, exec);
        QCOMPARE(AutostartEntry::execLine(arguments.first(), arguments.mid(1)), exec);
    }

    void delayedStartupRemindsOfTheService()
    {
        Rig rig;
        QCoro::waitFor(rig.options.delayedStartupClicked(true));
        QVERIFY(rig.options.delayedStartupTicked());
        QCOMPARE(rig.prompts.shown.size(), 1);
        QCOMPARE(rig.prompts.shown.last().title, QStringLiteral("Service Information"));
        QCoro::waitFor(rig.options.delayedStartupClicked(false));
        QCOMPARE(rig.settings.read(settingkeys::startupDelay), QStringLiteral("notdelayed"));
        QCOMPARE(rig.prompts.shown.size(), 1);
    }

    // A second copy waits five seconds for the first to go, then gives up;
    // a phrase reaches the copy that runs.
    void oneCopyAtATime()
    {
        Clock::instance().start(QDateTime::currentDateTime(), 50);
        const QString key =
            QStringLiteral("casalux-test-%1").arg(QCoreApplication::applicationPid());
        auto first = std::make_unique<SingleInstance>(key);
        QVERIFY(QCoro::waitFor(first->claim()));
        QVERIFY(first->claimed());

        SingleInstance second(key);
        QVERIFY(second.otherRunning());
        QVERIFY(!QCoro::waitFor(second.claim()));
        QVERIFY(!second.claimed());

        QSignalSpy phrases(first.get(), &SingleInstance::phraseReceived);
        QVERIFY(second.sendPhrase(QStringLiteral("  Cancel   Lounge Lamp ")));
        QTRY_COMPARE(phrases.size(), 1);
        QCOMPARE(phrases.first().first().toString(), QStringLiteral("Cancel Lounge Lamp"));

        // The first copy gone during the second's wait: the second goes on.
        SingleInstance third(key);
        auto claim = third.claim();
        QTimer::singleShot(20, [&first] { first.reset(); });
        QVERIFY(QCoro::waitFor(claim));
        QVERIFY(third.claimed());
        Clock::instance().useSystemTime();
    }

    // Two copies started together: the first has its claim but does not
    // listen yet, so the second finds nobody on the socket; it still may
    // not run until the first is gone.
    void aClaimNotYetListeningKeepsASecondCopyOut()
    {
        Clock::instance().start(QDateTime::currentDateTime(), 50);
        const QString key =
            QStringLiteral("casalux-race-%1").arg(QCoreApplication::applicationPid());
        QLockFile first(SingleInstance::lockPath(key));
        QVERIFY(first.tryLock(0));
        SingleInstance second(key);
        QVERIFY(!second.otherRunning());
        QVERIFY(!QCoro::waitFor(second.claim()));
        QVERIFY(!second.claimed());
        first.unlock();
        QVERIFY(QCoro::waitFor(second.claim()));
        QVERIFY(second.claimed());
        Clock::instance().useSystemTime();
    }

    void staleSocketIsTakenOver()
    {
        const QString key =
            QStringLiteral("casalux-stale-%1").arg(QCoreApplication::applicationPid());
        // A socket file nobody listens on, as a crashed copy leaves it.
        QLocalServer crashed;
        QVERIFY(crashed.listen(key));
        const QString path = crashed.fullServerName();
        crashed.close();
        QFile leftover(path);
        QVERIFY(leftover.open(QIODevice::WriteOnly)); // the file stays, the listener is gone
        leftover.close();
        SingleInstance copy(key);
        QVERIFY(!copy.otherRunning());
        QVERIFY(QCoro::waitFor(copy.claim()));
        QVERIFY(copy.claimed());
        QVERIFY(SingleInstance(key).sendPhrase(QStringLiteral("Hall Light"), 1000));
    }
};

QTEST_GUILESS_MAIN(TestStartupOptions)
#include "tst_startupoptions.moc"
