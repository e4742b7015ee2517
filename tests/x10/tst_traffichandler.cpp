#include "corefixture.h"
#include "home/settingsstore.h"
#include "platform/busymark.h"
#include "platform/clock.h"
#include "platform/soundplayer.h"
#include "scriptedprompts.h"
#include "x10/deviceclickhandler.h"
#include "x10/interfacefinder.h"
#include "x10/traffichandler.h"

#include <QtTest>

using namespace casalux;

namespace {

struct RecordingSounds final : SoundPlayer {
    QStringList played;
    void play(const QString& path) override { played.append(QFileInfo(path).fileName()); }
};

} // namespace

// Incoming power-line traffic, the command queue and clicks in the room view.
class TestTrafficHandler : public QObject {
    Q_OBJECT

    // A lounge on show, its lamp and fan in the first two slots, and a hall
    // out of sight.
    struct LoungeShown : test::CoreFixture {
        test::ScriptedPrompts prompts;
        LoungeShown()
        {
            loadList("Lounge~~~\r\n"
                     "Lounge~Lamp~A~1\r\n"
                     "Lounge~Fan~A~10\r\n"
                     "Hall~~~\r\n"
                     "Hall~Light~B~5\r\n"
                     "Hall~Lamp~B~6\r\n");
            view.room = QStringLiteral("Lounge");
            view.names[0] = QStringLiteral("Lamp");
            view.names[1] = QStringLiteral("Fan");
        }
    };

private Q_SLOTS:
    void init() { Clock::instance().freeze(QDateTime(QDate(2026, 3, 5), QTime(7, 45, 3)), 1000); }
    void cleanup() { Clock::instance().useSystemTime(); }

    void incomingUpdatesStateAndPicture()
    {
        LoungeShown rig;
        rig.control.injectTraffic(QStringLiteral("A1"), InterfaceControl::On);
        QCOMPARE(rig.status.activity,
                 (QStringList{"Incoming command from X10, A1, 2, at 07:45",
                              "Incoming message, Lamp has turned on at 7:45:03"}));
        QCOMPARE(rig.triggers, QStringList{"A1 2"});
        QCOMPARE(rig.machineValue(QStringLiteral("LoungeLamp")), QStringLiteral("True"));
        QCOMPARE(rig.view.changes, (QStringList{"on 0 LoungeLamp", "slider 0 100"}));
        QCOMPARE(rig.machineValue(QStringLiteral("LoungeFan")), QString()); // A1 is never A10
    }

    void incomingForA10()
    {
        LoungeShown rig;
        rig.control.injectTraffic(QStringLiteral("a10"), InterfaceControl::Off);
        QCOMPARE(rig.triggers, QStringList{"A10 3"});
        QCOMPARE(rig.machineValue(QStringLiteral("LoungeFan")), QStringLiteral("False"));
        QCOMPARE(rig.machineValue(QStringLiteral("LoungeLamp")), QString());
        QCOMPARE(rig.view.changes, (QStringList{"off 1 LoungeFan", "slider 1 20"}));
    }

    void incomingForDeviceOutsideTheRoomView()
    {
        LoungeShown rig;
        rig.control.injectTraffic(QStringLiteral("B5"), InterfaceControl::On);
        QCOMPARE(rig.machineValue(QStringLiteral("HallLight")), QStringLiteral("True"));
        QVERIFY(rig.view.changes.isEmpty());
        // The Lounge is on view and has a Lamp too: the Hall's Lamp is not it.
        rig.control.injectTraffic(QStringLiteral("B6"), InterfaceControl::On);
        QCOMPARE(rig.machineValue(QStringLiteral("HallLamp")), QStringLiteral("True"));
        QVERIFY(rig.view.changes.isEmpty());
    }

    void incomingForUnknownAddressStillReachesMacros()
    {
        LoungeShown rig;
        rig.control.injectTraffic(QStringLiteral("C7"), InterfaceControl::On);
        QCOMPARE(rig.status.activity, QStringList{"Incoming command from X10, C7, 2, at 07:45"});
        QCOMPARE(rig.triggers, QStringList{"C7 2"});
    }

    void incomingDimChangesNoState()
    {
        LoungeShown rig;
        rig.control.injectTraffic(QStringLiteral("A1"), InterfaceControl::Dim, 30);
        QCOMPARE(rig.triggers, QStringList{"A1 4"});
        QCOMPARE(rig.machineValue(QStringLiteral("LoungeLamp")), QString());
        QCOMPARE(rig.status.activity.size(), 1);
    }

    // 2A1~2A1~3A1~: the first tick turns A1 on and drops both on entries.
    void queuePlaysOneEntryPerTickAndDropsDuplicates()
    {
        LoungeShown rig;
        rig.core.traffic.queue().setText(QStringLiteral("2A1~2a1~3A1~"));
        QCoro::waitFor(rig.core.traffic.timerqueue());
        QCOMPARE(rig.control.sent.size(), 1);
        QCOMPARE(rig.control.sent[0].text(), QStringLiteral("A1 2 20"));
        QCOMPARE(rig.core.traffic.queue().text(), QStringLiteral("3A1~"));
        QCOMPARE(rig.view.changes, (QStringList{"on 0 LoungeLamp", "slider 0 100"}));
        QCoro::waitFor(rig.core.traffic.timerqueue());
        QCOMPARE(rig.control.sent[1].text(), QStringLiteral("A1 3 20"));
        QVERIFY(rig.core.traffic.queue().isEmpty());
        QCOMPARE(rig.machineValue(QStringLiteral("LoungeLamp")), QStringLiteral("False"));
        QCoro::waitFor(rig.core.traffic.timerqueue()); // empty: nothing more
        QCOMPARE(rig.control.sent.size(), 2);
    }

    // A queued command the interface did not carry out leaves the queue
    // (it would hold up the rest) and changes no state, picture or macro.
    void queueDropsACommandThatCouldNotBeSent()
    {
        LoungeShown rig;
        QStringList macros;
        rig.core.commands.setMacroHook([&macros](const QString& h, const QString& u, int code) {
            macros.append(QStringLiteral("%1%2 %3").arg(h, u).arg(code));
        });
        rig.control.setSendResult(false);
        rig.core.traffic.queue().setText(QStringLiteral("2A1~3B5~"));
        QCoro::waitFor(rig.core.traffic.timerqueue());
        QCOMPARE(rig.core.traffic.queue().text(), QStringLiteral("3B5~"));
        QVERIFY(rig.machineValue(QStringLiteral("LoungeLamp")).isEmpty());
        QVERIFY(rig.view.changes.isEmpty());
        QVERIFY(macros.isEmpty());
        QCOMPARE(rig.status.activity.last(),
                 QStringLiteral("Could not send ON to device with housecode A1 at 07:45:03: "
                                "the X10 interface did not answer"));
        rig.control.setSendResult(true);
        QCoro::waitFor(rig.core.traffic.timerqueue());
        QVERIFY(rig.core.traffic.queue().isEmpty());
        QCOMPARE(macros, QStringList{"B5 3"});
    }

    // A queued command waits for the one on the line (in its pause), then
    // goes.
    void queueWaitsWhileACommandRuns()
    {
        LoungeShown rig;
        rig.core.traffic.queue().setText(QStringLiteral("2B5~"));
        auto running = rig.core.commands.turnoff(QStringLiteral("A"), QStringLiteral("1"));
        QVERIFY(rig.core.commands.commandInProgress());
        auto tick = rig.core.traffic.timerqueue();
        QCOMPARE(rig.control.sent.size(), 1);
        QCOMPARE(rig.core.traffic.queue().text(), QStringLiteral("2B5~"));
        QCoro::waitFor(running);
        QCoro::waitFor(tick);
        QVERIFY(rig.core.traffic.queue().isEmpty());
        QCOMPARE(rig.control.sent.size(), 2);
        QCOMPARE(rig.control.sent[1].text(), QStringLiteral("B5 2 20"));
    }

    // Once started, the queue sends what a macro adds at once, with no
    // timer to wait for, and every entry in turn.
    void queuedCommandsGoAsTheyCome()
    {
        LoungeShown rig;
        rig.core.traffic.startQueue();
        rig.core.traffic.queue().append(2, QStringLiteral("B"), QStringLiteral("5"));
        QCOMPARE(rig.control.sent.size(), 1);
        rig.core.traffic.queue().append(3, QStringLiteral("B"), QStringLiteral("6"));
        QTRY_COMPARE(rig.control.sent.size(), 2);
        QCOMPARE(rig.control.sent[1].text(), QStringLiteral("B6 3 20"));
        QTRY_VERIFY(rig.core.traffic.queue().isEmpty());
    }

    void queueSkipsJunkEntries()
    {
        LoungeShown rig;
        rig.core.traffic.queue().setText(QStringLiteral("~~9Z1~2B5~"));
        QCoro::waitFor(rig.core.traffic.timerqueue());
        QVERIFY(rig.control.sent.isEmpty());
        QCOMPARE(rig.core.traffic.queue().text(), QStringLiteral("2B5~"));
        QCoro::waitFor(rig.core.traffic.timerqueue());
        QCOMPARE(rig.control.sent.size(), 1);
    }

    void clickTogglesDevice()
    {
        LoungeShown rig;
        InterfaceFinder finder(rig.control, rig.settings, rig.status, rig.prompts);
        RecordingSounds sounds;
        DeviceClickHandler click({finder, rig.core.rooms, rig.core.commands,
                                  rig.core.deviceStatus, rig.view, rig.prompts, sounds,
                                  rig.core.filebusy, rig.folder.path()});

        QCoro::waitFor(click.deviceclicked(0));
        QCOMPARE(rig.prompts.shown.last().title, QStringLiteral("not possible!"));
        QVERIFY(rig.control.sent.isEmpty());

        rig.settings.write(settingkeys::port, QStringLiteral("1"));
        QVERIFY(QCoro::waitFor(finder.findinterface()));
        QCoro::waitFor(click.deviceclicked(0, 0)); // 0 is a click too
        QCOMPARE(rig.control.sent.last().text(), QStringLiteral("A1 2 20"));
        QCOMPARE(rig.machineValue(QStringLiteral("dimLoungeLamp")), QStringLiteral("100"));
        QCoro::waitFor(click.deviceclicked(0));
        QCOMPARE(rig.control.sent.last().text(), QStringLiteral("A1 3 20"));
        QCOMPARE(rig.machineValue(QStringLiteral("LoungeLamp")), QStringLiteral("False"));
        QCOMPARE(rig.machineValue(QStringLiteral("dimLoungeLamp")), QStringLiteral("20"));
        QCOMPARE(rig.view.changes,
                 (QStringList{"on 0 LoungeLamp", "slider 0 100", "off 0 LoungeLamp", "slider 0 20"}));
        QCOMPARE(sounds.played, (QStringList{"1b1.wav", "1b2.wav", "1b1.wav", "1b2.wav"}));
        QVERIFY(!rig.view.busy);
        QVERIFY(!rig.core.filebusy.isHeld());

        QCoro::waitFor(click.deviceclicked(0, 40)); // a slider move
        QCOMPARE(rig.control.sent.last().text(), QStringLiteral("A1 4 60"));
        // Kept as the level the lamp was set to: the slider comes back at 40.
        QCOMPARE(rig.machineValue(QStringLiteral("dimLoungeLamp")), QStringLiteral("40"));

        // Unplugged: nothing switched is recorded or drawn, and the slider
        // goes back to the level the lamp was last set to.
        rig.control.setSendResult(false);
        rig.view.changes.clear();
        const QString lamp = rig.machineValue(QStringLiteral("LoungeLamp"));
        const QString level = rig.machineValue(QStringLiteral("dimLoungeLamp"));
        QCoro::waitFor(click.deviceclicked(0));
        QCoro::waitFor(click.deviceclicked(0, 70));
        QCOMPARE(rig.machineValue(QStringLiteral("LoungeLamp")), lamp);
        QCOMPARE(rig.machineValue(QStringLiteral("dimLoungeLamp")), level);
        QCOMPARE(rig.view.changes, QStringList{QStringLiteral("slider 0 ") + level});
        QVERIFY(rig.status.activity.last().startsWith(QLatin1String("Could not send DIM 70%")));
        QVERIFY(!rig.view.busy);
        rig.control.setSendResult(true);

        rig.view.names[2] = QStringLiteral("Gone");
        QCoro::waitFor(click.deviceclicked(2));
        QCOMPARE(rig.prompts.shown.last().text,
                 QStringLiteral("Sorry, couldn`t find this device in the device list."));
    }

    // A click whose handler goes (the window closing) while its command
    // waits for the line touches neither the handler nor the view after.
    void clickOutlivedByItsCommand()
    {
        LoungeShown rig;
        InterfaceFinder finder(rig.control, rig.settings, rig.status, rig.prompts);
        BusyMark filebusy;
        RecordingSounds sounds;
        rig.settings.write(settingkeys::port, QStringLiteral("1"));
        QVERIFY(QCoro::waitFor(finder.findinterface()));
        auto click = std::make_unique<DeviceClickHandler>(DeviceClickHandler::Parts{
            finder, rig.core.rooms, rig.core.commands, rig.core.deviceStatus, rig.view, rig.prompts, sounds,
            filebusy, rig.folder.path()});
        auto line = QCoro::waitFor(rig.core.commands.queue().take());
        auto clicked = click->deviceclicked(0);
        QVERIFY(rig.view.busy);
        click.reset();
        line.turn.release();
        QCoro::waitFor(clicked);
        QCOMPARE(rig.sent(), QStringList{"A1 2 20"});
        QCOMPARE(sounds.played, QStringList{"1b1.wav"});
        QVERIFY(rig.view.changes.isEmpty());
        QVERIFY(rig.view.busy);
    }
};

QTEST_GUILESS_MAIN(TestTrafficHandler)
#include "tst_traffichandler.moc"
