#include "fakeroomview.h"
#include "outsiderig.h"
#include "platform/clock.h"

#include <QtTest>

using namespace casalux;

class TestOutsideCommands : public QObject {
    Q_OBJECT

    struct Rig : test::OutsideRig {
        QStringList recorded;
        Rig()
        {
            writeList("Lounge~~~\nLounge~Lamp~A~3\nLounge~Fan~A~4\n"
                      "Lounge Upstairs~~~\nLounge Upstairs~Lamp~B~12\n");
            setKind(QStringLiteral("LoungeLamp"), QStringLiteral("bulb2"));
            status.setRecordedHook([this](const QString& key) { recorded.append(key); });
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
        Rig rig;
        const auto found = rig.outside.find(target);
        QCOMPARE(found ? found->record.address() : QString(), address);
    }

    void kindsAndDimming()
    {
        Rig rig;
        const auto lamp = rig.outside.find(QStringLiteral("Lounge Lamp"));
        const auto fan = rig.outside.find(QStringLiteral("Lounge Fan"));
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
        Rig rig;
        rig.outside.setRoomView(nullptr);
        test::FakeRoomView view;
        view.room = QStringLiteral("Lounge");
        view.names[1] = QStringLiteral("Lamp");
        rig.outside.setRoomView(&view);
        const auto lamp = *rig.outside.find(QStringLiteral("A3"));

        QCOMPARE(QCoro::waitFor(rig.outside.dimDevice(lamp, 80)), OutsideCommands::Outcome::Done);
        QCOMPARE(rig.status.level(lamp.key()), 80);
        QVERIFY(rig.status.getlaststatus(lamp.key()));
        QCOMPARE(QCoro::waitFor(rig.outside.switchDevice(lamp, false)),
                 OutsideCommands::Outcome::Done);
        QVERIFY(!rig.status.getlaststatus(lamp.key()));
        QCOMPARE(rig.sent(), (QStringList{"A3 2 0", "A3 5 100", "A3 4 20", "A3 3 20"}));
        QCOMPARE(rig.recorded, (QStringList{"LoungeLamp", "LoungeLamp"}));
        QCOMPARE(view.changes, (QStringList{"on 1 LoungeLamp", "slider 1 80", "off 1 LoungeLamp",
                                            "slider 1 20"}));
    }

    void notCarriedOutChangesNothing()
    {
        Rig rig;
        const auto lamp = *rig.outside.find(QStringLiteral("Lounge Lamp"));
        rig.control.setSendResult(false);
        QCOMPARE(QCoro::waitFor(rig.outside.switchDevice(lamp, true)),
                 OutsideCommands::Outcome::NotSent);
        QCOMPARE(rig.outside.why(), QStringLiteral("the X10 interface did not answer"));
        QVERIFY(!rig.status.getlaststatus(lamp.key()));
        QVERIFY(rig.recorded.isEmpty());

        rig.control.setSendResult(true);
        rig.outside.setGate([] { return QStringLiteral("handed over"); });
        QCOMPARE(QCoro::waitFor(rig.outside.switchDevice(lamp, true)),
                 OutsideCommands::Outcome::Refused);
        QCOMPARE(rig.outside.why(), QStringLiteral("handed over"));
        QCOMPARE(rig.control.sent.size(), 1);
    }

    // Commands asked for together go to the line one after another, in the
    // order asked, never interleaved.
    void oneAtATimeInOrder()
    {
        Rig rig;
        rig.control.setSendSeconds(2);
        const auto lamp = *rig.outside.find(QStringLiteral("Lounge Lamp"));
        const auto fan = *rig.outside.find(QStringLiteral("Lounge Fan"));
        QStringList ended;
        auto one = [&](OutsideCommands::Device d, int percent) -> QCoro::Task<> {
            co_await rig.outside.dimDevice(d, percent);
            ended.append(d.record.address());
        };
        auto a = one(lamp, 50);
        auto b = one(fan, 100);
        auto c = one(lamp, 0);
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 3, 10000);
        QCOMPARE(ended, (QStringList{"A3", "A4", "A3"}));
        QCOMPARE(rig.sent(), (QStringList{"A3 2 0", "A3 5 100", "A3 4 50", "A4 2 20", "A3 3 20"}));
    }
};

QTEST_GUILESS_MAIN(TestOutsideCommands)
#include "tst_outsidecommands.moc"
