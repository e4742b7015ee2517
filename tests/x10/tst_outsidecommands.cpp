#include "corefixture.h"
#include "fakeroomview.h"
#include "platform/clock.h"

#include <QtTest>

using namespace casalux;

class TestOutsideCommands : public QObject {
    Q_OBJECT

    // The engine's core in a home of two lounges, with every state it
    // records noted.
    struct TwoLounges : test::CoreFixture {
        QStringList recorded;
        TwoLounges() : test::CoreFixture(engine())
        {
            writeList("Lounge~~~\nLounge~Lamp~A~3\nLounge~Fan~A~4\n"
                      "Lounge Upstairs~~~\nLounge Upstairs~Lamp~B~12\n");
            setKind(QStringLiteral("LoungeLamp"), QStringLiteral("bulb2"));
            core.deviceStatus.setRecordedHook([this](const QString& key) { recorded.append(key); });
        }
    };

private Q_SLOTS:
    void init() { Clock::instance().freeze(QDateTime(QDate(2026, 3, 5), QTime(18, 2, 11)), 1000); }
    void cleanup() { Clock::instance().useSystemTime(); }

    void targetsByNameOrAddress_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("address"); // empty: not found
        QTest::newRow("room and name") << "Lounge Lamp"
                                       << "A3";
        QTest::newRow("letter case and spaces") << "  lounge   LAMP "
                                                << "A3";
        QTest::newRow("a room with a space") << "Lounge Upstairs Lamp"
                                             << "B12";
        QTest::newRow("address") << "a4"
                                 << "A4";
        QTest::newRow("two-digit address") << "B12"
                                           << "B12";
        QTest::newRow("A1 is not A12") << "B1"
                                       << "";
        QTest::newRow("address with nothing there") << "C3"
                                                    << "";
        QTest::newRow("name alone") << "Lamp"
                                    << "";
        QTest::newRow("unknown") << "Kitchen Lamp"
                                 << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void targetsByNameOrAddress()
    {
        QFETCH(QString, target);
        QFETCH(QString, address);
        TwoLounges rig;
        const auto found = rig.core.outside.find(target);
        QCOMPARE(found ? found->record.address() : QString(), address);
    }

    void kindsAndDimming()
    {
        TwoLounges rig;
        const auto lamp = rig.core.outside.find(QStringLiteral("Lounge Lamp"));
        const auto fan = rig.core.outside.find(QStringLiteral("Lounge Fan"));
        QVERIFY(lamp && fan);
        QCOMPARE(lamp->kind, QStringLiteral("bulb2"));
        QVERIFY(lamp->dimmable);
        QCOMPARE(fan->kind, QStringLiteral("switch"));
        QVERIFY(!fan->dimmable);
    }

    // A dim records the level the lamp was set to, which setstatus's
    // "amount dimmed by" cannot say for 80 or 0.
    void carriedOutIsRecordedAndRedrawn()
    {
        TwoLounges rig;
        rig.core.outside.setRoomView(nullptr);
        test::FakeRoomView view;
        view.room = QStringLiteral("Lounge");
        view.names[1] = QStringLiteral("Lamp");
        rig.core.outside.setRoomView(&view);
        const auto lamp = *rig.core.outside.find(QStringLiteral("A3"));

        QVERIFY(QCoro::waitFor(rig.core.outside.dimDevice(lamp, 80)).isDone());
        QCOMPARE(rig.core.deviceStatus.level(lamp.key()), 80);
        QVERIFY(rig.core.deviceStatus.getlaststatus(lamp.key()));
        QVERIFY(QCoro::waitFor(rig.core.outside.switchDevice(lamp, false)).isDone());
        QVERIFY(!rig.core.deviceStatus.getlaststatus(lamp.key()));
        QCOMPARE(rig.sent(), (QStringList{"A3 2 0", "A3 5 100", "A3 4 20", "A3 3 20"}));
        QCOMPARE(rig.recorded, (QStringList{"LoungeLamp", "LoungeLamp"}));
        QCOMPARE(view.changes, (QStringList{"on 1 LoungeLamp", "slider 1 80", "off 1 LoungeLamp",
                                            "slider 1 20"}));
    }

    void notCarriedOutChangesNothing()
    {
        TwoLounges rig;
        const auto lamp = *rig.core.outside.find(QStringLiteral("Lounge Lamp"));
        rig.control.setSendResult(false);
        const SwitchResult notSent = QCoro::waitFor(rig.core.outside.switchDevice(lamp, true));
        QCOMPARE(notSent.outcome(), SwitchResult::Outcome::NotSent);
        QCOMPARE(notSent.why(), QStringLiteral("the X10 interface did not answer"));
        QVERIFY(!rig.core.deviceStatus.getlaststatus(lamp.key()));
        QVERIFY(rig.recorded.isEmpty());

        rig.control.setSendResult(true);
        rig.core.outside.setGate([] { return QStringLiteral("handed over"); });
        const SwitchResult refused = QCoro::waitFor(rig.core.outside.switchDevice(lamp, true));
        QCOMPARE(refused.outcome(), SwitchResult::Outcome::Refused);
        QCOMPARE(refused.why(), QStringLiteral("handed over"));
        QCOMPARE(rig.control.sent.size(), 1);
    }

    // A hub's command that fails and a command line's that is refused as
    // the turn passes (the next may go the moment the first ends): each
    // caller hears its own command's reason, not the other's.
    void hubAndCommandLineHearTheirOwnReasons()
    {
        TwoLounges rig;
        const auto lamp = *rig.core.outside.find(QStringLiteral("Lounge Lamp"));
        const auto fan = *rig.core.outside.find(QStringLiteral("Lounge Fan"));
        rig.control.setSendResult(false);
        QString hub;
        QString commandLine;
        bool asked = false;
        std::optional<QCoro::Task<>> lineTask;
        auto fromLine = [&]() -> QCoro::Task<> {
            const SwitchResult result = co_await rig.core.outside.switchDevice(
                fan, true, [] { return QStringLiteral("the caller has gone"); });
            commandLine = result.why();
        };
        connect(&rig.core.commands.queue(), &SwitchQueue::passed, &rig.core.outside, [&] {
            if (!std::exchange(asked, true))
                lineTask.emplace(fromLine());
        });
        auto fromHub = [&]() -> QCoro::Task<> {
            const SwitchResult result = co_await rig.core.outside.bringTo(lamp, 40);
            hub = result.why();
        };
        auto task = fromHub();
        QTRY_VERIFY_WITH_TIMEOUT(!hub.isEmpty() && !commandLine.isEmpty(), 2000);
        QCOMPARE(hub, QStringLiteral("the X10 interface did not answer"));
        QCOMPARE(commandLine, QStringLiteral("the caller has gone"));
    }

    // Commands from every part of the program (a timed event or a click, a
    // hub, the window again) share the line: each goes whole, in the order
    // asked, a dimming sequence never cut into.
    void everySourceSharesTheLine()
    {
        TwoLounges rig;
        rig.control.setSendSeconds(2);
        const auto fan = *rig.core.outside.find(QStringLiteral("Lounge Fan"));
        auto dim = rig.core.commands.turnon(QStringLiteral("A"), QStringLiteral("3"), 50);
        auto hub = rig.core.outside.switchDevice(fan, true);
        auto off = rig.core.commands.turnoff(QStringLiteral("B"), QStringLiteral("12"));
        QVERIFY(QCoro::waitFor(std::move(off)).isDone());
        QVERIFY(QCoro::waitFor(std::move(hub)).isDone());
        QVERIFY(QCoro::waitFor(std::move(dim)).isDone());
        QCOMPARE(rig.sent(), (QStringList{"A3 2 0", "A3 5 100", "A3 4 50", "A4 2 20", "B12 3 20"}));
    }

    // Commands asked for together go to the line one after another, in the
    // order asked, never interleaved.
    void oneAtATimeInOrder()
    {
        TwoLounges rig;
        rig.control.setSendSeconds(2);
        const auto lamp = *rig.core.outside.find(QStringLiteral("Lounge Lamp"));
        const auto fan = *rig.core.outside.find(QStringLiteral("Lounge Fan"));
        QStringList ended;
        auto one = [&](OutsideCommands::Device d, int percent) -> QCoro::Task<> {
            co_await rig.core.outside.dimDevice(d, percent);
            ended.append(d.record.address());
        };
        auto a = one(lamp, 50);
        auto b = one(fan, 100);
        auto c = one(lamp, 0);
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 3, 10000);
        QCOMPARE(ended, (QStringList{"A3", "A4", "A3"}));
        QCOMPARE(rig.sent(), (QStringList{"A3 2 0", "A3 5 100", "A3 4 50", "A4 2 20", "A3 3 20"}));
    }

    // Of the commands waiting for one device only the newest stays; the
    // ones it replaces are refused and say why. An "on" that keeps the level
    // takes the level of the dim it replaces.
    void newestWaitingCommandPerDeviceWins()
    {
        TwoLounges rig;
        rig.control.setSendSeconds(2);
        const auto lamp = *rig.core.outside.find(QStringLiteral("Lounge Lamp"));
        const auto fan = *rig.core.outside.find(QStringLiteral("Lounge Fan"));
        QStringList ended;
        auto one = [&](QCoro::Task<SwitchResult> command, QString name) -> QCoro::Task<> {
            const SwitchResult result = co_await std::move(command);
            ended.append(name + (result.isDone() ? QStringLiteral(" done")
                                                 : QStringLiteral(" refused: ") + result.why()));
        };
        auto a = one(rig.core.outside.dimDevice(lamp, 50), QStringLiteral("lamp 50"));
        auto b = one(rig.core.outside.switchDevice(fan, true), QStringLiteral("fan on"));
        auto c = one(rig.core.outside.dimDevice(lamp, 20), QStringLiteral("lamp 20"));
        auto d = one(rig.core.outside.dimDevice(lamp, 30), QStringLiteral("lamp 30"));
        auto e = one(rig.core.outside.bringTo(lamp, OutsideCommands::keepLevel), QStringLiteral("lamp on"));
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 5, 20000);
        const QString replaced =
            QStringLiteral(" refused: replaced by a newer command for Lounge Lamp");
        QCOMPARE(ended, (QStringList{"lamp 20" + replaced, "lamp 30" + replaced, "lamp 50 done",
                                     "fan on done", "lamp on done"}));
        QCOMPARE(rig.sent(), (QStringList{"A3 2 0", "A3 5 100", "A3 4 50", "A4 2 20", "A3 2 0",
                                          "A3 5 100", "A3 4 70"}));
        QCOMPARE(rig.core.deviceStatus.level(lamp.key()), 30);
        // Already on: an "on" that keeps the level, or the level it has,
        // sends nothing.
        QVERIFY(QCoro::waitFor(rig.core.outside.bringTo(lamp, OutsideCommands::keepLevel)).isDone());
        QVERIFY(QCoro::waitFor(rig.core.outside.bringTo(lamp, 30)).isDone());
        QCOMPARE(rig.sent().size(), 7);
        QCOMPARE(rig.core.deviceStatus.level(lamp.key()), 30);
    }

    // Across devices at most maxWaiting commands wait; one more is refused
    // at once.
    void waitingCommandsAreBounded()
    {
        TwoLounges rig;
        QByteArray list = "Hall~~~\n";
        const int count = OutsideCommands::maxWaiting + 2;
        for (int i = 0; i < count; ++i)
            list += QStringLiteral("Hall~Lamp%1~%2~%3\n")
                        .arg(i)
                        .arg(QChar(u'A' + (i / 16) % 16))
                        .arg(i % 16 + 1)
                        .toLatin1();
        rig.writeList(list);
        rig.control.setSendSeconds(1);
        const QList<OutsideCommands::Device> all = rig.core.outside.devices();
        QCOMPARE(all.size(), count);
        int done = 0;
        int refused = 0;
        QString why;
        auto one = [&](OutsideCommands::Device device) -> QCoro::Task<> {
            const SwitchResult result = co_await rig.core.outside.switchDevice(device, true);
            if (result.isDone())
                ++done;
            else
                ++refused, why = result.why();
        };
        std::vector<QCoro::Task<>> tasks;
        for (const auto& device : all)
            tasks.push_back(one(device));
        QCOMPARE(refused, 1);
        QCOMPARE(why, QStringLiteral("256 commands are already waiting: this one was dropped"));
        QTRY_COMPARE_WITH_TIMEOUT(done, count - 1, 60000);
    }
};

QTEST_GUILESS_MAIN(TestOutsideCommands)
#include "tst_outsidecommands.moc"
