#include "corefixture.h"
#include "home/settingkeys.h"
#include "home/settingsstore.h"
#include "home/textlistfile.h"
#include "platform/busymark.h"
#include "platform/clock.h"
#include "schedule/eventlist.h"
#include "schedule/eventrecord.h"
#include "schedule/eventscheduler.h"
#include "schedule/suntimes.h"
#include "scriptedprompts.h"

#include <QtTest>

using namespace casalux;
using test::crlf;

namespace {

// 5 March 2026 is a Thursday.
const QDate thursday(2026, 3, 5);

} // namespace

class TestEventScheduler : public QObject {
    Q_OBJECT

    // The core's scheduler with what a program adds to it: the sun's times,
    // prompts and the hooks it calls.
    struct Scheduling : test::CoreFixture {
        SunTimes sun{settings};
        test::ScriptedPrompts prompts;
        int quits = 0;
        int firstRuns = 0;
        int reloads = 0;

        explicit Scheduling(SchedulerPolicy policy = SchedulerPolicy::desktop())
            : test::CoreFixture(hostFor(policy))
        {
            settings.write(settingkeys::run1, QStringLiteral("True"));
            core.scheduler.setSunTimes(&sun);
            core.scheduler.setPrompts(&prompts);
            core.scheduler.setQuitHook([this] { ++quits; });
            core.scheduler.setFirstRunHook([this] { ++firstRuns; });
            core.scheduler.setReloadHook([this] { ++reloads; });
        }
        ~Scheduling() { QVERIFY(!core.filebusy.isHeld()); }
        // The host whose policies go with the scheduler's.
        static HomeCore::Host hostFor(SchedulerPolicy policy)
        {
            HomeCore::Host host = policy.statusTexts ? desktop() : engine();
            host.scheduler = policy;
            return host;
        }

        void write(const QStringList& lines) { folder.write(QStringLiteral("evelst.rvf"), crlf(lines)); }
        QByteArray list() const { return folder.read(QStringLiteral("evelst.rvf")); }
        void tickAt(const QDate& date, const QTime& time)
        {
            Clock::instance().freeze(QDateTime(date, time), 1000);
            QCoro::waitFor(core.scheduler.minuteTick());
        }
    };

private Q_SLOTS:
    void cleanup() { Clock::instance().useSystemTime(); }

    void eventFiresOnceInItsMinute()
    {
        Scheduling rig;
        rig.write({QStringLiteral("Lounge Lamp~A~3~60~07:30~on~daily~mtwufsr")});
        rig.tickAt(thursday, QTime(7, 29, 0, 500));
        QVERIFY(rig.sent().isEmpty());
        rig.tickAt(thursday, QTime(7, 30, 0, 500));
        QCOMPARE(rig.sent(), (QStringList{"A3 2 0", "A3 5 100", "A3 4 40"}));
        QVERIFY(rig.core.deviceStatus.getlaststatus(QStringLiteral("Lounge Lamp")));
        QVERIFY(rig.status.activity.contains(
            QStringLiteral("Timer, found match with 07:30 and 07:30")));
        // A second tick landing in the same minute does not fire it again.
        rig.tickAt(thursday, QTime(7, 30, 59));
        rig.tickAt(thursday, QTime(7, 31, 0, 500));
        QCOMPARE(rig.sent().size(), 3);
        // Next day, same minute: it fires again.
        rig.tickAt(thursday.addDays(1), QTime(7, 30, 0, 500));
        QCOMPARE(rig.sent().size(), 6);
    }

    // One tick at the given date and minute over a one-line list.
    void dueAndWeekday_data()
    {
        QTest::addColumn<bool>("engine");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QStringList>("sent");

        const QTime half7(7, 30, 0, 500);
        QTest::newRow("empty days never fire")
            << false << "Lounge Lamp~A~3~60~07:30~on~daily~" << thursday << half7 << QStringList();
        QTest::newRow("On with a capital O switches off")
            << false << "Lounge Lamp~A~3~60~07:30~On~daily~mtwufsr" << thursday << half7
            << QStringList{"A3 3 20"};
        QTest::newRow("days in capitals allow Saturday")
            << false << "Lounge Lamp~A~3~ ~07:30~off~daily~MTWUFSR" << thursday.addDays(2)
            << half7 << QStringList{"A3 3 20"};
        QTest::newRow("Sunday only, on Thursday")
            << false << "Lounge Lamp~A~3~ ~07:30~off~daily~r" << thursday << half7
            << QStringList();
        QTest::newRow("full dim is a plain on")
            << false << "Hall Light~B~12~100~07:30~on~daily~u" << thursday << half7
            << QStringList{"B12 2 20"};
        QTest::newRow("desktop reads 7:30 as 07:30")
            << false << "Lounge Lamp~A~3~ ~7:30~off~daily~u" << thursday << half7
            << QStringList{"A3 3 20"};
        QTest::newRow("engine wants the time text exactly")
            << true << "Lounge Lamp~A~3~ ~7:30~off~daily~u" << thursday << half7 << QStringList();
        QTest::newRow("engine on Thursday")
            << true << "Lounge Lamp~A~3~ ~07:30~off~daily~u" << thursday << half7
            << QStringList{"A3 3 20"};
        // London on 5 March 2026 sets at 17:46 (no summer time).
        QTest::newRow("desktop fires at sunset")
            << false << "Lounge Lamp~A~3~ ~sSet:00~off~daily~u" << thursday << QTime(17, 46, 1)
            << QStringList{"A3 3 20"};
        QTest::newRow("engine never fires sun events")
            << true << "Lounge Lamp~A~3~ ~sSet:00~off~daily~u" << thursday << QTime(17, 46, 1)
            << QStringList();
    }
    void dueAndWeekday()
    {
        QFETCH(bool, engine);
        QFETCH(QString, line);
        QFETCH(QDate, date);
        QFETCH(QTime, time);
        Scheduling rig(engine ? SchedulerPolicy::engine() : SchedulerPolicy::desktop());
        Clock::instance().freeze(QDateTime(date, QTime(0, 0, 5)), 1000);
        rig.sun.dosunset();
        rig.write({line});
        rig.tickAt(date, time);
        QTEST(rig.sent(), "sent");
        if (engine)
            QVERIFY(rig.status.activity.isEmpty());
    }

    void sunRelativeTimes_data()
    {
        QTest::addColumn<QString>("time");
        QTest::addColumn<QTime>("sunrise");
        QTest::addColumn<QTime>("sunset");
        QTest::addColumn<QString>("due");

        const QTime rise(7, 5, 40);
        const QTime set(16, 32, 59);
        QTest::newRow("sSet:-1") << "sSet:-1" << rise << set << "15:32";
        QTest::newRow("sSet:00") << "sSet:00" << rise << set << "16:32";
        QTest::newRow("sSet:+3") << "sSet:+3" << rise << set << "19:32";
        QTest::newRow("sRise:+1") << "sRise:+1" << rise << set << "08:05";
        QTest::newRow("sRise:-3") << "sRise:-3" << rise << set << "04:05";
        QTest::newRow("letter case ignored") << "SSET:+1" << rise << set << "17:32";
        QTest::newRow("wraps past midnight") << "sSet:+2" << rise << QTime(23, 10) << "01:10";
        QTest::newRow("wraps back before midnight") << "sRise:-3" << QTime(1, 15) << set << "22:15";
        QTest::newRow("no sunset today") << "sSet:00" << rise << QTime() << "";
        QTest::newRow("offset unreadable") << "sSet:" << rise << set << "";
        QTest::newRow("clock time") << "22:05" << rise << set << "22:05";
        QTest::newRow("not a time") << "later" << rise << set << "";
    }
    void sunRelativeTimes()
    {
        QFETCH(QString, time);
        QFETCH(QTime, sunrise);
        QFETCH(QTime, sunset);
        EventRecord event;
        event.time = time;
        const auto at = [&](const QTime& t) {
            return t.isValid() ? QDateTime(thursday, t) : QDateTime();
        };
        const auto due = EventScheduler::dueTime(event, true, at(sunrise), at(sunset));
        QTEST(due.value_or(QString()), "due");
    }

    void twoEventsInOneMinuteInFileOrder()
    {
        Scheduling rig;
        rig.write({QStringLiteral("Hall Light~B~12~ ~22:00~off~daily~u"),
                   QStringLiteral("Lounge Lamp~A~3~60~21:59~on~daily~u"),
                   QStringLiteral("Lounge Lamp~A~3~100~22:00~on~daily~u")});
        rig.tickAt(thursday, QTime(22, 0, 0, 500));
        QCOMPARE(rig.sent(), (QStringList{"B12 3 20", "A3 2 20"}));
    }

    // A malformed line is skipped and the mark let go; the good lines fire.
    void malformedLinesAreSkipped()
    {
        Scheduling rig;
        rig.write({QStringLiteral("Hall Light~B~x~ ~22:00~off~daily~u"), QString(),
                   QStringLiteral("nonsense"), QStringLiteral("Lounge Lamp~A~3~ ~22:00~off~daily~u")});
        rig.tickAt(thursday, QTime(22, 0, 1));
        QCOMPARE(rig.sent(), QStringList{"A3 3 20"});
    }

    void missingListRunsNothing()
    {
        Scheduling rig;
        rig.tickAt(thursday, QTime(22, 0, 1));
        QCOMPARE(rig.status.activity.last(), QStringLiteral("Timer running, no events to run."));
        QVERIFY(!rig.folder.exists(QStringLiteral("evelst.rvf")));
    }

    void tickWaitsForFilebusy()
    {
        Scheduling rig;
        rig.write({QStringLiteral("Lounge Lamp~A~3~ ~22:00~off~daily~u")});
        Clock::instance().freeze(QDateTime(thursday, QTime(22, 0, 1)), 1000);
        auto hold = rig.core.filebusy.tryTake();
        auto tick = rig.core.scheduler.minuteTick();
        QTest::qWait(20);
        QVERIFY(rig.sent().isEmpty());
        hold->release();
        QCoro::waitFor(tick);
        QCOMPARE(rig.sent(), QStringList{"A3 3 20"});
    }

    void onceEventsQueueAndGo()
    {
        Scheduling rig;
        const QString once = QStringLiteral("Lounge Lamp~A~3~ ~sSet:+1~off~once~u");
        const QString before = QStringLiteral("Hall Light~B~12~ ~22:00~off~daily~u");
        const QString after = QStringLiteral("Lounge Lamp~A~3~ ~sSet:+1~off~daily~u");
        rig.write({before, once, after});
        Clock::instance().freeze(QDateTime(thursday, QTime(0, 0, 5)), 1000);
        rig.sun.dosunset(); // 17:46
        rig.tickAt(thursday, QTime(18, 46, 3));
        QCOMPARE(rig.sent(), (QStringList{"A3 3 20", "A3 3 20"}));
        QCOMPARE(rig.core.scheduler.pendingdeletes().at(1), once);
        QVERIFY(rig.core.scheduler.pendingdeletes().at(0).isEmpty());

        QCoro::waitFor(rig.core.scheduler.timerdelete());
        QCOMPARE(rig.list(), crlf({before, after}));
        QVERIFY(rig.core.scheduler.pendingdeletes().at(1).isEmpty());
        QCOMPARE(rig.reloads, 1);
        QVERIFY(rig.status.activity.contains(QStringLiteral("Old event deleted at 18:46")));
        QVERIFY(!rig.folder.exists(QStringLiteral("temp.txt")));
    }

    // A once-event goes by its line as it stands in the file: a unit
    // written by hand with a leading zero is still found, so the event does
    // not fire again the next day.
    void onceEventRemovedByItsOwnLine()
    {
        Scheduling rig;
        const QString once = QStringLiteral("Porch Light~C~07~ ~19:00~off~once~mtwufsr");
        const QString daily = QStringLiteral("Hall Light~B~12~ ~19:00~off~daily~mtwufsr");
        rig.write({once, daily});
        rig.tickAt(thursday, QTime(19, 0, 1));
        QCOMPARE(rig.sent(), (QStringList{"C7 3 20", "B12 3 20"}));
        QCOMPARE(rig.core.scheduler.pendingdeletes().at(1), once);
        QCoro::waitFor(rig.core.scheduler.timerdelete());
        QCOMPARE(rig.list(), crlf({daily}));
        QVERIFY(rig.core.scheduler.pendingdeletes().at(1).isEmpty());

        rig.tickAt(thursday.addDays(1), QTime(19, 0, 1));
        QCOMPARE(rig.sent(), (QStringList{"C7 3 20", "B12 3 20", "B12 3 20"}));
    }

    // Real timers on a fast clock: a once-event due on a day its days do not
    // allow is not fired, and is gone from the list within about 14 seconds.
    void onceEventOnDisallowedDayRemovedByTimers()
    {
        Scheduling rig;
        const QStringList others{QStringLiteral("Hall Light~B~12~ ~22:00~off~daily~u"),
                                 QStringLiteral("Lounge Lamp~A~3~100~07:31~on~daily~mtwufsr")};
        rig.write({others.at(0), QStringLiteral("Lounge Lamp~A~3~60~07:30~on~once~m"), others.at(1)});
        QDateTime removedAt;
        rig.core.scheduler.setReloadHook([&] { removedAt = Clock::instance().now(); });

        Clock::instance().start(QDateTime(thursday, QTime(7, 29, 50)), 50);
        rig.core.scheduler.armEventTimer();
        rig.core.scheduler.armRemovalTimer();
        QTRY_VERIFY_WITH_TIMEOUT(removedAt.isValid(), 5000);
        rig.core.scheduler.stop();

        QCOMPARE(rig.list(), crlf(others));
        QVERIFY(rig.sent().isEmpty());
        const QDateTime due(thursday, QTime(7, 30));
        // On the removal tick after the firing minute, well before the next
        // minute's tick (room left for a loaded machine's late timers).
        QVERIFY2(removedAt < due.addSecs(40), qPrintable(removedAt.toString(Qt::ISODate)));
        QTRY_VERIFY(!rig.core.filebusy.isHeld());
    }

    // Eleven due once-events: the desktop queues ten (slots 1..10), the
    // engine eleven (slots 0..10); the rest stay in the list for now.
    void pendingSlots_data()
    {
        QTest::addColumn<bool>("engine");
        QTest::addColumn<int>("queued");
        QTest::addColumn<int>("first");
        QTest::newRow("desktop") << false << 10 << 1;
        QTest::newRow("engine") << true << 11 << 0;
    }
    void pendingSlots()
    {
        QFETCH(bool, engine);
        QFETCH(int, queued);
        QFETCH(int, first);
        Scheduling rig(engine ? SchedulerPolicy::engine() : SchedulerPolicy::desktop());
        QStringList lines;
        for (int unit = 1; unit <= 12; ++unit)
            lines.append(QStringLiteral("Hall Light~B~%1~ ~22:00~off~once~r").arg(unit));
        rig.write(lines);
        rig.tickAt(thursday, QTime(22, 0, 1));
        const auto& slots = rig.core.scheduler.pendingdeletes();
        QCOMPARE(std::count_if(slots.begin(), slots.end(), [](const QString& s) { return !s.isEmpty(); }),
                 queued);
        QCOMPARE(slots.at(static_cast<size_t>(first)), lines.first());

        QCoro::waitFor(rig.core.scheduler.timerdelete());
        QCOMPARE(rig.list(), crlf(lines.mid(queued)));
    }

    // A list that cannot be rewritten keeps its slot for the next turn.
    void removalRetriesAfterAFailedRewrite()
    {
        Scheduling rig;
        const QString once = QStringLiteral("Hall Light~B~2~ ~22:00~off~once~r");
        rig.write({once});
        rig.tickAt(thursday, QTime(22, 0, 1));
        TextListFile::setRenameForTesting([](const QString&, const QString&) { return false; });
        QCoro::waitFor(rig.core.scheduler.timerdelete());
        TextListFile::setRenameForTesting({});
        QCOMPARE(rig.list(), crlf({once}));
        QVERIFY(!rig.core.scheduler.pendingdeletes().at(1).isEmpty());
        QCoro::waitFor(rig.core.scheduler.timerdelete());
        QCOMPARE(rig.list(), QByteArray());
    }

    void removalSkipsItsTurnWhileTheListIsBusy()
    {
        Scheduling rig;
        rig.write({QStringLiteral("Hall Light~B~2~ ~22:00~off~once~r")});
        rig.tickAt(thursday, QTime(22, 0, 1));
        auto hold = rig.core.filebusy.tryTake();
        QCoro::waitFor(rig.core.scheduler.timerdelete());
        QVERIFY(!rig.core.scheduler.pendingdeletes().at(1).isEmpty());
        hold->release();
        QCoro::waitFor(rig.core.scheduler.timerdelete());
        QVERIFY(rig.core.scheduler.pendingdeletes().at(1).isEmpty());
    }

    void roomViewFollowsFiredEvents_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("changes");
        QTest::newRow("shown device, on") << "Lounge Lamp~A~3~60~22:00~on~daily~u"
                                          << QStringList{"on 1 LoungeLamp", "slider 1 60"};
        QTest::newRow("shown device, off") << "lounge lamp~A~3~ ~22:00~off~daily~u"
                                           << QStringList{"off 1 loungelamp", "slider 1 20"};
        QTest::newRow("device of another room") << "Hall Lamp~A~4~ ~22:00~off~daily~u"
                                                << QStringList();
        // Only the device's own slot: not one whose name is part of its name,
        // nor one of a room whose name holds the shown room's.
        QTest::newRow("a name that holds another") << "Lounge Lamp 2~A~5~ ~22:00~on~daily~u"
                                                   << QStringList{"on 2 LoungeLamp2", "slider 2 100"};
        QTest::newRow("a room that holds another") << "Big Lounge Lamp~A~6~ ~22:00~on~daily~u"
                                                   << QStringList();
        QTest::newRow("not fired today") << "Lounge Lamp~A~3~ ~22:00~off~daily~m"
                                         << QStringList();
    }
    void roomViewFollowsFiredEvents()
    {
        QFETCH(QString, line);
        Scheduling rig;
        rig.view.room = QStringLiteral("Lounge");
        rig.view.names = {QStringLiteral("Fan"), QStringLiteral("Lamp"), QStringLiteral("Lamp 2")};
        rig.write({line});
        rig.tickAt(thursday, QTime(22, 0, 1));
        QTEST(rig.view.changes, "changes");
    }

    // An event the interface could not carry out records nothing and
    // redraws nothing; the next event of the same minute is still tried.
    void eventNotSentChangesNothing()
    {
        Scheduling rig;
        rig.view.room = QStringLiteral("Lounge");
        rig.view.names = {QStringLiteral("Fan"), QStringLiteral("Lamp")};
        rig.core.deviceStatus.setstatus(QStringLiteral("LoungeLamp"), QStringLiteral("on"), QString());
        rig.write({QStringLiteral("Lounge Lamp~A~3~ ~22:00~off~daily~mtwufsr"),
                   QStringLiteral("Lounge Fan~A~4~ ~22:00~on~daily~mtwufsr")});
        rig.control.setSendResult(false);
        rig.tickAt(thursday, QTime(22, 0, 1));
        QCOMPARE(rig.sent(), (QStringList{"A3 3 20", "A4 2 20"}));
        QVERIFY(rig.core.deviceStatus.getlaststatus(QStringLiteral("LoungeLamp")));
        QCOMPARE(rig.machineValue(QStringLiteral("LoungeFan")), QString());
        QVERIFY(rig.view.changes.isEmpty());
        QCOMPARE(rig.status.activity.last(),
                 QStringLiteral("Could not send ON to device with housecode A4 at 22:00:01: "
                                "the X10 interface did not answer"));
    }

    void firstRunAndInstallingQuit()
    {
        Scheduling rig;
        rig.settings.write(settingkeys::run1, QStringLiteral("False"));
        rig.write({QStringLiteral("Lounge Lamp~A~3~ ~22:00~off~daily~u")});
        rig.core.scheduler.armEventTimer();
        rig.tickAt(thursday, QTime(21, 59, 1));
        QCOMPARE(rig.firstRuns, 1);
        QCOMPARE(rig.settings.read(settingkeys::run1), QStringLiteral("True"));
        QVERIFY(rig.core.scheduler.eventTimerActive());

        // Another program raises the flag: the next tick quits instead of firing.
        SettingsStore other(rig.folder.file(QStringLiteral("machine.ini")),
                            rig.folder.file(QStringLiteral("user")));
        other.write(settingkeys::installing, QStringLiteral("True"));
        rig.tickAt(thursday, QTime(22, 0, 1));
        QCOMPARE(rig.firstRuns, 1);
        QCOMPARE(rig.quits, 1);
        QVERIFY(rig.sent().isEmpty());
        QVERIFY(!rig.core.scheduler.eventTimerActive());
    }

    // The states of the events of one tick: one rewrite of machine.ini, and
    // the other program sees them all once the tick is over.
    void statesOfATickInOneRewrite()
    {
        Scheduling rig(SchedulerPolicy::engine()); // no pause after each command
        QStringList lines;
        for (int unit = 1; unit <= 6; ++unit)
            lines.append(QStringLiteral("Hall Lamp %1~B~%1~ ~22:00~off~daily~u").arg(unit));
        lines.append(QStringLiteral("Lounge Lamp~A~3~60~22:00~on~daily~u"));
        rig.write(lines);
        rig.core.deviceStatus.setstatus(QStringLiteral("Hall Lamp 1"), QStringLiteral("on"), QString());
        const quint64 before = rig.settings.rewrites();
        rig.tickAt(thursday, QTime(22, 0, 1));
        QCOMPARE(rig.sent().size(), 6 + 3);
        QCOMPARE(rig.settings.rewrites(), before + 1);
        SettingsStore engine(rig.folder.file(QStringLiteral("machine.ini")),
                             rig.folder.file(QStringLiteral("user")));
        DeviceStatus seen(engine);
        QVERIFY(!seen.getlaststatus(QStringLiteral("Hall Lamp 1")));
        QCOMPARE(seen.level(QStringLiteral("Hall Lamp 6")), 20);
        QVERIFY(seen.getlaststatus(QStringLiteral("Lounge Lamp")));
        // The level it was sent at, not 100 minus it.
        QCOMPARE(seen.level(QStringLiteral("Lounge Lamp")), 60);
    }

    // Commands on the line take seconds: what the tick has recorded is on
    // disk while it waits for the next one, not only at its end.
    void statesReachTheDiskWhileTheTickWaits()
    {
        Scheduling rig;
        rig.control.setSendSeconds(300); // 0.3 s on the fast test clock
        rig.write({QStringLiteral("Hall Lamp~B~1~ ~22:00~on~daily~u"),
                   QStringLiteral("Porch Light~B~2~ ~22:00~off~daily~u")});
        rig.core.deviceStatus.setstatus(QStringLiteral("Porch Light"), QStringLiteral("on"), QString());
        Clock::instance().freeze(QDateTime(thursday, QTime(22, 0, 1)), 1000);
        auto tick = rig.core.scheduler.minuteTick();
        // The Hall Lamp is switched and the Porch Light's command is on the line.
        QTRY_VERIFY(rig.sent().contains(QStringLiteral("B2 3 20")));
        SettingsStore engine(rig.folder.file(QStringLiteral("machine.ini")),
                             rig.folder.file(QStringLiteral("user")));
        DeviceStatus seen(engine);
        QTRY_VERIFY((engine.sync(), seen.getlaststatus(QStringLiteral("Hall Lamp"))));
        QVERIFY(!tick.isReady());
        QVERIFY(seen.getlaststatus(QStringLiteral("Porch Light")));
        QCoro::waitFor(tick);
        engine.sync();
        QVERIFY(!seen.getlaststatus(QStringLiteral("Porch Light")));
        QVERIFY(!rig.settings.inBatch());
    }

    // A scheduler destroyed while its tick waits on the line: the tick ends
    // at its next step, and so does its batch, so later writes are not held.
    void tickOfADestroyedSchedulerEndsItsBatch()
    {
        Scheduling rig;
        rig.control.setSendSeconds(300);
        rig.write({QStringLiteral("Hall Lamp~B~1~ ~22:00~off~daily~u")});
        Clock::instance().freeze(QDateTime(thursday, QTime(22, 0, 1)), 1000);
        auto scheduler = std::make_unique<EventScheduler>(
            rig.core.events, rig.settings, rig.core.commands, rig.core.deviceStatus, rig.status,
            SchedulerPolicy::engine());
        auto tick = scheduler->minuteTick();
        QTRY_VERIFY(rig.sent().size() == 1);
        QVERIFY(rig.settings.inBatch());
        scheduler.reset();
        QCoro::waitFor(tick);
        QVERIFY(!rig.settings.inBatch());
        const quint64 before = rig.settings.rewrites();
        rig.settings.write(settingkeys::port, QStringLiteral("4"));
        QCOMPARE(rig.settings.rewrites(), before + 1);
    }

    // The engine takes the flag from the per-user settings only.
    void engineReadsInstallingPerUser()
    {
        Scheduling rig(SchedulerPolicy::engine());
        rig.settings.write(settingkeys::run1, QStringLiteral("False"));
        rig.settings.write(settingkeys::installing, QStringLiteral("True"));
        rig.tickAt(thursday, QTime(21, 59, 1));
        QCOMPARE(rig.quits, 0);
        QCOMPARE(rig.firstRuns, 0);
        rig.settings.write(settingkeys::userInstalling, QStringLiteral("True"));
        rig.tickAt(thursday, QTime(22, 0, 1));
        QCOMPARE(rig.quits, 1);
    }

    // The first tick comes at the start of the next minute, and each tick
    // re-arms for the start of the one after.
    void ticksStayOnTheMinute_data()
    {
        QTest::addColumn<QTime>("now");
        QTest::addColumn<int>("interval");
        QTest::newRow("armed at 10 s") << QTime(7, 29, 10) << 50500;
        QTest::newRow("tick on time") << QTime(7, 30, 0, 500) << 60000;
        QTest::newRow("tick 40 ms late") << QTime(7, 30, 0, 540) << 59960;
        QTest::newRow("tick 20 s late") << QTime(7, 30, 20, 500) << 40000;
    }
    void ticksStayOnTheMinute()
    {
        QFETCH(QTime, now);
        Scheduling rig;
        Clock::instance().freeze(QDateTime(thursday, now), 1);
        if (now.msec() == 0)
            rig.core.scheduler.armEventTimer();
        else
            QCoro::waitFor(rig.core.scheduler.minuteTick());
        QTEST(rig.core.scheduler.eventTimerInterval(), "interval");
        rig.core.scheduler.stop();
    }

    // The sun times follow the date: recomputed once on the first clock tick
    // of a new day, and also when the machine slept through midnight, so the
    // first tick comes hours later.
    void clockAndSunTimesOfANewDate()
    {
        Scheduling rig;
        QSignalSpy updated(&rig.core.scheduler, &EventScheduler::sunTimesUpdated);
        Clock::instance().freeze(QDateTime(thursday, QTime(7, 5, 0)), 1000);
        rig.sun.dosunset(); // at start-up
        Clock::instance().freeze(QDateTime(thursday, QTime(7, 5, 9)), 1000);
        rig.core.scheduler.timetimer();
        QCOMPARE(updated.count(), 0);
        QCOMPARE(rig.status.activity.last(), QStringLiteral("7:05:09"));
        QCOMPARE(rig.sun.sunset().toString(QStringLiteral("hh:mm")), QStringLiteral("17:46"));

        const QDate friday = thursday.addDays(1);
        Clock::instance().freeze(QDateTime(friday, QTime(0, 0, 42)), 1000);
        rig.core.scheduler.timetimer();
        QCOMPARE(updated.count(), 1);
        QCOMPARE(rig.sun.sunset().date(), friday);
        rig.core.scheduler.timetimer(); // once a day, not on every tick of the minute
        QCOMPARE(updated.count(), 1);

        // Asleep from Friday evening until Saturday morning.
        const QDate saturday = friday.addDays(1);
        Clock::instance().freeze(QDateTime(saturday, QTime(9, 12, 3)), 1000);
        rig.core.scheduler.timetimer();
        QCOMPARE(updated.count(), 2);
        QCOMPARE(rig.sun.sunrise().date(), saturday);
        QCOMPARE(rig.sun.sunset().date(), saturday);
        QCOMPARE(rig.status.ready, QStringList()); // the clock is panel 1, not the ready panel
    }

    // A minute tick that comes before any clock tick of the new day still
    // fires sun events by that day's times.
    void sunEventAfterSleepUsesTodaysTimes()
    {
        Scheduling rig;
        rig.write({QStringLiteral("Lounge Lamp~A~3~ ~sSet:00~off~daily~mtwufsr")});
        Clock::instance().freeze(QDateTime(thursday, QTime(7, 0)), 1000);
        rig.sun.dosunset();
        const QDate later = thursday.addDays(30);
        Clock::instance().freeze(QDateTime(later, QTime(12, 0)), 1000);
        SunTimes fresh(rig.settings);
        fresh.dosunset();
        const QTime sunset = fresh.sunset().time();
        QVERIFY(sunset.minute() != rig.sun.sunset().time().minute() ||
                sunset.hour() != rig.sun.sunset().time().hour());
        rig.tickAt(later, QTime(sunset.hour(), sunset.minute(), 1));
        QCOMPARE(rig.sent(), QStringList{"A3 3 20"});
    }

    // The tick passes over lines that cannot be due without reading them
    // in full; it must never pass over one that is. Every time text, as
    // either program reads it, against minutes it is and is not due at.
    void quickSkipNeverMissesADueLine_data()
    {
        QTest::addColumn<QString>("time");
        QTest::addColumn<bool>("sunEvents");
        QTest::addColumn<bool>("skipped"); // at 07:30 when not due there
        for (const bool sun : {true, false}) {
            const char* who = sun ? "desktop" : "engine";
            for (const char* time :
                 {"07:30", "7:30", " 7:30 ", "7:3", "07:05", "7:5", "00:00", "23:59", "24:00",
                  "7:60", "730", "07:30:00", "+7:30", "sSet:00", "SRISE:-1", "", " ", "x7:30"}) {
                // Plain digits of another minute; everything else goes the
                // full way in the desktop, and the engine skips all but "07:30".
                const bool skipped =
                    !sun ||
                    QList<QByteArray>{"07:05", "7:5", "7:3", "00:00", "23:59"}.contains(time);
                QTest::addRow("%s '%s'", who, time) << QString::fromLatin1(time) << sun << skipped;
            }
        }
    }
    void quickSkipNeverMissesADueLine()
    {
        QFETCH(QString, time);
        QFETCH(bool, sunEvents);
        QFETCH(bool, skipped);
        const QString line = QStringLiteral("Lamp~A~3~ ~%1~on~daily~mtwufsr").arg(time);
        QCOMPARE(EventRecord::timeField(line), QStringView(time));
        const auto event = EventRecord::parse(line);
        QVERIFY(event);
        const QDateTime sunrise(thursday, QTime(6, 30)), sunset(thursday, QTime(17, 46));
        const auto due = EventScheduler::dueTime(*event, sunEvents, sunrise, sunset);
        for (const QString& tick :
             {QStringLiteral("07:30"), QStringLiteral("07:05"), QStringLiteral("00:00"),
              QStringLiteral("23:59"), QStringLiteral("17:46"), QStringLiteral("05:30")}) {
            if (due == tick)
                QVERIFY2(!EventScheduler::notDueAt(EventRecord::timeField(line), sunEvents, tick),
                         qPrintable(tick));
        }
        // The plain clock times are passed over quickly at a minute they are
        // not due; the rest go the full way.
        if (due != QStringLiteral("07:30"))
            QCOMPARE(EventScheduler::notDueAt(EventRecord::timeField(line), sunEvents,
                                              QStringLiteral("07:30")),
                     skipped);
        // A line too short to be an event is passed over.
        QVERIFY(EventScheduler::notDueAt(EventRecord::timeField(u"Lamp~A~3~ "), sunEvents,
                                         QStringLiteral("07:30")));
    }

    void runEventNow_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("row");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<int>("boxes");
        QTest::newRow("on with dim")
            << 2 << QStringList{"Lounge Lamp", "A", "3", "60%", "07:30", "on", "daily", ""}
            << QStringList{"A3 2 0", "A3 5 100", "A3 4 40"} << 0;
        QTest::newRow("off") << 2
                             << QStringList{"Lounge Lamp", "A", "3", " ", "sSet:+1", "off", "once", "m"}
                             << QStringList{"A3 3 20"} << 0;
        QTest::newRow("other action") << 2
                                      << QStringList{"Lounge Lamp", "A", "3", " ", "07:30", "On", "daily", "m"}
                                      << QStringList() << 0;
        QTest::newRow("empty list") << 0 << QStringList() << QStringList() << 1;
    }
    void runEventNow()
    {
        QFETCH(int, count);
        QFETCH(QStringList, row);
        Scheduling rig;
        Clock::instance().freeze(QDateTime(thursday, QTime(12, 0)), 1000);
        QCoro::waitFor(rig.core.scheduler.runeventnow(count, row));
        QTEST(rig.sent(), "sent");
        QTEST(int(rig.prompts.shown.size()), "boxes");
        if (!rig.prompts.shown.isEmpty()) {
            QCOMPARE(rig.prompts.shown.at(0).text, QStringLiteral("You dont have any events to run"));
            QCOMPARE(rig.prompts.shown.at(0).title, QStringLiteral("No events"));
        }
        // Nothing is recorded.
        QCOMPARE(rig.core.deviceStatus.level(QStringLiteral("LoungeLamp")), -1);
    }
};

QTEST_GUILESS_MAIN(TestEventScheduler)
#include "tst_eventscheduler.moc"
