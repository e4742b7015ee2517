#include "corefixture.h"
#include "home/settingsstore.h"
#include "platform/clock.h"
#include "speech/phraseagent.h"
#include "speech/voicecommandhandler.h"
#include "x10/traffichandler.h"

#include <QtTest>

using namespace casalux;

namespace {

QStringList names(const QList<VoiceCommand>& commands)
{
    QStringList out;
    for (const VoiceCommand& c : commands)
        out.append(c.name);
    return out;
}

QStringList sentTexts(const test::ScriptedInterface& control)
{
    QStringList out;
    for (const auto& s : control.sent)
        out.append(s.text());
    return out;
}

} // namespace

// The spoken command set, the phrases it understands and what the program
// does with them.
class TestVoiceCommands : public QObject {
    Q_OBJECT

    // The core with a listening handler, in a home of two rooms.
    struct Listening : test::CoreFixture {
        PhraseAgent agent{
            {folder.file(QStringLiteral("characters")), QStringLiteral(":/characters")}};
        VoiceCommandHandler handler{agent,      settings,   core.commands, core.deviceStatus,
                                    core.rooms, status};
        int reminders = 0;

        Listening()
        {
            loadList("Lounge~~~\r\n"
                     "Lounge~Lamp~A~3\r\n"
                     "Lounge~Fan~A~4\r\n"
                     "Living Room~~~\r\n"
                     "Living Room~Ceiling Light~B~12\r\n");
            handler.setReminderHook([this] { ++reminders; });
        }
        // Says a phrase and waits for the command it set off to finish.
        QString say(const QString& phrase)
        {
            const QString name = agent.hear(phrase);
            QCoro::waitFor(Clock::instance().sleep(1.5));
            return name;
        }
    };

private Q_SLOTS:
    void init() { Clock::instance().start(QDateTime(QDate(2026, 3, 5), QTime(19, 0)), 100); }
    void cleanup() { Clock::instance().useSystemTime(); }

    void commandSetOfAHome()
    {
        const auto records = *RoomRecord::parse(QStringLiteral("Living Room~Ceiling Light~B~12"));
        const QList<VoiceCommand> device = VoiceCommand::forDevice(records);
        QCOMPARE(names(device), (QStringList{"on~B12", "bright~B12", "dim~B12", "off~B12"}));
        QCOMPARE(device.at(0).voiceText, QStringLiteral("Living Room Ceiling Light on"));
        QCOMPARE(device.at(0).caption, QStringLiteral("Living Room Ceiling Light on"));
        QCOMPARE(device.at(1).voiceText, QStringLiteral("Bright Living Room Ceiling Light"));
        QCOMPARE(device.at(2).caption, QStringLiteral("Dim Living Room Ceiling Light"));
        QCOMPARE(device.at(3).voiceText, QStringLiteral("Cancel Living Room Ceiling Light"));
        QCOMPARE(device.at(3).caption, QStringLiteral("Cancel Living Room Ceiling Light"));

        Listening rig;
        const QList<VoiceCommand> home = VoiceCommand::forHome(rig.core.rooms.records());
        QCOMPARE(names(home).mid(0, 3), (QStringList{"Properties", "repeat", "on~A3"}));
        QCOMPARE(home.size(), 2 + 3 * 4);
        QCOMPARE(home.at(1).voiceText, QStringLiteral("repeat command"));
    }

    void phrasesFindTheirCommands_data()
    {
        QTest::addColumn<QString>("phrase");
        QTest::addColumn<QString>("command");
        QTest::newRow("on, every word") << "Lounge Lamp On"
                                        << "on~A3";
        QTest::newRow("second device") << "lounge fan on"
                                       << "on~A4";
        QTest::newRow("cancel") << "Cancel Lounge Lamp"
                                << "off~A3";
        QTest::newRow("cancel, punctuation") << "  cancel, LOUNGE fan! "
                                             << "off~A4";
        QTest::newRow("dim") << "Dim Lounge Lamp"
                             << "dim~A3";
        QTest::newRow("bright, two-word names") << "bright living room ceiling light"
                                                << "bright~B12";
        QTest::newRow("part of a two-word name") << "living room ceiling on"
                                                 << "";
        QTest::newRow("repeat") << "repeat command"
                                << "repeat";
        QTest::newRow("properties") << "speech properties"
                                    << "Properties";
        QTest::newRow("off is not a word here") << "Lounge Lamp Off"
                                                << "";
        QTest::newRow("words missing") << "dim"
                                       << "";
        QTest::newRow("nothing") << "   "
                                 << "";
    }
    void phrasesFindTheirCommands()
    {
        QFETCH(QString, phrase);
        QFETCH(QString, command);
        Listening rig;
        const VoiceGrammar grammar(VoiceCommand::forHome(rig.core.rooms.records()));
        QCOMPARE(grammar.commandFor(phrase), command);
    }

    // Nothing switches without an action word and a device: a stray word or
    // a bare room name from a conversation or the television must not.
    void phrasesThatSwitchNeedAnActionAndADevice_data()
    {
        QTest::addColumn<QString>("phrase");
        QTest::newRow("a bare room") << "lounge";
        QTest::newRow("a room with its action, no device") << "lounge on";
        QTest::newRow("cancel a room") << "cancel lounge";
        QTest::newRow("dim a room") << "dim living room";
        QTest::newRow("bright a room") << "bright lounge";
        QTest::newRow("a device, no action") << "lounge lamp";
        QTest::newRow("command") << "command";
    }
    void phrasesThatSwitchNeedAnActionAndADevice()
    {
        QFETCH(QString, phrase);
        Listening rig;
        QVERIFY(rig.handler.initagent());
        rig.handler.registerCommands();
        QCOMPARE(rig.say(QStringLiteral("lounge lamp on")), QStringLiteral("on~A3"));
        rig.control.sent.clear();
        QCOMPARE(rig.say(phrase), QString());
        QVERIFY(rig.control.sent.isEmpty());
        QCOMPARE(rig.handler.lastCommand(), QStringLiteral("on~A3"));
    }

    // A word the recogniser cannot pronounce would sink the whole grammar:
    // only the phrases with it are left out.
    void grammarLeavesOutUnknownWords()
    {
        const QList<VoiceCommand> commands{
            {QStringLiteral("on~A3"), {}, QStringLiteral("Lounge [Lamp] [on]")},
            {QStringLiteral("on~A5"), {}, QStringLiteral("Lounge [Telly2] [on]")}};
        QStringList leftOut;
        const QString jsgf = VoiceGrammar(commands).jsgf(
            [](const QString& w) { return w != QLatin1String("telly2"); }, &leftOut);
        QCOMPARE(leftOut, QStringList{"Lounge [Telly2] [on]"});
        QVERIFY(jsgf.startsWith(QLatin1String("#JSGF V1.0;\ngrammar casalux;\n")));
        QVERIFY(jsgf.contains(QLatin1String("public <command> = <c0>;")));
        QVERIFY(jsgf.contains(QLatin1String("<c0> = lounge [lamp] [on];")));
        QVERIFY(
            VoiceGrammar(commands).jsgf([](const QString&) { return false; }, nullptr).isEmpty());
    }

    void characterLoadsOrSpeechStaysOff()
    {
        {
            Listening rig; // no setting: the character that comes with the program
            QVERIFY(rig.handler.initagent());
            QCOMPARE(rig.status.activity.last(), QStringLiteral("MsAgent Character has loaded"));
            QCOMPARE(rig.agent.caption(), QStringLiteral("Casalux"));
            rig.handler.registerCommands();
            QCOMPARE(rig.agent.commands().size(), 14);
        }
        const QStringList missing{QStringLiteral("genie"), QStringLiteral("../merlin"),
                                  QStringLiteral("")};
        for (const QString& name : missing) {
            Listening rig;
            rig.settings.write(settingkeys::lastCharacter, name);
            QVERIFY(!rig.handler.initagent());
            QCOMPARE(rig.status.activity,
                     QStringList{"Cannot load MsAgent Character, see help file for more."});
            rig.handler.registerCommands();
            QVERIFY(rig.agent.commands().isEmpty());
            QCOMPARE(rig.agent.hear(QStringLiteral("Cancel Lounge Lamp")), QString());
            QVERIFY(rig.control.sent.isEmpty());
        }
        Listening rig; // a character of the user's own, in the program folder
        rig.folder.write(QStringLiteral("characters/genie.acs"), "[Character]\nName=Genie\n");
        rig.settings.write(settingkeys::lastCharacter, QStringLiteral("genie"));
        QVERIFY(rig.handler.initagent());
        QCOMPARE(rig.agent.character()->name, QStringLiteral("Genie"));
    }

    void spokenCommandsSwitchAndRepeat()
    {
        Listening rig;
        QVERIFY(rig.handler.initagent());
        rig.handler.registerCommands();

        QCOMPARE(rig.say(QStringLiteral("Cancel Lounge Lamp")), QStringLiteral("off~A3"));
        QCOMPARE(sentTexts(rig.control), QStringList{"A3 3 20"});
        QCOMPARE(rig.reminders, 1);
        QCOMPARE(rig.status.activity.at(1), QStringLiteral("PLEASE SPEAK YOUR COMMAND CLEARLY"));
        QVERIFY(!rig.core.deviceStatus.getlaststatus(QStringLiteral("LoungeLamp")));

        QCOMPARE(rig.say(QStringLiteral("repeat command")), QStringLiteral("repeat"));
        QCOMPARE(sentTexts(rig.control), (QStringList{"A3 3 20", "A3 3 20"}));
        QCOMPARE(rig.handler.lastCommand(), QStringLiteral("off~A3"));

        rig.control.sent.clear();
        rig.say(QStringLiteral("Living Room Ceiling Light on"));
        QCOMPARE(sentTexts(rig.control), QStringList{"B12 2 20"});
        QVERIFY(rig.core.deviceStatus.getlaststatus(QStringLiteral("LivingRoomCeilingLight")));
        rig.say(QStringLiteral("Dim Living Room Ceiling Light"));
        rig.say(QStringLiteral("Bright Living Room Ceiling Light"));
        QCOMPARE(rig.control.sent.size(), 3);
        QCOMPARE(rig.control.sent.at(1).function, int(InterfaceControl::Dim));
        QCOMPARE(rig.control.sent.at(2).function, int(InterfaceControl::Bright));

        // A phrase that means nothing changes nothing, not even "repeat".
        rig.control.sent.clear();
        QCOMPARE(rig.say(QStringLiteral("open the pod bay doors")), QString());
        QVERIFY(rig.control.sent.isEmpty());
        QCOMPARE(rig.handler.lastCommand(), QStringLiteral("bright~B12"));
    }

    // Spoken or typed, a command the interface could not carry out leaves
    // the stored state alone and the status bar says why.
    void commandNotSentKeepsTheState()
    {
        Listening rig;
        QVERIFY(rig.handler.initagent());
        rig.handler.registerCommands();
        rig.control.setSendResult(false, QStringLiteral("the adapter is unplugged"));
        rig.say(QStringLiteral("Living Room Ceiling Light on"));
        QCOMPARE(sentTexts(rig.control), QStringList{"B12 2 20"});
        QCOMPARE(rig.machineValue(QStringLiteral("LivingRoomCeilingLight")), QString());
        QVERIFY(rig.status.activity.last().startsWith(
            QLatin1String("Could not send ON to device with housecode B12")));
        QVERIFY(rig.status.activity.last().endsWith(QLatin1String(": the adapter is unplugged")));

        rig.core.deviceStatus.setstatus(QStringLiteral("LoungeLamp"), QStringLiteral("on"), QString());
        rig.say(QStringLiteral("Cancel Lounge Lamp"));
        QVERIFY(rig.core.deviceStatus.getlaststatus(QStringLiteral("LoungeLamp")));
    }

    // Spoken, or queued by a macro, a switch is recorded and drawn alike.
    void spokenAndQueuedSwitchesAreRecordedAlike_data()
    {
        QTest::addColumn<QString>("phrase");
        QTest::addColumn<QString>("queued");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("level");
        QTest::addColumn<QStringList>("drawn");
        QTest::newRow("on") << "Lounge Lamp on" << "2A3~" << "True" << "100"
                            << QStringList{"on 1 LoungeLamp", "slider 1 100"};
        QTest::newRow("off") << "Cancel Lounge Lamp" << "3A3~" << "False" << "20"
                             << QStringList{"off 1 LoungeLamp", "slider 1 20"};
    }
    void spokenAndQueuedSwitchesAreRecordedAlike()
    {
        QFETCH(QString, phrase);
        QFETCH(QString, queued);
        for (const bool spoken : {true, false}) {
            Listening rig;
            rig.view.room = QStringLiteral("Lounge");
            rig.view.names = {QStringLiteral("Fan"), QStringLiteral("Lamp")};
            rig.handler.setRoomView(&rig.view);
            if (spoken) {
                QVERIFY(rig.handler.initagent());
                rig.handler.registerCommands();
                rig.say(phrase);
            } else {
                rig.core.traffic.queue().setText(queued);
                QCoro::waitFor(rig.core.traffic.timerqueue());
            }
            QTEST(rig.machineValue(QStringLiteral("LoungeLamp")), "state");
            QTEST(rig.machineValue(QStringLiteral("dimLoungeLamp")), "level");
            QTEST(rig.view.changes, "drawn");
        }
    }

    void characterHidesTwentySecondsAfterListening()
    {
        // A slower clock than the other tests: 5 s of margin are half a second.
        Clock::instance().start(QDateTime(QDate(2026, 3, 5), QTime(19, 0)), 10);
        Listening rig;
        QVERIFY(rig.handler.initagent());
        rig.agent.beginListening();
        QVERIFY(rig.agent.visible());
        QVERIFY(rig.handler.timerhide().isActive());
        QCOMPARE(rig.handler.timerhide().interval(), Clock::instance().interval(20000));
        QCoro::waitFor(Clock::instance().sleep(15));
        QVERIFY(rig.agent.visible());
        // A coarse timer may fire a little late, and a loaded machine later still.
        QTRY_VERIFY_WITH_TIMEOUT(!rig.agent.visible(), 5000);
    }

    void propertiesAskForTheSheet()
    {
        Listening rig;
        QVERIFY(rig.handler.initagent());
        rig.handler.registerCommands();
        QSignalSpy sheet(&rig.agent, &SpeechAgent::propertiesRequested);
        rig.say(QStringLiteral("Speech Properties"));
        QCOMPARE(sheet.size(), 1);
        QVERIFY(rig.control.sent.isEmpty());
        QCOMPARE(rig.handler.lastCommand(), QString());
    }
};

QTEST_GUILESS_MAIN(TestVoiceCommands)
#include "tst_voicecommands.moc"
