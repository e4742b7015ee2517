#include "home/settingsstore.h"
#include "platform/clock.h"
#include "recordingstatus.h"
#include "scriptedinterface.h"
#include "scriptedprompts.h"
#include "temphome.h"
#include "x10/interfacefinder.h"

#include <QtTest>

using namespace casalux;

class TestInterfaceFinder : public QObject {
    Q_OBJECT

    struct Rig : test::TempHome {
        test::ScriptedInterface control;
        test::RecordingStatus status;
        test::ScriptedPrompts prompts;
        InterfaceFinder finder{control, settings, status, prompts};
        bool ended = false;
        int armedMs = -1;
        QList<bool> busy;
        Rig()
        {
            finder.setHooks({[this](bool b) { busy.append(b); }, [this] { ended = true; },
                             [this](int ms) { armedMs = ms; }});
        }
    };

private Q_SLOTS:
    void init() { Clock::instance().freeze(QDateTime(QDate(2026, 3, 5), QTime(9, 15, 42)), 1000); }
    void cleanup() { Clock::instance().useSystemTime(); }

    void savedPortAnswers()
    {
        Rig rig;
        rig.settings.write(settingkeys::port, QStringLiteral("4"));
        QVERIFY(QCoro::waitFor(rig.finder.findinterface()));
        QCOMPARE(rig.control.openedPorts, QList<int>{4});
        QVERIFY(rig.finder.interfaceReady());
        QCOMPARE(rig.control.numericOption(), 4);
        QCOMPARE(rig.control.ownerName(), QStringLiteral("Casalux"));
        QCOMPARE(rig.status.ready, QStringList{QStringLiteral("STATUS: Ready")});
        QCOMPARE(rig.armedMs, 18000); // the next whole minute
        QCOMPARE(rig.status.activity.last(),
                 QStringLiteral("Found and Initialized Interface on com port 4, timer 18000"));
        QCOMPARE(rig.busy, (QList<bool>{true, false}));
    }

    // A saved port that opens but never answers ends the program after four tries.
    void savedPortSilentEndsProgram()
    {
        Rig rig;
        rig.settings.write(settingkeys::port, QStringLiteral("3"));
        rig.control.setDefaultOpenAnswer(InterfaceControl::NoAnswer);
        QVERIFY(!QCoro::waitFor(rig.finder.findinterface()));
        QCOMPARE(rig.control.openedPorts, (QList<int>{3, 3, 3, 3}));
        QVERIFY(rig.ended);
        QVERIFY(!rig.finder.interfaceReady());
        QCOMPARE(rig.prompts.shown.size(), 1);
        QVERIFY(rig.prompts.shown[0].text.startsWith(
            QStringLiteral("ERROR: Could not initialize your X10 Home Control unit.")));
        QCOMPARE(rig.prompts.shown[0].title, QStringLiteral("Error"));
        QCOMPARE(rig.settings.read(settingkeys::port), QStringLiteral("3"));
        QCOMPARE(rig.status.activity.last(), QStringLiteral("ERROR! Could not find your X10 Interface"));
        QCOMPARE(rig.armedMs, -1);
    }

    void savedPortAnswersOnThirdTry()
    {
        Rig rig;
        rig.settings.write(settingkeys::port, QStringLiteral("3"));
        rig.control.queueOpenAnswers({2, 2, 0});
        QVERIFY(QCoro::waitFor(rig.finder.findinterface()));
        QCOMPARE(rig.control.openedPorts, (QList<int>{3, 3, 3}));
        QVERIFY(!rig.ended);
    }

    // An unusable saved port, or none saved, searches 1..15 (skipping the saved one).
    void searchWhenSavedPortUnusable()
    {
        Rig rig;
        rig.settings.write(settingkeys::port, QStringLiteral("2"));
        rig.control.queueOpenAnswers({1, 1, 1, 2, 1, 0});
        QVERIFY(QCoro::waitFor(rig.finder.findinterface()));
        QCOMPARE(rig.control.openedPorts, (QList<int>{2, 1, 3, 4, 5, 6}));
        QCOMPARE(rig.settings.read(settingkeys::port), QStringLiteral("6"));
        QVERIFY(rig.status.activity.contains(
            QStringLiteral("Please wait, looking for interface on com port 5")));
    }

    void searchFindsNothing()
    {
        Rig rig; // port reads "none" on a fresh system
        rig.control.setDefaultOpenAnswer(InterfaceControl::PortUnusable);
        QVERIFY(!QCoro::waitFor(rig.finder.findinterface()));
        QCOMPARE(rig.control.openedPorts.size(), 15);
        QCOMPARE(rig.control.openedPorts.first(), 1);
        QCOMPARE(rig.control.openedPorts.last(), 15);
        QVERIFY(!rig.ended);
        QCOMPARE(rig.prompts.shown.last().title, QStringLiteral("ERROR!"));
        QVERIFY(rig.prompts.shown.last().text.startsWith(
            QStringLiteral("Sorry, Could not find a CM11 or CM12 Home Control Interface")));
        QCOMPARE(rig.settings.read(settingkeys::port), QStringLiteral("none"));
        QCOMPARE(rig.busy.last(), false);
    }

    void manualPort_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("0") << "0" << false;
        QTest::newRow("1") << "1" << true;
        QTest::newRow("15") << "15" << true;
        QTest::newRow("16") << "16" << false;
        QTest::newRow("text") << "com3" << false;
    }
    void manualPort()
    {
        QFETCH(QString, answer);
        QFETCH(bool, accepted);
        Rig rig;
        rig.settings.write(settingkeys::port, QStringLiteral("7"));
        rig.prompts.queueInput(answer);
        QCOMPARE(QCoro::waitFor(rig.finder.manualport()), accepted);
        QCOMPARE(rig.prompts.shown[0].title, QStringLiteral("X10 Interface"));
        if (accepted) {
            QCOMPARE(rig.settings.read(settingkeys::port), answer);
            QCOMPARE(rig.control.openedPorts.first(), answer.toInt());
        } else {
            QCOMPARE(rig.prompts.shown[1].text,
                     QStringLiteral("Sorry, that was a silly number. Please try again"));
            QCOMPARE(rig.settings.read(settingkeys::port), QStringLiteral("7"));
            QVERIFY(rig.control.openedPorts.isEmpty());
        }
    }

    void manualPortCancelledChangesNothing()
    {
        Rig rig;
        rig.prompts.queueInput(std::nullopt);
        QVERIFY(!QCoro::waitFor(rig.finder.manualport()));
        QCOMPARE(rig.prompts.shown.size(), 1);
        QVERIFY(rig.control.openedPorts.isEmpty());
    }

    void autodetectForgetsPortAndSearches()
    {
        Rig rig;
        rig.settings.write(settingkeys::port, QStringLiteral("9"));
        rig.control.queueOpenAnswers({1, 0});
        QVERIFY(QCoro::waitFor(rig.finder.autodetect()));
        QCOMPARE(rig.control.openedPorts, (QList<int>{1, 2}));
        QCOMPARE(rig.settings.read(settingkeys::port), QStringLiteral("2"));
    }
};

QTEST_GUILESS_MAIN(TestInterfaceFinder)
#include "tst_interfacefinder.moc"
