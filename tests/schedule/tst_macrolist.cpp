#include "platform/busymark.h"
#include "platform/clock.h"
#include "recordingstatus.h"
#include "schedule/macrolist.h"
#include "scriptedprompts.h"
#include "tempfolder.h"
#include "corefixture.h"
#include "x10/commandqueue.h"

#include <QtTest>

using namespace casalux;
using Answer = Prompts::Answer;

class TestMacroList : public QObject {
    Q_OBJECT

    struct Rig {
        test::TempFolder folder;
        CommandQueue queue;
        BusyMark filebusy;
        test::RecordingStatus status;
        test::ScriptedPrompts prompts;
        MacroList macros{folder.path(), queue, filebusy, status, prompts};
        int reloads = 0;
        Rig()
        {
            macros.setReloadHook([this] { ++reloads; });
        }
        QByteArray file() const { return folder.read(QStringLiteral("macs.hlk")); }
        bool save(const char* trigger, const char* action, const char* target, const char* todo)
        {
            return QCoro::waitFor(macros.save(QString::fromLatin1(trigger), QString::fromLatin1(action),
                                              QString::fromLatin1(target), QString::fromLatin1(todo)));
        }
    };

private Q_SLOTS:
    void init() { Clock::instance().start(QDateTime(QDate(2026, 3, 5), QTime(7, 0)), 1000); }
    void cleanup() { Clock::instance().useSystemTime(); }

    void saveWritesTheSentence()
    {
        Rig rig;
        QVERIFY(rig.save("Lounge Lamp A3", "On", "Hall Light B5", "Turn On"));
        QCOMPARE(rig.file(), QByteArray("When~A3~Lounge~Lamp~turns~on~Turn~On~B5~Hall~Light\r\n"));
        QCOMPARE(rig.macros.shownLines(),
                 QStringList{"When A3 Lounge Lamp turns on Turn On B5 Hall Light"});
        QCOMPARE(rig.reloads, 1);
        QVERIFY(rig.save("Den Fan B12", "Off", "Den Lamp A3", "Turn Off"));
        QVERIFY(rig.file().endsWith("When~B12~Den~Fan~turns~off~Turn~Off~A3~Den~Lamp\r\n"));
    }

    void saveRefusesIncompleteChoices_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("todo");
        QTest::newRow("no trigger") << "" << "On" << "Hall Light B5" << "Turn On";
        QTest::newRow("no target") << "Lounge Lamp A3" << "On" << "" << "Turn On";
        QTest::newRow("odd action") << "Lounge Lamp A3" << "Flash" << "Hall Light B5" << "Turn On";
        QTest::newRow("odd todo") << "Lounge Lamp A3" << "On" << "Hall Light B5" << "Toggle";
    }
    void saveRefusesIncompleteChoices()
    {
        QFETCH(QString, trigger);
        QFETCH(QString, action);
        QFETCH(QString, target);
        QFETCH(QString, todo);
        Rig rig;
        QVERIFY(!QCoro::waitFor(rig.macros.save(trigger, action, target, todo)));
        QCOMPARE(rig.prompts.shown.size(), 1);
        QVERIFY(!rig.folder.exists(QStringLiteral("macs.hlk")));
    }

    void triggersQueueTargets_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("house");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("queued");
        const QByteArray example = "When~A3~Lounge~Lamp~turns~on~Turn~On~B5~Hall~Light\r\n";
        QTest::newRow("on triggers") << example << "A" << "3" << 2 << "2B5~";
        QTest::newRow("off does not") << example << "A" << "3" << 3 << "";
        QTest::newRow("other unit") << example << "A" << "13" << 2 << "";
        QTest::newRow("case of address")
            << QByteArray("When~a3~Lounge~Lamp~turns~on~Turn~Off~B12~Hall~Light\r\n") << "A"
            << "3" << 2 << "3B12~";
        QTest::newRow("two macros in file order")
            << QByteArray("When~A3~L~turns~on~Turn~On~B5~H\r\n"
                          "When~A4~X~turns~on~Turn~On~C1~Y\r\n"
                          "When~A3~L~turns~on~Turn~Off~C2~Z\r\n")
            << "A" << "3" << 2 << "2B5~3C2~";
        QTest::newRow("dim trigger")
            << QByteArray("When~A3~Lounge~Lamp~turns~dimmed~Turn~On~B5~Hall~Light\r\n") << "A"
            << "3" << 4 << "2B5~";
        QTest::newRow("older dim verb")
            << QByteArray("When~A3~Lounge~Lamp~Dimms~Turn~On~B5~Hall~Light\r\n") << "A" << "3"
            << 4 << "2B5~";
        QTest::newRow("dim is not on")
            << QByteArray("When~A3~Lounge~Lamp~turns~dimmed~Turn~On~B5~Hall~Light\r\n") << "A"
            << "3" << 2 << "";
        QTest::newRow("device named like an action")
            << QByteArray("When~A3~Den~Turn~Off~Switch~turns~on~Turn~On~B5~Hall\r\n") << "A"
            << "3" << 2 << "2B5~";
        // Only the trigger field names the device that sets a macro off; the
        // same address as a target, or inside a device name, does not.
        QTest::newRow("address is the target")
            << QByteArray("When~B5~Hall~Light~turns~on~Turn~On~A3~Lounge~Lamp\r\n") << "A"
            << "3" << 2 << "";
        QTest::newRow("address inside a device name")
            << QByteArray("When~C1~Den~A3~Switch~turns~on~Turn~Off~B5~Hall\r\n") << "A" << "3"
            << 2 << "";
        QTest::newRow("junk line") << QByteArray("When~A3~turns~on\r\n~~~\r\n") << "A" << "3" << 2
                                   << "";
    }
    void triggersQueueTargets()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, house);
        QFETCH(QString, unit);
        QFETCH(int, command);
        QFETCH(QString, queued);
        Rig rig;
        rig.folder.write(QStringLiteral("macs.hlk"), file);
        rig.macros.amacros(house, unit, command);
        QCOMPARE(rig.queue.text(), queued);
        if (!queued.isEmpty())
            QCOMPARE(rig.status.activity.last(), QStringLiteral("Macro created and added to queue"));
    }

    void noFileNoAction()
    {
        Rig rig;
        rig.macros.amacros(QStringLiteral("A"), QStringLiteral("3"), 2);
        QVERIFY(rig.queue.isEmpty());
    }

    // A wall switch at A3 triggers B5, whose own On triggers C2: the queue
    // plays both, one per tick, through the same device commands.
    void chainOfTwoMacros()
    {
        test::CoreFixture fx;
        test::ScriptedPrompts prompts;
        fx.folder.write(QStringLiteral("macs.hlk"), "When~A3~L~Lamp~turns~on~Turn~On~B5~Hall\r\n"
                                                    "When~B5~Hall~turns~on~Turn~Off~C2~Porch\r\n");
        test::ScriptedInterface& control = fx.control;
        DeviceCommands& commands = fx.core.commands;
        TrafficHandler& traffic = fx.core.traffic;
        // The queue the macros fill is the handler's own.
        MacroList macros(fx.folder.path(), traffic.queue(), fx.core.filebusy, fx.status, prompts);
        const auto amacros = [&](const QString& h, const QString& u, int code) {
            macros.amacros(h, u, code);
        };
        commands.setMacroHook(amacros);
        traffic.setMacroTrigger(amacros);

        control.injectTraffic(QStringLiteral("A3"), 2);
        QCOMPARE(traffic.queue().text(), QStringLiteral("2B5~"));
        QCoro::waitFor(traffic.timerqueue());
        QCOMPARE(traffic.queue().text(), QStringLiteral("3C2~"));
        QCoro::waitFor(traffic.timerqueue());
        QVERIFY(traffic.queue().isEmpty());
        QCOMPARE(control.sent.size(), 2);
        QCOMPARE(control.sent[0].text(), QStringLiteral("B5 2 20"));
        QCOMPARE(control.sent[1].text(), QStringLiteral("C2 3 20"));
    }

    void deleteRemovesOnlyMatchingLines()
    {
        Rig rig;
        rig.folder.write(QStringLiteral("macs.hlk"),
                         "When~A3~Lounge~Lamp~turns~on~Turn~On~B5~Hall~Light\r\n"
                         "When~A3~Lounge~Lamp~turns~on~Turn~On~B5~Hall~Light~2\r\n"
                         "When~C1~Den~Fan~turns~off~Turn~Off~B5~Hall~Light\r\n");
        QVERIFY(QCoro::waitFor(rig.macros.deletemacro(
            QStringLiteral("When A3 Lounge Lamp turns on Turn On B5 Hall Light"), false)));
        QCOMPARE(rig.file(), QByteArray("When~C1~Den~Fan~turns~off~Turn~Off~B5~Hall~Light\r\n"));
        QCOMPARE(rig.prompts.shown[0].title, QStringLiteral("Delete?"));
        QVERIFY(!rig.folder.exists(QStringLiteral("tempmac.txt")));
        QVERIFY(!rig.filebusy.isHeld());
    }

    void deleteAnsweredNoOrEmptyList()
    {
        Rig rig;
        const QByteArray before = "When~C1~Den~Fan~turns~off~Turn~Off~B5~Hall~Light\r\n";
        rig.folder.write(QStringLiteral("macs.hlk"), before);
        rig.prompts.queueAnswer(Answer::No);
        QVERIFY(!QCoro::waitFor(rig.macros.deletemacro(QStringLiteral("When C1"), false)));
        QVERIFY(!QCoro::waitFor(rig.macros.deletemacro(QString(), true)));
        QCOMPARE(rig.prompts.shown.last().text, QStringLiteral("You dont have any macros to delete"));
        QCOMPARE(rig.prompts.shown.last().title, QStringLiteral("No Macros"));
        QVERIFY(!QCoro::waitFor(rig.macros.deletemacro(QString(), false))); // nothing selected
        QCOMPARE(rig.file(), before);
    }
};

QTEST_GUILESS_MAIN(TestMacroList)
#include "tst_macrolist.moc"
