#include "brokerprocess.h"
#include "enginerig.h"
#include "home/settingkeys.h"
#include "httpget.h"
#include "mqttclient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace casalux;

namespace {

constexpr double scale = 30; // back-off and the device list check run thirty times fast

const QString lampState = QStringLiteral("casalux/DenLamp/state");
const QString fanState = QStringLiteral("casalux/DenFan/state");
const QString status = QStringLiteral("casalux/status");
const QString lampConfig = QStringLiteral("homeassistant/light/casalux_DenLamp/config");
const QString fanConfig = QStringLiteral("homeassistant/switch/casalux_DenFan/config");

QJsonObject json(const QByteArray& payload)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(payload, &error);
    return error.error == QJsonParseError::NoError ? doc.object() : QJsonObject();
}

bool ok(const QByteArray& answer)
{
    return answer.startsWith("HTTP/1.1 200") || answer.startsWith("HTTP/1.0 200");
}

} // namespace

// The real hearthcore program with the simulated interface and a real
// mosquitto broker; the test is the hub, on a libmosquitto client.
class TestMqttEngine : public QObject {
    Q_OBJECT

    struct Rig : test::EngineRig {
        test::BrokerProcess broker;
        test::MqttClient hub;

        Rig()
        {
            folder.write(QStringLiteral("html/index.html"),
                         "<body><h1><room></h1><p><dev0></p>\r\n");
            folder.write(QStringLiteral("rmlst.rvf"), "Den~~~\r\nDen~Lamp~A~3\r\nDen~Fan~A~4\r\n");
            // The lamp is on a dimmable lamp module; the fan keeps the
            // default appliance module.
            settings.SaveSetting(QStringLiteral("Casalux"), QStringLiteral("type"),
                                 QStringLiteral("DenLamp"), QStringLiteral("bulb2"));
            settings.write(settingkeys::mqtthost, QStringLiteral("127.0.0.1"));
            settings.write(settingkeys::mqttport, QString::number(broker.port()));
        }
        bool startBroker()
        {
            if (!broker.start() || !hub.connectTo(broker.port()))
                return false;
            hub.subscribe(QStringLiteral("#"));
            return true;
        }
        bool start()
        {
            return startBroker() && EngineRig::start(QStringLiteral("2026-03-05T07:29:50"), scale);
        }
        QString log() { return simLog() + QStringLiteral("\n--- broker\n") + broker.log(); }
        QByteArray get(const char* target)
        {
            return QCoro::waitFor(test::httpGet(webPort, QString::fromLatin1(target)));
        }
    };

private Q_SLOTS:
    void init()
    {
        if (!test::BrokerProcess::installed())
            QSKIP(test::BrokerProcess::missing());
    }

    // The hub named while the engine runs (casaluxctl mqtt host ...): the
    // engine connects without a restart, and a set switches the lamp.
    void hubNamedWhileRunning()
    {
        Rig rig;
        rig.settings.write(settingkeys::mqtthost, QString());
        QVERIFY(rig.start());
        QTRY_VERIFY_WITH_TIMEOUT(!rig.get("/index.html").isEmpty(), 10000);
        QTest::qWait(1000);
        QVERIFY(rig.hub.last(status).isNull());
        rig.settings.write(settingkeys::mqtthost, QStringLiteral("127.0.0.1"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(status), QByteArray("online"), 10000);
        rig.hub.publish(QStringLiteral("casalux/DenLamp/set"), "ON");
        QTRY_VERIFY2_WITH_TIMEOUT(rig.simLog().contains(QLatin1String("A3 ON")),
                                  qPrintable(rig.log()), 10000);
    }

    // A hub's ON goes out on the power line and comes back as the state;
    // a brightness dims; a command the interface cannot carry out gives
    // the hub the state the device still has.
    void setSwitchesTheLampAndStateFollows()
    {
        Rig rig;
        QVERIFY(rig.start());
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(status), QByteArray("online"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(lampState), QByteArray("OFF"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(QStringLiteral("casalux/DenLamp/brightness")),
                                  QByteArray("0"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(fanState), QByteArray("OFF"), 5000);
        QVERIFY(rig.hub.last(QStringLiteral("casalux/DenFan/brightness")).isNull());

        rig.hub.publish(QStringLiteral("casalux/DenLamp/set"), "ON");
        QTRY_VERIFY2_WITH_TIMEOUT(rig.simLog().contains(QLatin1String("A3 ON")),
                                  qPrintable(rig.log()), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(lampState), QByteArray("ON"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(QStringLiteral("casalux/DenLamp/brightness")),
                                  QByteArray("100"), 5000);

        rig.hub.publish(QStringLiteral("casalux/DenLamp/brightness/set"), "40");
        QTRY_VERIFY2_WITH_TIMEOUT(rig.simLog().contains(QLatin1String("A3 DIM")),
                                  qPrintable(rig.log()), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(QStringLiteral("casalux/DenLamp/brightness")),
                                  QByteArray("40"), 5000);
        rig.settings.sync(); // written by the engine's process
        QCOMPARE(
            rig.settings.read({SettingStore::Machine, settingkeys::casaluxPath, "dimDenLamp", ""}),
            QStringLiteral("40"));

        // Nonsense is ignored: nothing goes on the line.
        const int lines = rig.sim.lines().size();
        rig.hub.publish(QStringLiteral("casalux/DenLamp/set"), "TOGGLE");
        rig.hub.publish(QStringLiteral("casalux/DenLamp/brightness/set"), "140");
        rig.hub.publish(QStringLiteral("casalux/NoSuchDevice/set"), "ON");

        // The interface goes away: the hub's OFF is not carried out, and the
        // hub is told the lamp is still on.
        rig.hub.clear();
        QTest::qWait(500);
        QCOMPARE(rig.sim.lines().size(), lines);
        rig.sim.kill();
        rig.hub.publish(QStringLiteral("casalux/DenLamp/set"), "OFF");
        QTRY_VERIFY2_WITH_TIMEOUT(rig.hub.payloads(lampState).contains("ON"), qPrintable(rig.log()),
                                  20000);
        QVERIFY(!rig.hub.payloads(lampState).contains("OFF"));
        rig.settings.sync();
        QCOMPARE(
            rig.settings.read({SettingStore::Machine, settingkeys::casaluxPath, "DenLamp", ""}),
            QStringLiteral("True"));
    }

    // Someone switches the fan at the wall: the engine records it, and the
    // hub sees the new state and the traffic.
    void wallSwitchIsPublished()
    {
        Rig rig;
        QVERIFY(rig.start());
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(fanState), QByteArray("OFF"), 10000);
        rig.sim.command(QStringLiteral("A4 ON"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(fanState), QByteArray("ON"), 10000);
        rig.settings.sync();
        QCOMPARE(rig.settings.read({SettingStore::Machine, settingkeys::casaluxPath, "DenFan", ""}),
                 QStringLiteral("True"));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.hub.last(QStringLiteral("casalux/traffic")).isNull(), 5000);
        const QJsonObject traffic = json(rig.hub.last(QStringLiteral("casalux/traffic")));
        QCOMPARE(traffic.value(QStringLiteral("address")).toString(), QStringLiteral("A4"));
        QCOMPARE(traffic.value(QStringLiteral("house")).toString(), QStringLiteral("A"));
        QCOMPARE(traffic.value(QStringLiteral("unit")).toInt(), 4);
        QCOMPARE(traffic.value(QStringLiteral("function")).toString(), QStringLiteral("on"));
        // A hub that comes later gets the state, not the old traffic.
        test::MqttClient late(QStringLiteral("casalux-test-late"));
        QVERIFY(late.connectTo(rig.broker.port()));
        late.subscribe(QStringLiteral("casalux/#"));
        QTRY_COMPARE_WITH_TIMEOUT(late.last(fanState), QByteArray("ON"), 5000);
        QTest::qWait(300);
        QVERIFY(late.last(QStringLiteral("casalux/traffic")).isNull());
    }

    // The hub's configurations: a light for the lamp module, a switch for
    // the fan, with what Home Assistant needs; a device removed from the
    // list (while running, or in an earlier run) is taken back with an
    // empty retained configuration; another program's are left alone.
    void discoveryConfigs()
    {
        Rig rig;
        QVERIFY(rig.startBroker());
        const QString old = QStringLiteral("homeassistant/switch/casalux_DenRadio/config");
        const QString foreign = QStringLiteral("homeassistant/switch/casalux_Porch/config");
        rig.hub.publish(old, R"({"state_topic":"casalux/DenRadio/state"})", true);
        rig.hub.publish(foreign, R"({"state_topic":"elsewhere/Porch/state"})", true);
        QVERIFY(rig.EngineRig::start(QStringLiteral("2026-03-05T07:29:50"), scale));

        QTRY_VERIFY2_WITH_TIMEOUT(!rig.hub.last(lampConfig).isEmpty(), qPrintable(rig.log()),
                                  10000);
        const QJsonObject light = json(rig.hub.last(lampConfig));
        QVERIFY2(!light.isEmpty(), rig.hub.last(lampConfig).constData());
        QCOMPARE(light.value(QStringLiteral("unique_id")).toString(),
                 QStringLiteral("casalux_DenLamp"));
        QCOMPARE(light.value(QStringLiteral("command_topic")).toString(),
                 QStringLiteral("casalux/DenLamp/set"));
        QCOMPARE(light.value(QStringLiteral("state_topic")).toString(), lampState);
        QCOMPARE(light.value(QStringLiteral("brightness_command_topic")).toString(),
                 QStringLiteral("casalux/DenLamp/brightness/set"));
        QCOMPARE(light.value(QStringLiteral("brightness_state_topic")).toString(),
                 QStringLiteral("casalux/DenLamp/brightness"));
        QCOMPARE(light.value(QStringLiteral("brightness_scale")).toInt(), 100);
        QCOMPARE(light.value(QStringLiteral("availability_topic")).toString(), status);
        QCOMPARE(light.value(QStringLiteral("payload_on")).toString(), QStringLiteral("ON"));
        QCOMPARE(light.value(QStringLiteral("payload_off")).toString(), QStringLiteral("OFF"));
        const QJsonObject device = light.value(QStringLiteral("device")).toObject();
        QCOMPARE(device.value(QStringLiteral("suggested_area")).toString(), QStringLiteral("Den"));
        QVERIFY(!device.value(QStringLiteral("identifiers")).toArray().isEmpty());

        QTRY_VERIFY_WITH_TIMEOUT(!rig.hub.last(fanConfig).isEmpty(), 5000);
        const QJsonObject fan = json(rig.hub.last(fanConfig));
        QCOMPARE(fan.value(QStringLiteral("unique_id")).toString(),
                 QStringLiteral("casalux_DenFan"));
        QCOMPARE(fan.value(QStringLiteral("command_topic")).toString(),
                 QStringLiteral("casalux/DenFan/set"));
        QCOMPARE(fan.value(QStringLiteral("state_topic")).toString(), fanState);
        QVERIFY(!fan.contains(QStringLiteral("brightness_command_topic")));
        QVERIFY(rig.hub.last(QStringLiteral("homeassistant/light/casalux_DenFan/config")).isNull());

        // Each configuration is kept by the broker.
        test::MqttClient late(QStringLiteral("casalux-test-late"));
        QVERIFY(late.connectTo(rig.broker.port()));
        late.subscribe(QStringLiteral("homeassistant/#"));
        QTRY_COMPARE_WITH_TIMEOUT(late.last(lampConfig), rig.hub.last(lampConfig), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(late.last(fanConfig), rig.hub.last(fanConfig), 5000);

        // From an earlier run: taken back. Another program's: left.
        QTRY_VERIFY2_WITH_TIMEOUT(rig.hub.payloads(old).size() >= 2 &&
                                      rig.hub.payloads(old).last().isEmpty(),
                                  qPrintable(rig.hub.payloads(old).join('|') + rig.log()), 5000);
        QVERIFY(!rig.hub.payloads(foreign).contains(QByteArray()));

        // The fan leaves the list while the engine runs.
        rig.folder.write(QStringLiteral("rmlst.rvf"), "Den~~~\r\nDen~Lamp~A~3\r\n");
        QTRY_VERIFY2_WITH_TIMEOUT(rig.hub.payloads(fanConfig).last().isEmpty(),
                                  qPrintable(rig.log()), 10000);
        QVERIFY(!rig.hub.last(lampConfig).isEmpty());
    }

    // The broker dies: a click on a page still switches at once, the engine
    // keeps trying the broker, and once it is back every state is there
    // again, the click's included.
    void brokerRestartRepublishes()
    {
        Rig rig;
        QVERIFY(rig.start());
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(lampState), QByteArray("OFF"), 10000);
        rig.broker.kill();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.hub.connected(), 5000);
        rig.hub.clear();

        QElapsedTimer clicked;
        clicked.start();
        QVERIFY(ok(rig.get("/index.html?A~3~DenLamp~turnon~Den")));
        QTRY_VERIFY2_WITH_TIMEOUT(rig.simLog().contains(QLatin1String("A3 ON")),
                                  qPrintable(rig.log()), 5000);
        qInfo() << "web click with the broker down took" << clicked.elapsed() << "ms";

        QVERIFY(rig.broker.start());
        QTRY_VERIFY_WITH_TIMEOUT(rig.hub.connected(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(status), QByteArray("online"), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(lampState), QByteArray("ON"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(fanState), QByteArray("OFF"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.hub.last(lampConfig).isEmpty(), 5000);

        // And commands from the hub work again.
        rig.hub.publish(QStringLiteral("casalux/DenFan/set"), "ON");
        QTRY_VERIFY2_WITH_TIMEOUT(rig.simLog().contains(QLatin1String("A4 ON")),
                                  qPrintable(rig.log()), 10000);
    }

    // The desktop program asks for the interface: the engine says
    // "offline" and leaves the broker cleanly, and carries out no more of
    // the hub's commands; when it ends, it says "offline" too.
    void releaseDisconnectsCleanly()
    {
        Rig rig;
        QVERIFY(rig.start());
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(status), QByteArray("online"), 10000);
        rig.hub.clear();
        rig.settings.write(settingkeys::closeengine, QStringLiteral("True"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(status), QByteArray("offline"), 10000);
        QTRY_VERIFY2_WITH_TIMEOUT(
            rig.broker.leftCleanly(QStringLiteral("casalux-engine")),
            qPrintable(rig.broker.linesAbout(QStringLiteral("casalux-engine"))), 5000);
        rig.hub.publish(QStringLiteral("casalux/DenFan/set"), "ON");
        QTest::qWait(1000);
        QVERIFY2(!rig.simLog().contains(QLatin1String("A4 ON")), qPrintable(rig.log()));
        QCOMPARE(rig.engine.state(), QProcess::Running);
    }

    void endingSaysOffline()
    {
        Rig rig;
        QVERIFY(rig.start());
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(status), QByteArray("online"), 10000);
        rig.hub.clear();
        rig.engine.terminate();
        QVERIFY(rig.engine.waitForFinished(15000));
        QCOMPARE(rig.engine.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(status), QByteArray("offline"), 5000);
        // Said by the engine, not by the broker's last will for it.
        QTRY_VERIFY2_WITH_TIMEOUT(
            rig.broker.leftCleanly(QStringLiteral("casalux-engine")),
            qPrintable(rig.broker.linesAbout(QStringLiteral("casalux-engine"))), 5000);
    }
};

QTEST_GUILESS_MAIN(TestMqttEngine)
#include "tst_mqttengine.moc"
