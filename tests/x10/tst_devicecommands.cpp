#include "corefixture.h"
#include "platform/clock.h"

#include <QtTest>

using namespace casalux;

class TestDeviceCommands : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { Clock::instance().freeze(QDateTime(QDate(2026, 3, 5), QTime(18, 2, 11)), 1000); }
    void cleanup() { Clock::instance().useSystemTime(); }

    void sequencesAndTexts_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<double>("percent");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("macros");
        QTest::newRow("on at 30") << "on" << 30.0 << QStringList{"A3 2 0", "A3 5 100", "A3 4 70"}
                                  << "DIMMED device with housecode A3 to 30% at 18:02:11"
                                  << QStringList{"A3 4"};
        QTest::newRow("on at 100") << "on" << 100.0 << QStringList{"A3 2 20"}
                                   << "Turned ON device with housecode A3 at 18:02:11"
                                   << QStringList{"A3 2"};
        QTest::newRow("on at 0") << "on" << 0.0 << QStringList{"A3 2 0", "A3 5 100", "A3 4 100"}
                                 << "DIMMED device with housecode A3 to 0% at 18:02:11"
                                 << QStringList{"A3 4"};
        QTest::newRow("dim ignores percent") << "dim" << 30.0 << QStringList{"A3 4 20"}
                                             << "DIMMED device with housecode A3 at 18:02:11"
                                             << QStringList{};
        QTest::newRow("bright") << "bright" << 55.0 << QStringList{"A3 5 20"}
                                << "BRIGHT command sent to device with housecode A3 at 18:02:11"
                                << QStringList{};
        QTest::newRow("off") << "off" << 0.0 << QStringList{"A3 3 20"}
                             << "Turned OFF device with housecode A3 at 18:02:11"
                             << QStringList{"A3 3"};
    }
    void sequencesAndTexts()
    {
        QFETCH(QString, command);
        QFETCH(double, percent);
        QFETCH(QStringList, sent);
        QFETCH(QString, text);
        QFETCH(QStringList, macros);
        test::CoreFixture rig;
        const QString a = QStringLiteral("A"), u = QStringLiteral("3");
        if (command == QLatin1String("on"))
            QCoro::waitFor(rig.core.commands.turnon(a, u, percent));
        else if (command == QLatin1String("dim"))
            QCoro::waitFor(rig.core.commands.turndim(a, u, percent));
        else if (command == QLatin1String("bright"))
            QCoro::waitFor(rig.core.commands.turnbright(a, u, percent));
        else
            QCoro::waitFor(rig.core.commands.turnoff(a, u));
        QCOMPARE(rig.sent(), sent);
        QCOMPARE(rig.status.activity.last(), text);
        QCOMPARE(rig.macroCalls, macros);
        for (const auto& s : rig.control.sent) {
            QCOMPARE(s.arg5, 20);
            QCOMPARE(s.arg6, 50);
        }
        QVERIFY(!rig.core.commands.commandInProgress());
    }

    void dimAmountIsADouble()
    {
        test::CoreFixture rig;
        QCoro::waitFor(rig.core.commands.turnon(QStringLiteral("B"), QStringLiteral("12"), 37.5));
        QCOMPARE(rig.control.sent.last().level, 62.5);
        QCOMPARE(rig.status.activity.last(),
                 QStringLiteral("DIMMED device with housecode B12 to 37.5% at 18:02:11"));
    }

    // The mark is held across the one-second pause, and let go even when the
    // interface refused the command.
    void commandMarkHeldDuringWaitAndReleasedOnFailure()
    {
        test::CoreFixture rig;
        bool heldDuringWait = false;
        QTimer::singleShot(0, [&] { heldDuringWait = rig.core.commands.commandInProgress(); });
        QVERIFY(QCoro::waitFor(rig.core.commands.turnoff(QStringLiteral("A"), QStringLiteral("1"))).isDone());
        QVERIFY(heldDuringWait);
        QVERIFY(!rig.core.commands.commandInProgress());

        rig.control.setSendResult(false);
        QVERIFY(!QCoro::waitFor(rig.core.commands.turnoff(QStringLiteral("A"), QStringLiteral("1"))).isDone());
        QVERIFY(!rig.core.commands.commandInProgress());
    }

    // A command the interface did not carry out is reported as such: no
    // success text, no macros, and a dimming sequence stops at its first
    // failed step.
    void failedCommandsSayWhyAndTellNoMacros_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<double>("percent");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QString>("text");
        QTest::newRow("on") << "on" << 100.0 << QStringList{"A3 2 20"}
                            << "Could not send ON to device with housecode A3 at 18:02:11: "
                               "the adapter is unplugged";
        QTest::newRow("dimmed on") << "on" << 30.0 << QStringList{"A3 2 0"}
                                   << "Could not send DIM 30% to device with housecode A3 at "
                                      "18:02:11: the adapter is unplugged";
        QTest::newRow("off") << "off" << 0.0 << QStringList{"A3 3 20"}
                             << "Could not send OFF to device with housecode A3 at 18:02:11: "
                                "the adapter is unplugged";
        QTest::newRow("dim") << "dim" << 0.0 << QStringList{"A3 4 20"}
                             << "Could not send DIM to device with housecode A3 at 18:02:11: "
                                "the adapter is unplugged";
        QTest::newRow("bright") << "bright" << 0.0 << QStringList{"A3 5 20"}
                                << "Could not send BRIGHT to device with housecode A3 at "
                                   "18:02:11: the adapter is unplugged";
    }
    void failedCommandsSayWhyAndTellNoMacros()
    {
        QFETCH(QString, command);
        QFETCH(double, percent);
        QFETCH(QStringList, sent);
        QFETCH(QString, text);
        test::CoreFixture rig;
        rig.control.setSendResult(false, QStringLiteral("the adapter is unplugged"));
        const QString a = QStringLiteral("A"), u = QStringLiteral("3");
        SwitchResult result = SwitchResult::done();
        if (command == QLatin1String("on"))
            result = QCoro::waitFor(rig.core.commands.turnon(a, u, percent));
        else if (command == QLatin1String("dim"))
            result = QCoro::waitFor(rig.core.commands.turndim(a, u));
        else if (command == QLatin1String("bright"))
            result = QCoro::waitFor(rig.core.commands.turnbright(a, u));
        else
            result = QCoro::waitFor(rig.core.commands.turnoff(a, u));
        QCOMPARE(result.outcome(), SwitchResult::Outcome::NotSent);
        QCOMPARE(rig.sent(), sent);
        QCOMPARE(rig.status.activity.last(), text);
        QVERIFY(rig.macroCalls.isEmpty());
        QCOMPARE(result.why(), QStringLiteral("the adapter is unplugged"));
    }

    void engineOnlySends()
    {
        test::CoreFixture rig(test::CoreFixture::engine());
        // No pause afterwards: with an interface that answers at once, the
        // commands are done before control comes back.
        auto on = rig.core.commands.turnon(QStringLiteral("A"), QStringLiteral("3"), 60);
        auto off = rig.core.commands.turnoff(QStringLiteral("A"), QStringLiteral("3"));
        QVERIFY(on.isReady() && off.isReady());
        QCOMPARE(rig.sent(), (QStringList{"A3 2 0", "A3 5 100", "A3 4 40", "A3 3 20"}));
        QVERIFY(rig.status.activity.isEmpty());
        QVERIFY(rig.macroCalls.isEmpty());
    }

    void percentOfText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("percent");
        QTest::newRow("number") << "60" << 60.0;
        QTest::newRow("blank") << " " << 100.0;
        QTest::newRow("empty") << "" << 100.0;
        QTest::newRow("junk") << "abc" << 100.0;
        QTest::newRow("trailing text") << "40%" << 40.0;
    }
    void percentOfText()
    {
        QFETCH(QString, text);
        QFETCH(double, percent);
        QCOMPARE(DeviceCommands::percentOf(text), percent);
    }
};

QTEST_GUILESS_MAIN(TestDeviceCommands)
#include "tst_devicecommands.moc"
