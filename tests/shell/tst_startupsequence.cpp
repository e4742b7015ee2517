#include "home/settingsstore.h"
#include "platform/clock.h"
#include "platform/servicemanager.h"
#include "platform/singleinstance.h"
#include "recordingstatus.h"
#include "scriptedinterface.h"
#include "shell/startuphost.h"
#include "shell/startupsequence.h"
#include "temphome.h"

#include <QtTest>

#include <optional>

using namespace casalux;

namespace {

// Everything the sequence does, in order, in one log: the host's steps,
// the service calls and the interface's close.
struct Log {
    QStringList lines;
    void add(const QString& line) { lines.append(line); }
    qsizetype at(const QString& line) const { return lines.indexOf(line); }
};

struct RecordingHost final : StartupHost {
    Log& log;
    SettingsStore& settings;
    bool ticked = false;
    std::function<void()> onProgress;
    RecordingHost(Log& l, SettingsStore& s) : log(l), settings(s) {}

    void showWait(const QString& heading) override
    {
        // The engine's signal as it stands when the wait window appears.
        log.add(QStringLiteral("wait %1 closeengine=%2")
                    .arg(heading, settings.read(settingkeys::closeengine)));
    }
    void setWaitProgress(const QString& text) override
    {
        log.add(text);
        if (onProgress)
            onProgress();
    }
    void showSkipLink(bool shown) override
    {
        log.add(shown ? "skip link shown" : "skip link hidden");
    }
    void closeWait() override { log.add(QStringLiteral("close wait")); }
    void suppressHandlers(bool options, bool settingsHandlers) override
    {
        log.add(QStringLiteral("suppress %1 %2").arg(options).arg(settingsHandlers));
    }
    void endProgram() override { log.add(QStringLiteral("end program")); }
    void showWebPort(const QString& port) override { log.add(QLatin1String("web port ") + port); }
    void loadlists() override { log.add(QStringLiteral("loadlists")); }
    void initagent() override { log.add(QStringLiteral("initagent")); }
    void loadtree() override { log.add(QStringLiteral("loadtree")); }
    void loadOptions() override { log.add(QStringLiteral("options")); }
    void loadEventsAndSunTimes() override { log.add(QStringLiteral("events")); }
    void startTimers() override { log.add(QStringLiteral("timers")); }
    void restoreWindowOnScreen() override { log.add(QStringLiteral("window restored")); }
    void saveWindowPosition() override { log.add(QStringLiteral("position saved")); }
    bool serviceTicked() const override { return ticked; }
};

struct ScriptedService final : ServiceManager {
    Log& log;
    QStringList statuses; // answered in turn; the last one stays
    explicit ScriptedService(Log& l) : log(l) {}
    QCoro::Task<bool> install() override { co_return true; }
    QCoro::Task<bool> remove() override { co_return true; }
    QCoro::Task<bool> start() override
    {
        log.add(QStringLiteral("service start"));
        co_return true;
    }
    QCoro::Task<bool> stop() override
    {
        log.add(QStringLiteral("service stop"));
        co_return true;
    }
    QCoro::Task<QString> status() override
    {
        co_return statuses.size() > 1 ? statuses.takeFirst() : statuses.value(0);
    }
};

struct LoggingInterface final : test::ScriptedInterface {
    Log& log;
    QList<bool> closeAnswers;
    explicit LoggingInterface(Log& l) : log(l) {}
    bool close() override
    {
        log.add(QStringLiteral("interface closed"));
        return closeAnswers.isEmpty() ? true : closeAnswers.takeFirst();
    }
};

} // namespace

class TestStartupSequence : public QObject {
    Q_OBJECT

    struct Rig : test::TempHome {
        Log log;
        RecordingHost host{log, settings};
        ScriptedService service{log};
        SingleInstance instance{QStringLiteral("casalux-seq-%1-%2")
                                    .arg(QCoreApplication::applicationPid())
                                    .arg(quintptr(this))};
        LoggingInterface control{log};
        test::RecordingStatus status;
        StartupSequence sequence{host, settings, service, instance, control, status};
    };

private Q_SLOTS:
    void init() { Clock::instance().start(QDateTime::currentDateTime(), 200); }
    void cleanup() { Clock::instance().useSystemTime(); }

    void startsInTheHandOverOrder()
    {
        Rig rig;
        rig.settings.write(settingkeys::webport, QStringLiteral("8080"));
        rig.service.statuses = {QStringLiteral("Running"), QStringLiteral("Stop Pending"),
                                QStringLiteral("Stopped")};
        QVERIFY(QCoro::waitFor(rig.sequence.start()));
        QCOMPARE(rig.log.lines, (QStringList{"wait Casalux - Starting closeengine=False",
                                             "suppress 1 1",
                                             "service stop",
                                             "Stopping Service",
                                             "service stop",
                                             "Stopping Service",
                                             "web port 8080",
                                             "Loading Lists",
                                             "loadlists",
                                             "Loading MsAgent",
                                             "initagent",
                                             "Loading Devices",
                                             "loadtree",
                                             "Loading Options",
                                             "options",
                                             "Loading Events",
                                             "events",
                                             "timers",
                                             "suppress 1 0",
                                             "close wait"}));
        QCOMPARE(rig.settings.read(settingkeys::closeengine), QStringLiteral("True"));
        QCOMPARE(rig.settings.read(settingkeys::installing), QStringLiteral("False"));
        QVERIFY(rig.instance.claimed());
    }

    void anEngineThatWillNotStopIsLeftAfterThreeTries()
    {
        Rig rig;
        rig.service.statuses = {QStringLiteral("Running")};
        QVERIFY(QCoro::waitFor(rig.sequence.start()));
        QCOMPARE(rig.log.lines.count(QStringLiteral("service stop")), 3);
        QVERIFY(rig.log.at(QStringLiteral("loadlists")) > 0);
    }

    void delayedStartCountsDownOrIsSkipped()
    {
        Rig rig;
        rig.settings.SaveString(SettingsStore::Root::LocalMachine,
                                QString::fromLatin1(settingkeys::currentVersionPath),
                                QStringLiteral("Casaluxdelay"), QStringLiteral("delayed"));
        QVERIFY(QCoro::waitFor(rig.sequence.start()));
        QStringList countdown;
        for (const QString& line : rig.log.lines) {
            if (line.startsWith(QLatin1String("Time Delay ")))
                countdown.append(line.mid(11));
        }
        QCOMPARE(countdown.size(), 21);
        QCOMPARE(countdown.first(), QStringLiteral("20"));
        QCOMPARE(countdown.last(), QStringLiteral("0"));
        QVERIFY(rig.log.at(QStringLiteral("skip link shown")) <
                rig.log.at(QStringLiteral("Time Delay 20")));
        QVERIFY(rig.log.at(QStringLiteral("skip link hidden")) <
                rig.log.at(QStringLiteral("loadlists")));

        Rig skipped;
        skipped.settings.SaveString(SettingsStore::Root::LocalMachine,
                                    QString::fromLatin1(settingkeys::currentVersionPath),
                                    QStringLiteral("Casaluxdelay"), QStringLiteral("delayed"));
        skipped.host.onProgress = [&skipped] {
            if (skipped.log.lines.last() == QLatin1String("Time Delay 17"))
                skipped.sequence.skipWait();
        };
        QVERIFY(QCoro::waitFor(skipped.sequence.start()));
        QVERIFY(skipped.log.at(QStringLiteral("Time Delay 16")) < 0);
        QVERIFY(skipped.log.at(QStringLiteral("skip link hidden")) > 0);
    }

    void aSecondCopyEndsWithoutLoading()
    {
        Rig rig;
        SingleInstance first(QStringLiteral("casalux-seq-%1-%2")
                                 .arg(QCoreApplication::applicationPid())
                                 .arg(quintptr(&rig)));
        QVERIFY(QCoro::waitFor(first.claim()));
        QVERIFY(!QCoro::waitFor(rig.sequence.start()));
        QCOMPARE(rig.log.lines.last(), QStringLiteral("end program"));
        QVERIFY(rig.log.at(QStringLiteral("loadlists")) < 0);
    }

    // Closed while starting (the stop loop, the countdown): loading stops
    // there and opens nothing, and the engine is started once and left
    // running, not stopped again by the start-up's next stop request.
    void shutdownDuringStartUpStopsItAndRestartsTheEngine_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<bool>("delayed");
        QTest::newRow("stop loop") << "Stopping Service" << false;
        QTest::newRow("countdown") << "Time Delay 15" << true;
    }
    void shutdownDuringStartUpStopsItAndRestartsTheEngine()
    {
        QFETCH(QString, trigger);
        QFETCH(bool, delayed);
        Rig rig;
        rig.host.ticked = true;
        if (delayed) {
            rig.settings.SaveString(SettingsStore::Root::LocalMachine,
                                    QString::fromLatin1(settingkeys::currentVersionPath),
                                    QStringLiteral("Casaluxdelay"), QStringLiteral("delayed"));
            rig.service.statuses = {QStringLiteral("Stopped"), QStringLiteral("Running")};
        } else {
            rig.service.statuses = {QStringLiteral("Running")};
        }
        std::optional<QCoro::Task<>> closing;
        rig.host.onProgress = [&] {
            if (!closing && rig.log.lines.last() == trigger)
                closing.emplace(rig.sequence.shutdown());
        };
        QVERIFY(!QCoro::waitFor(rig.sequence.start()));
        QVERIFY(closing);
        QCoro::waitFor(*closing);
        QCOMPARE(rig.log.at(QStringLiteral("loadlists")), -1);
        QCOMPARE(rig.log.at(QStringLiteral("timers")), -1);
        const qsizetype started = rig.log.at(QStringLiteral("service start"));
        QVERIFY2(started > 0, qPrintable(rig.log.lines.join(QLatin1Char('\n'))));
        QVERIFY2(rig.log.lines.lastIndexOf(QStringLiteral("service stop")) < started,
                 qPrintable(rig.log.lines.join(QLatin1Char('\n'))));
        QCOMPARE(rig.log.lines.last(), QStringLiteral("close wait"));
        QCOMPARE(rig.settings.read(settingkeys::closeengine), QStringLiteral("False"));
    }

    // Closed while waiting to see whether another copy ends: that copy
    // runs on and owns the interface, so the engine is not started.
    void shutdownDuringTheSecondCopyWaitLeavesTheEngineAlone()
    {
        Rig rig;
        rig.host.ticked = true;
        SingleInstance first(QStringLiteral("casalux-seq-%1-%2")
                                 .arg(QCoreApplication::applicationPid())
                                 .arg(quintptr(&rig)));
        QVERIFY(QCoro::waitFor(first.claim()));
        auto start = rig.sequence.start();
        QCoro::waitFor(Clock::instance().sleep(1)); // into the 5-second wait
        QVERIFY(!start.isReady());
        QCoro::waitFor(rig.sequence.shutdown());
        QVERIFY(!QCoro::waitFor(start));
        QVERIFY2(rig.log.at(QStringLiteral("service start")) < 0,
                 qPrintable(rig.log.lines.join(QLatin1Char('\n'))));
        QVERIFY(rig.log.at(QStringLiteral("loadlists")) < 0);
        QVERIFY(rig.log.at(QStringLiteral("interface closed")) < 0);
    }

    void shutdownHandsTheInterfaceBack()
    {
        Rig rig;
        rig.settings.write(settingkeys::closeengine, QStringLiteral("True"));
        rig.host.ticked = true;
        rig.control.closeAnswers = {false, true};
        rig.service.statuses = {QStringLiteral("Stopped"), QStringLiteral("Running")};
        QCoro::waitFor(rig.sequence.shutdown());
        QCOMPARE(rig.log.lines,
                 (QStringList{"wait Casalux - Closing closeengine=False", "Saving Data",
                              "window restored", "Closing Port", "interface closed",
                              "interface closed", "position saved", "Starting Service",
                              "service start", "service start", "Finished", "close wait"}));
        QCOMPARE(rig.status.activity, QStringList{"Closing communications, please wait"});

        Rig unticked;
        QCoro::waitFor(unticked.sequence.shutdown());
        QVERIFY(unticked.log.at(QStringLiteral("service start")) < 0);
        QCOMPARE(unticked.log.lines.count(QStringLiteral("interface closed")), 1);
    }
};

QTEST_GUILESS_MAIN(TestStartupSequence)
#include "tst_startupsequence.moc"
