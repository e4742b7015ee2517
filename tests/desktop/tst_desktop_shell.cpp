#include "homepanel.h"
#include "httpget.h"
#include "sayoption.h"
#include "home/settingkeys.h"
#include "platform/clock.h"
#include "servlane.h"
#include "trayicon.h"
#include "waitwindow.h"
#include "windowrig.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QtTest>

#include <qcoro/qcorotask.h>

using namespace casalux;
using test::WindowRig;

namespace {

const QByteArray home = "Lounge~~~\r\n"
                        "Lounge~Lamp~A~3\r\n"
                        "Hall~~~\r\n"
                        "Hall~Light~B~12\r\n";

// Notes whether the port was closed under a command still on the line.
struct WatchedInterface final : test::ScriptedInterface {
    bool sending = false;
    bool closedWhileSending = false;
    QCoro::Task<bool> send(QString house, QString unit, int function, double level, int arg5,
                           int arg6) override
    {
        sending = true;
        const bool ok = co_await ScriptedInterface::send(house, unit, function, level, arg5, arg6);
        sending = false;
        co_return ok;
    }
    bool close() override
    {
        closedWhileSending = closedWhileSending || sending;
        return ScriptedInterface::close();
    }
};

// The start-up sequence as the program runs it, to its end. Its web server
// listens on a free port, never on one the machine or another test uses.
bool startUp(WindowRig& rig)
{
    rig.settings.write(settingkeys::webport, QString::number(test::freePort()));
    bool done = false;
    bool go = false;
    rig.window.core().launch([](MainWindow& w, bool& d, bool& g) -> QCoro::Task<> {
        g = co_await w.startup();
        d = true;
    }(rig.window, done, go));
    return QTest::qWaitFor([&done] { return done; }, 10000) && go;
}

// Counts the times a widget is shown.
struct ShowCounter final : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            ++count;
        return false;
    }
};

} // namespace

// The main window as the host of start-up and shut-down, the tray, the
// option boxes and typed spoken commands.
class TestDesktopShell : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QApplication::setApplicationVersion(QStringLiteral("1.4.2")); }
    void init() { Clock::instance().start(QDateTime::currentDateTime(), 200); }
    void cleanup() { Clock::instance().useSystemTime(); }

    void startsLoadsAndHandsTheInterfaceBackOnExit()
    {
        WindowRig rig(home);
        rig.settings.write(settingkeys::service, QStringLiteral("1"));
        rig.settings.write(settingkeys::installing, QStringLiteral("True"));
        rig.window.hide();

        QVERIFY(startUp(rig));
        QCOMPARE(rig.settings.read(settingkeys::closeengine), QStringLiteral("True"));
        QCOMPARE(rig.settings.read(settingkeys::installing), QStringLiteral("False"));
        QVERIFY(rig.window.isVisible());
        QVERIFY(!rig.window.loader().waitWindow());
        QCOMPARE(rig.window.panels().currentPanel(), MainWindow::Panel::Home);
        QVERIFY(rig.find<QCheckBox>("chk_service")->isChecked());
        QVERIFY(rig.find<QCheckBox>("chk_lww")->isChecked()); // a fresh install
        QVERIFY(!rig.find<QCheckBox>("chk_startup")->isChecked());
        // The engine is started when the program closes, never while it runs.
        QVERIFY(!rig.service.calls.contains(QStringLiteral("start")));

        // The start-up timer: the tray icon and the interface search.
        QTRY_VERIFY(rig.window.tray());
        QCOMPARE(rig.window.tray()->toolTip(), QStringLiteral("Casalux Version 1.4.2"));
        QTRY_COMPARE(rig.control.openedPorts.size(), 1);

        rig.window.tray()->exitAction()->trigger();
        QTRY_VERIFY(rig.window.finished());
        QVERIFY(!rig.window.isVisible());
        QVERIFY(!rig.window.tray());
        QCOMPARE(rig.settings.read(settingkeys::closeengine), QStringLiteral("False"));
        QVERIFY(rig.control.closeCount >= 1);
        QCOMPARE(rig.service.calls.count(QStringLiteral("start")), 1);
        QCOMPARE(rig.settings.read(settingkeys::left), QString::number(rig.window.pos().x()));
    }

    // The first minute tick of a new installation ticks "Run as a service"
    // and installs the engine; later ticks, and a program where the box is
    // ticked already, leave it alone.
    void firstTickOfANewInstallationTicksTheService()
    {
        WindowRig rig(home);
        QVERIFY(startUp(rig));
        auto* service = rig.find<QCheckBox>("chk_service");
        QVERIFY(!service->isChecked());
        // The interface search arms the minute timer; its first tick (a
        // fraction of a second on the test clock) does the rest.
        QTRY_COMPARE(rig.settings.read(settingkeys::run1), QStringLiteral("True"));
        rig.window.core().scheduler.stop();
        QVERIFY(rig.settle());
        QCOMPARE(rig.settings.read(settingkeys::service), QStringLiteral("1"));
        QVERIFY(service->isChecked());
        QCOMPARE(rig.service.calls.count(QStringLiteral("install")), 1);
        QVERIFY(!rig.service.calls.contains(QStringLiteral("start"))); // not until exit

        Clock::instance().freeze(Clock::instance().now().addSecs(60), 200);
        QCoro::waitFor(rig.window.core().scheduler.minuteTick());
        QVERIFY(rig.settle());
        QCOMPARE(rig.service.calls.count(QStringLiteral("install")), 1);
        rig.window.core().scheduler.stop();
        rig.window.close();
        QTRY_VERIFY(rig.window.finished());
        QCOMPARE(rig.service.calls.count(QStringLiteral("start")), 1);

        WindowRig ticked(home);
        ticked.settings.write(settingkeys::service, QStringLiteral("1"));
        QVERIFY(startUp(ticked));
        QTRY_COMPARE(ticked.settings.read(settingkeys::run1), QStringLiteral("True"));
        ticked.window.core().scheduler.stop();
        QVERIFY(ticked.settle());
        QVERIFY(!ticked.service.calls.contains(QStringLiteral("install")));
    }

    void exitWithoutTheServiceLeavesTheEngineStopped()
    {
        WindowRig rig(home);
        // Not a first run, whose first tick would tick "Run as a service".
        rig.settings.write(settingkeys::run1, QStringLiteral("True"));
        QVERIFY(startUp(rig));
        rig.window.close();
        QTRY_VERIFY(rig.window.finished());
        QVERIFY(!rig.service.calls.contains(QStringLiteral("start")));
    }

    void delayedStartShowsTheCountdownUntilSkipped()
    {
        Clock::instance().useSystemTime(); // one real second per step
        WindowRig rig(home);
        rig.settings.write(settingkeys::startupDelay, QStringLiteral("delayed"));
        bool done = false;
        rig.window.core().launch([](MainWindow& w, bool& d) -> QCoro::Task<> {
            co_await w.startup();
            d = true;
        }(rig.window, done));
        QTRY_VERIFY(rig.window.loader().waitWindow());
        WaitWindow* wait = rig.window.loader().waitWindow();
        QTRY_COMPARE(wait->progress(), QStringLiteral("Time Delay 19"));
        auto* skip = wait->findChild<QPushButton*>(QStringLiteral("SkipWait"));
        QVERIFY(skip->isVisible());
        QTest::mouseClick(skip, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(done, 3000);
        QVERIFY(rig.find<QCheckBox>("chk_startup")->isChecked());
    }

    // Closed during the countdown, before the option boxes are loaded: the
    // stored "Run as a service" decides, and the program neither searches
    // for the interface nor starts its web server.
    void closedDuringStartUpRestartsTheEngineByTheStoredOption()
    {
        Clock::instance().start(QDateTime::currentDateTime(), 10); // a countdown of 2 s
        WindowRig rig(home);
        rig.settings.write(settingkeys::service, QStringLiteral("1"));
        rig.settings.write(settingkeys::startupDelay, QStringLiteral("delayed"));
        const quint16 webPort = test::freePort();
        rig.settings.write(settingkeys::webport, QString::number(webPort));
        bool done = false;
        bool go = true;
        rig.window.core().launch([](MainWindow& w, bool& d, bool& g) -> QCoro::Task<> {
            g = co_await w.startup();
            d = true;
        }(rig.window, done, go));
        QTRY_VERIFY(rig.window.loader().waitWindow());
        QTRY_VERIFY(
            rig.window.loader().waitWindow()->progress().startsWith(QLatin1String("Time Delay")));
        QVERIFY(!rig.find<QCheckBox>("chk_service")->isChecked()); // not loaded yet
        rig.window.close();
        QTRY_VERIFY(rig.window.finished());
        QTRY_VERIFY(done);
        QVERIFY(!go);
        QCOMPARE(rig.service.calls.count(QStringLiteral("start")), 1);
        QCOMPARE(rig.settings.read(settingkeys::closeengine), QStringLiteral("False"));
        QTest::qWait(Clock::instance().interval(2 * MainWindow::startupTickMs));
        QVERIFY(rig.control.openedPorts.isEmpty());
        QVERIFY(!rig.window.core().server.web().ServerRunning());
    }

    // Closed while the interface is searched for: the search stops at its
    // next port, before the port is closed and the engine started, and
    // says nothing about not finding one.
    void closedDuringTheSearchStopsIt()
    {
        Clock::instance().start(QDateTime::currentDateTime(), 20);
        WindowRig rig(home);
        rig.settings.write(settingkeys::service, QStringLiteral("1"));
        rig.control.setDefaultOpenAnswer(InterfaceControl::NoAnswer);
        rig.control.setOpenSeconds(1);
        QVERIFY(startUp(rig));
        QTRY_VERIFY(rig.control.openedPorts.size() >= 2);
        const qsizetype triedBeforeClose = rig.control.openedPorts.size();
        rig.window.close();
        QTRY_VERIFY(rig.window.finished());
        QCOMPARE(rig.service.calls.count(QStringLiteral("start")), 1);
        QTest::qWait(Clock::instance().interval(5000)); // five more ports' worth
        QVERIFY2(rig.control.openedPorts.size() <= triedBeforeClose + 1,
                 qPrintable(QString::number(rig.control.openedPorts.size())));
        QVERIFY(!rig.control.isOpen);
        for (const auto& box : rig.prompts.shown)
            QVERIFY2(box.title != QLatin1String("ERROR!"), qPrintable(box.text));
    }

    // Closed while a command from a page is on the line: the port is
    // closed only once the command is through, and the page gets its answer.
    void exitLetsAPageCommandFinish()
    {
        Clock::instance().start(QDateTime::currentDateTime(), 10);
        WatchedInterface line;
        line.setSendSeconds(5);
        WindowRig rig(home, {}, &line);
        QVERIFY(startUp(rig));
        QTRY_COMPARE(line.openedPorts.size(), 1);
        const auto webPort = quint16(rig.settings.read(settingkeys::webport).toUInt());
        auto page =
            test::httpGet(webPort, QStringLiteral("/index.html?A~3~LoungeLamp~turnon~Lounge"));
        QTRY_VERIFY(line.sending);
        rig.window.close();
        QTRY_VERIFY_WITH_TIMEOUT(rig.window.finished(), 10000);
        QVERIFY(!line.closedWhileSending);
        QVERIFY(line.closeCount >= 1);
        const QByteArray answer = QCoro::waitFor(page);
        QVERIFY2(answer.startsWith("HTTP/1.1 200") || answer.startsWith("HTTP/1.0 200"),
                 answer.constData());
    }

    // Left in the tray, the window is never shown on the way there; the
    // tray icon is the program's own (the rig's folder had no pictures when
    // the window was made), and its menu can bring the window back too.
    void leftInTheTrayStartsHiddenAndComesBack()
    {
        WindowRig rig(home);
        rig.window.hide(); // as a program that has not started yet
        ShowCounter shows;
        rig.window.installEventFilter(&shows);
        rig.settings.write(settingkeys::state, QStringLiteral("1"));
        rig.window.setTrayCheck([] { return true; });
        QVERIFY(startUp(rig));
        QTRY_VERIFY(rig.window.tray());
        QVERIFY(!rig.window.isVisible());
        QCOMPARE(shows.count, 0);
        const QIcon icon = rig.window.tray()->icon();
        QVERIFY(!icon.isNull());
        QVERIFY(icon.availableSizes().contains(QSize(16, 16)));
        QVERIFY(icon.availableSizes().contains(QSize(256, 256)));

        rig.window.tray()->activate(QSystemTrayIcon::Trigger);
        QVERIFY(rig.window.isVisible());
        QVERIFY(!rig.window.isMinimized());
        QCOMPARE(rig.settings.read(settingkeys::state), QStringLiteral("0"));

        rig.window.hide();
        QCOMPARE(rig.window.tray()->menu()->actions().first(), rig.window.tray()->showAction());
        QCOMPARE(rig.window.tray()->showAction()->text(), QStringLiteral("-= Restore Window =-"));
        QStringList items;
        for (const QAction* item : rig.window.tray()->menu()->actions())
            items << (item->isSeparator() ? QStringLiteral("-") : item->text());
        QCOMPARE(items, (QStringList{QStringLiteral("-= Restore Window =-"), QStringLiteral("-"),
                                     QStringLiteral("About Casalux"), QStringLiteral("Exit")}));
        rig.window.tray()->showAction()->trigger();
        QVERIFY(rig.window.isVisible());
    }

    void sayNeedsAPhrase_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("phrase");
        const int absent = int(SayOption::Kind::Absent);
        const int phrase = int(SayOption::Kind::Phrase);
        const int missing = int(SayOption::Kind::Missing);
        QTest::newRow("none") << QStringList{"casalux", "--home", "/tmp/h"} << absent << "";
        QTest::newRow("phrase") << QStringList{"casalux", "--say", "Hall Light on"} << phrase
                                << "Hall Light on";
        QTest::newRow("equals") << QStringList{"casalux", "--say=Cancel  Hall"} << phrase
                                << "Cancel Hall";
        QTest::newRow("last") << QStringList{"casalux", "--say"} << missing << "";
        QTest::newRow("empty") << QStringList{"casalux", "--say="} << missing << "";
        QTest::newRow("blank") << QStringList{"casalux", "--say", "  "} << missing << "";
        QTest::newRow("option next")
            << QStringList{"casalux", "--say", "--home", "/tmp/h"} << missing << "";
    }
    void sayNeedsAPhrase()
    {
        QFETCH(QStringList, args);
        QFETCH(int, kind);
        QFETCH(QString, phrase);
        const SayOption option = SayOption::parse(args);
        QCOMPARE(int(option.kind), kind);
        QCOMPARE(option.phrase, phrase);
    }

    void withoutATrayTheWindowIsNeverHidden()
    {
        WindowRig rig(home);
        rig.settings.write(settingkeys::state, QStringLiteral("1"));
        rig.window.setTrayCheck([] { return false; });
        QVERIFY(startUp(rig));
        QTRY_VERIFY(rig.window.tray());
        QVERIFY(rig.window.isVisible());

        // Minimising by hand keeps it on the task bar too.
        rig.window.showNormal();
        rig.window.showMinimized();
        QTest::qWait(50);
        QVERIFY(rig.window.isVisible());
        QCOMPARE(rig.settings.read(settingkeys::state), QStringLiteral("1"));
    }

    void optionBoxesChangeTheSettingsOnlyOnceLoaded()
    {
        WindowRig rig(home);
        // Not a first run: its first minute tick would tick "Run as a
        // service" by itself, at a moment that depends on the machine's load.
        rig.settings.write(settingkeys::run1, QStringLiteral("True"));
        QVERIFY(startUp(rig));
        auto* lww = rig.find<QCheckBox>("chk_lww");
        QCOMPARE(lww->text(), QStringLiteral("&Load at log-in"));
        auto* service = rig.find<QCheckBox>("chk_service");
        auto* delayed = rig.find<QCheckBox>("chk_startup");

        // Before the start-up timer has run, clicks do nothing.
        QVERIFY(!rig.window.tray());
        QTest::mouseClick(delayed, Qt::LeftButton);
        QVERIFY(rig.settle());
        QVERIFY(!delayed->isChecked());
        QCOMPARE(rig.settings.read(settingkeys::startupDelay), QString());

        QTRY_VERIFY(rig.window.tray());
        QTest::mouseClick(lww, Qt::LeftButton);
        QVERIFY(rig.settle());
        QCOMPARE(rig.settings.read(settingkeys::lww), QStringLiteral("0"));
        QCOMPARE(rig.window.status().text(2),
                 QStringLiteral("Casalux will no longer start when you log in"));
        QTest::mouseClick(lww, Qt::LeftButton);
        QVERIFY(rig.settle());
        QVERIFY(QFile::exists(rig.folder.file(QStringLiteral("config/autostart/casalux.desktop"))));

        QTest::mouseClick(service, Qt::LeftButton);
        QVERIFY(rig.settle());
        QCOMPARE(rig.service.calls, QStringList{QStringLiteral("install")});
        QCOMPARE(rig.settings.read(settingkeys::service), QStringLiteral("1"));
        // Unticking asks; No keeps the service.
        rig.prompts.queueAnswer(Prompts::Answer::No);
        QTest::mouseClick(service, Qt::LeftButton);
        QVERIFY(rig.settle());
        QCOMPARE(rig.prompts.shown.last().title, QStringLiteral("Stop service?"));
        QCOMPARE(rig.settings.read(settingkeys::service), QStringLiteral("1"));

        QTest::mouseClick(delayed, Qt::LeftButton);
        QVERIFY(rig.settle());
        QCOMPARE(rig.settings.read(settingkeys::startupDelay), QStringLiteral("delayed"));
        QCOMPARE(rig.prompts.shown.last().title, QStringLiteral("Service Information"));
    }

    void aboutBoxNamesTheVersion()
    {
        WindowRig rig(home);
        rig.window.loadtray();
        rig.window.tray()->aboutAction()->trigger();
        QVERIFY(rig.settle());
        QCOMPARE(rig.prompts.shown.size(), 1);
        QCOMPARE(rig.prompts.shown.first().title, QStringLiteral("About Casalux"));
        QVERIFY(rig.prompts.shown.first().text.contains(QStringLiteral("This is version 1.4.2")));
    }

    void typedCommandsSwitchAndRepeat()
    {
        WindowRig rig(home);
        QVERIFY(rig.connectInterface());
        rig.window.loader().initagent();
        rig.window.loader().loadtree();
        QCOMPARE(rig.window.status().text(2), QStringLiteral("MsAgent Character has loaded"));
        auto* say = rig.find<QLineEdit>("txt_say");

        QTest::keyClicks(say, QStringLiteral("Cancel Hall Light"));
        QCOMPARE(rig.window.panels().currentPanel(), MainWindow::Panel::Speech);
        QTest::keyClick(say, Qt::Key_Return);
        QVERIFY(rig.settle());
        QVERIFY(say->text().isEmpty());
        QCOMPARE(rig.sentTexts().filter(QStringLiteral("B12 3 ")).size(), 1); // Off

        QTest::keyClicks(say, QStringLiteral("repeat command"));
        QTest::keyClick(say, Qt::Key_Return);
        QVERIFY(rig.settle());
        QCOMPARE(rig.sentTexts().filter(QStringLiteral("B12 3 ")).size(), 2);

        // What it cannot understand stays in the box to be mended.
        QTest::keyClicks(say, QStringLiteral("make tea"));
        QTest::keyClick(say, Qt::Key_Return);
        QCOMPARE(say->text(), QStringLiteral("make tea"));

        // As from `casalux --say`, through the one-copy socket.
        QVERIFY(QCoro::waitFor(rig.instance.claim()));
        QVERIFY(SingleInstance(rig.instanceKey).sendPhrase(QStringLiteral("Lounge Lamp on")));
        QTRY_COMPARE(rig.sentTexts().filter(QStringLiteral("A3 2 ")).size(), 1); // On
        QVERIFY(rig.settle());
    }

    // The microphone listens only when the user has said so, on the speech
    // panel; the choice is the user's own and outlives the run.
    void listeningIsOffUntilAsked()
    {
        {
            WindowRig rig(home);
            QVERIFY(startUp(rig));
            QTRY_VERIFY(rig.window.tray()); // the start-up tick has run
            auto* listen = rig.find<QCheckBox>("chk_listen");
            QVERIFY(listen);
            QVERIFY(!listen->isChecked());
            QVERIFY(!rig.window.spoken().isOn());
            QVERIFY(!rig.window.spoken().listening());

            listen->click();
            QVERIFY(rig.window.spoken().isOn());
            QCOMPARE(rig.settings.GetSetting(QStringLiteral("Casalux"), QStringLiteral("agent"),
                                             QStringLiteral("listen")),
                     QStringLiteral("1"));
            listen->click();
            QVERIFY(!rig.window.spoken().isOn());
            QVERIFY(!rig.window.spoken().listening());
            QCOMPARE(rig.settings.read(settingkeys::listen), QStringLiteral("0"));
            QVERIFY(rig.settle());
        }
        WindowRig rig(home);
        rig.settings.write(settingkeys::listen, QStringLiteral("1"));
        QVERIFY(startUp(rig));
        QTRY_VERIFY(rig.window.tray());
        QVERIFY(rig.find<QCheckBox>("chk_listen")->isChecked());
        QVERIFY(rig.window.spoken().isOn());
        QVERIFY(rig.settle());
    }

    void aMissingCharacterLeavesOnlyTheStatusText()
    {
        WindowRig rig(home);
        rig.settings.write(settingkeys::lastCharacter, QStringLiteral("genie"));
        rig.window.loader().initagent();
        rig.window.loader().loadtree();
        QCOMPARE(rig.window.status().text(2),
                 QStringLiteral("Cannot load MsAgent Character, see help file for more."));
        QVERIFY(rig.window.sayPhrase(QStringLiteral("Cancel Hall Light")).isEmpty());
        QVERIFY(rig.settle());
        QVERIFY(rig.control.sent.isEmpty());
    }
};

QTEST_MAIN(TestDesktopShell)
#include "tst_desktop_shell.moc"
