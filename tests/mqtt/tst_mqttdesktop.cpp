#include "brokerprocess.h"
#include "home/settingkeys.h"
#include "httpget.h"
#include "mqttclient.h"
#include "platform/clock.h"
#include "simprocess.h"
#include "windowrig.h"
#include "x10/cm11acontrol.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

using namespace casalux;

namespace {
constexpr double scale = 20;
const QString lampState = QStringLiteral("casalux/LoungeLamp/state");

// A broker with a hub listening to every topic, and the simulator behind
// serial port 1.
struct HubAndLine {
    test::BrokerProcess broker;
    test::MqttClient hub;
    test::SimProcess sim;
    // Empty once all three are up, else why not.
    QString start()
    {
        if (!broker.start())
            return QStringLiteral("the broker did not start: ") + broker.log();
        if (!hub.connectTo(broker.port()))
            return QStringLiteral("the hub could not connect");
        hub.subscribe(QStringLiteral("#"));
        if (!sim.start({}, scale))
            return sim.errors();
        qputenv("CASALUX_SERIAL_1", sim.devicePath().toLocal8Bit());
        return {};
    }
};
} // namespace

// The desktop program's side of the bridge: it connects once it holds the
// interface, a hub's command switches the lamp and redraws it, the MQTT
// settings in the web server panel take effect with Apply, and closing the
// window leaves the broker cleanly for the engine.
class TestMqttDesktop : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        if (!test::BrokerProcess::installed())
            QSKIP(test::BrokerProcess::missing());
        Clock::instance().start(QDateTime(QDate(2026, 3, 5), QTime(19, 0)), scale);
    }
    void cleanup()
    {
        Clock::instance().useSystemTime();
        qunsetenv("CASALUX_SERIAL_1");
    }

    void followsTheInterfaceAndTheSettings()
    {
        HubAndLine parts;
        const QString why = parts.start();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        auto& [broker, hub, sim] = parts;
        const auto log = [&] { return sim.lines().join(QLatin1Char('\n')) + broker.log(); };

        Cm11aControl control;
        test::WindowRig rig("Lounge~~~\r\nLounge~Lamp~A~3\r\n", {}, &control);
        rig.setType("LoungeLamp", "bulb");
        rig.settings.write(settingkeys::port, QStringLiteral("1"));
        rig.settings.write(settingkeys::mqtthost, QStringLiteral("127.0.0.1"));
        rig.settings.write(settingkeys::mqttport, QString::number(broker.port()));

        // Not before the interface is this program's.
        rig.window.panels().showPanel(MainWindow::Panel::WebServer);
        auto* status = rig.find<QLabel>("lbl_mqttstatus");
        QVERIFY(status);
        QTest::qWait(300);
        QVERIFY(hub.last(QStringLiteral("casalux/status")).isNull());
        QVERIFY2(status->text().startsWith(QLatin1String("MQTT: not connected")),
                 qPrintable(status->text()));

        rig.window.startInterfaceSearch();
        QVERIFY(rig.settle());
        QVERIFY(rig.window.core().finder.interfaceReady());
        rig.window.core().scheduler.stop();
        QTRY_COMPARE_WITH_TIMEOUT(hub.last(QStringLiteral("casalux/status")), QByteArray("online"),
                                  10000);
        QTRY_COMPARE_WITH_TIMEOUT(hub.last(lampState), QByteArray("OFF"), 5000);
        QVERIFY2(broker.log().contains(QLatin1String("casalux-desktop")), qPrintable(log()));
        QCOMPARE(status->text(),
                 QStringLiteral("MQTT: connected to 127.0.0.1:%1").arg(broker.port()));

        // The hub switches the lamp: on the line, recorded, redrawn.
        QVERIFY(rig.clickNode("Lounge"));
        auto* lamp = rig.find<QToolButton>("device_0");
        hub.publish(QStringLiteral("casalux/LoungeLamp/set"), "ON");
        QTRY_VERIFY2_WITH_TIMEOUT(sim.lines().join('\n').contains(QLatin1String("A3 ON")),
                                  qPrintable(log()), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(hub.last(lampState), QByteArray("ON"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(lamp->property("picture").toString(),
                                  QStringLiteral("bulbon.gif"), 5000);

        // A click in the window is passed on too.
        QTest::mouseClick(lamp, Qt::LeftButton);
        QVERIFY(rig.settle());
        QTRY_COMPARE_WITH_TIMEOUT(hub.last(lampState), QByteArray("OFF"), 5000);

        // Another prefix through the panel: the old one is left cleanly.
        rig.window.panels().showPanel(MainWindow::Panel::WebServer);
        rig.find<QLineEdit>("txt_mqttprefix")->setText(QStringLiteral("house"));
        QTest::mouseClick(rig.find<QPushButton>("cmd_mqttapply"), Qt::LeftButton);
        QVERIFY(rig.settle());
        QCOMPARE(rig.settings.read(settingkeys::mqttprefix), QStringLiteral("house"));
        QTRY_COMPARE_WITH_TIMEOUT(hub.last(QStringLiteral("house/status")), QByteArray("online"),
                                  10000);
        QCOMPARE(hub.last(QStringLiteral("casalux/status")), QByteArray("offline"));
        QTRY_COMPARE_WITH_TIMEOUT(hub.last(QStringLiteral("house/LoungeLamp/state")),
                                  QByteArray("OFF"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(
            status->text(), QStringLiteral("MQTT: connected to 127.0.0.1:%1").arg(broker.port()),
            5000);

        // A broker that is not there: said on the status line, tried again.
        rig.find<QLineEdit>("txt_mqttport")->setText(QString::number(test::freePort()));
        QTest::mouseClick(rig.find<QPushButton>("cmd_mqttapply"), Qt::LeftButton);
        QVERIFY(rig.settle());
        QTRY_VERIFY2_WITH_TIMEOUT(status->text().startsWith(QLatin1String("MQTT: cannot reach")) &&
                                      status->text().contains(QLatin1String("trying again in")),
                                  qPrintable(status->text()), 5000);
        rig.find<QLineEdit>("txt_mqttport")->setText(QString::number(broker.port()));
        QTest::mouseClick(rig.find<QPushButton>("cmd_mqttapply"), Qt::LeftButton);
        QVERIFY(rig.settle());
        QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith(QLatin1String("MQTT: connected")),
                                 10000);

        // Closing hands the interface, and the broker, to the engine.
        hub.clear();
        QSignalSpy closed(&rig.window, &MainWindow::closed);
        rig.window.close();
        QTRY_VERIFY_WITH_TIMEOUT(closed.count() == 1, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(hub.last(QStringLiteral("house/status")), QByteArray("offline"),
                                  5000);
        QTRY_VERIFY2_WITH_TIMEOUT(broker.leftCleanly(QStringLiteral("casalux-desktop")),
                                  qPrintable(broker.linesAbout(QStringLiteral("casalux-desktop"))),
                                  5000);
    }

    // The real engine holds the interface and the broker; the desktop
    // program asks for the interface (as its start-up does), and the link
    // to the hub goes with it: the engine leaves cleanly, the window's
    // program connects, and the hub's commands reach the line through it.
    void handOverMovesTheBridge()
    {
        HubAndLine parts;
        const QString why = parts.start();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        auto& [broker, hub, sim] = parts;
        const auto line = [&sim] { return sim.lines().join(QLatin1Char('\n')); };

        Cm11aControl control;
        test::WindowRig rig("Den~~~\r\nDen~Fan~A~4\r\n", {}, &control);
        rig.settings.write(settingkeys::port, QStringLiteral("1"));
        rig.settings.write(settingkeys::webport, QString::number(test::freePort()));
        rig.settings.write(settingkeys::mqtthost, QStringLiteral("127.0.0.1"));
        rig.settings.write(settingkeys::mqttport, QString::number(broker.port()));

        QProcess engine;
        engine.setProcessChannelMode(QProcess::ForwardedChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("CASALUX_NOW"));
        env.remove(QStringLiteral("CASALUX_TIME_SCALE"));
        env.insert(QStringLiteral("CASALUX_HOME"), rig.folder.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), rig.folder.file(QStringLiteral("xdg")));
        engine.setProcessEnvironment(env);
        engine.start(QStringLiteral(HEARTHCORE_PATH), {});
        QVERIFY(engine.waitForStarted(5000));
        const auto stopEngine = qScopeGuard([&engine] {
            engine.terminate();
            if (!engine.waitForFinished(10000))
                engine.kill();
        });

        QTRY_COMPARE_WITH_TIMEOUT(hub.last(QStringLiteral("casalux/status")), QByteArray("online"),
                                  10000);
        hub.publish(QStringLiteral("casalux/DenFan/set"), "ON");
        QTRY_VERIFY2_WITH_TIMEOUT(line().contains(QLatin1String("A4 ON")), qPrintable(line()),
                                  10000);
        QTRY_COMPARE_WITH_TIMEOUT(hub.last(QStringLiteral("casalux/DenFan/state")),
                                  QByteArray("ON"), 5000);
        QVERIFY(!broker.linesAbout(QStringLiteral("casalux-desktop")).contains("connected"));

        // The desktop program asks for the interface.
        rig.settings.write(settingkeys::closeengine, QStringLiteral("True"));
        QTRY_VERIFY2_WITH_TIMEOUT(broker.leftCleanly(QStringLiteral("casalux-engine")),
                                  qPrintable(broker.linesAbout(QStringLiteral("casalux-engine"))),
                                  15000);
        // The broker logs the engine's leaving before the hub has read its
        // "offline".
        QTRY_COMPARE_WITH_TIMEOUT(hub.last(QStringLiteral("casalux/status")),
                                  QByteArray("offline"), 5000);
        hub.clear();
        rig.window.startInterfaceSearch();
        QVERIFY(rig.settle());
        QVERIFY(rig.window.core().finder.interfaceReady());
        rig.window.core().scheduler.stop();
        QTRY_COMPARE_WITH_TIMEOUT(hub.last(QStringLiteral("casalux/status")), QByteArray("online"),
                                  10000);
        QVERIFY2(
            broker.linesAbout(QStringLiteral("casalux-desktop")).contains("New client connected"),
            qPrintable(broker.linesAbout(QStringLiteral("casalux-desktop"))));
        // The state the engine recorded is the desktop program's to tell.
        QTRY_COMPARE_WITH_TIMEOUT(hub.last(QStringLiteral("casalux/DenFan/state")),
                                  QByteArray("ON"), 5000);
        hub.publish(QStringLiteral("casalux/DenFan/set"), "OFF");
        QTRY_VERIFY2_WITH_TIMEOUT(line().contains(QLatin1String("A4 OFF")), qPrintable(line()),
                                  10000);
        QTRY_COMPARE_WITH_TIMEOUT(hub.last(QStringLiteral("casalux/DenFan/state")),
                                  QByteArray("OFF"), 5000);
        QCOMPARE(engine.state(), QProcess::Running);
    }
};

QTEST_MAIN(TestMqttDesktop)
#include "tst_mqttdesktop.moc"
