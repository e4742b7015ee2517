#include "brokerprocess.h"
#include "enginerig.h"
#include "home/settingkeys.h"
#include "httpget.h"
#include "mqttclient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
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

    // What Home Assistant publishes for a light announced with
    // on_command_type "brightness" and brightness_scale 100, in its order:
    // only the brightness to turn on or dim (also the last brightness for a
    // plain turn-on), "OFF" to turn off, "online" on its own topic after a
    // restart. Also the default "last" order (brightness, then "ON") that a
    // hub configured by hand still uses. The lamp never ends at full.
    void homeAssistantDims()
    {
        Rig rig;
        QVERIFY(rig.start());
        const QString brightness = QStringLiteral("casalux/DenLamp/brightness");
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(lampState), QByteArray("OFF"), 10000);
        const QJsonObject light = json(rig.hub.last(lampConfig));
        QCOMPARE(light.value(QStringLiteral("on_command_type")).toString(),
                 QStringLiteral("brightness"));
        QVERIFY(light.value(QStringLiteral("name")).isNull());
        QCOMPARE(light.value(QStringLiteral("device"))
                     .toObject()
                     .value(QStringLiteral("name"))
                     .toString(),
                 QStringLiteral("Den Lamp"));

        // The lamp's lines on the simulator since `from`.
        const auto lampLines = [&rig](qsizetype from) {
            QStringList lines = rig.sim.lines().mid(from);
            lines.removeIf([](const QString& l) { return !l.contains(QLatin1String("A3 ")); });
            return lines;
        };
        struct Step {
            const char* what;
            QList<QPair<QString, QByteArray>> publishes;
            QByteArray state;
            QByteArray level;
            bool sends; // something goes on the line
        };
        const QString set = QStringLiteral("casalux/DenLamp/set");
        const QString dim = QStringLiteral("casalux/DenLamp/brightness/set");
        const QString hubStatus = QStringLiteral("homeassistant/status");
        const QList<Step> steps{
            {"turn on at 40 % from off", {{dim, "40"}}, "ON", "40", true},
            {"slider to 70 % while on", {{dim, "70"}}, "ON", "70", true},
            {"plain turn on while at 70 %", {{dim, "70"}}, "ON", "70", false},
            {"turn off", {{set, "OFF"}}, "OFF", "0", true},
            {"'last' order: 30 %, then ON", {{dim, "30"}, {set, "ON"}}, "ON", "30", true},
            {"'last' order, slider to 60 %", {{dim, "60"}, {set, "ON"}}, "ON", "60", true},
            {"'last' order, plain ON while dimmed", {{set, "ON"}}, "ON", "60", false},
            {"hub restarts", {{hubStatus, "offline"}, {hubStatus, "online"}}, "ON", "60", false},
        };
        // The lamp's last line is a dim (or the off) that left it near the
        // level asked, within the module's 22 steps.
        const auto endsAt = [](const QStringList& lines, const QByteArray& level) {
            if (lines.isEmpty())
                return false;
            const QString last = lines.last();
            const int at = last.indexOf(QLatin1String(" LEVEL "));
            const int shown = at < 0 ? -1 : last.mid(at + 7).toInt();
            const bool off = level == "0";
            return last.contains(off ? QLatin1String(" OFF") : QLatin1String(" DIM ")) &&
                   std::abs(shown - level.toInt()) <= 5;
        };
        for (const Step& step : steps) {
            const qsizetype from = rig.sim.lines().size();
            rig.hub.clear();
            for (const auto& [topic, payload] : step.publishes)
                rig.hub.publish(topic, payload, false, 0);
            if (step.sends)
                QTRY_VERIFY2_WITH_TIMEOUT(endsAt(lampLines(from), step.level),
                                          qPrintable(step.what + QStringLiteral(": ") +
                                                     lampLines(from).join('|')),
                                          10000);
            QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(lampState), step.state, 10000);
            QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(brightness), step.level, 5000);
            QTest::qWait(700); // anything still to come would have come
            const QStringList lines = lampLines(from);
            QVERIFY2(step.sends != lines.isEmpty(), qPrintable(step.what + lines.join('|')));
            if (step.sends)
                QVERIFY2(endsAt(lines, step.level), qPrintable(step.what + lines.join('|')));
            QCOMPARE(rig.hub.last(lampState), step.state);
            QCOMPARE(rig.hub.last(brightness), step.level);
        }
        // After Home Assistant's "online" the configurations came again.
        QVERIFY(!rig.hub.payloads(lampConfig).isEmpty());
        QVERIFY(!rig.hub.payloads(fanConfig).isEmpty());
    }

    // A command the broker kept (published with the retain flag) comes at
    // every connect: it is not carried out, and it is cleared.
    void retainedCommandIsNotCarriedOut()
    {
        Rig rig;
        QVERIFY(rig.startBroker());
        rig.hub.publish(QStringLiteral("casalux/DenFan/set"), "ON", true);
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(QStringLiteral("casalux/DenFan/set")),
                                  QByteArray("ON"), 5000);
        QVERIFY(rig.EngineRig::start(QStringLiteral("2026-03-05T07:29:50"), scale));
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(fanState), QByteArray("OFF"), 10000);
        // Cleared: the broker passes on the empty retained message.
        QTRY_VERIFY_WITH_TIMEOUT(rig.hub.last(QStringLiteral("casalux/DenFan/set")).isEmpty(),
                                 5000);
        QTest::qWait(1000);
        QVERIFY2(!rig.simLog().contains(QLatin1String("A4 ON")), qPrintable(rig.log()));
        QCOMPARE(rig.hub.last(fanState), QByteArray("OFF"));
        test::MqttClient late(QStringLiteral("casalux-test-late"));
        QVERIFY(late.connectTo(rig.broker.port()));
        late.subscribe(QStringLiteral("casalux/#"));
        QTRY_COMPARE_WITH_TIMEOUT(late.last(fanState), QByteArray("OFF"), 5000);
        QVERIFY(late.last(QStringLiteral("casalux/DenFan/set")).isNull());
        // A command sent as it should be still works.
        rig.hub.publish(QStringLiteral("casalux/DenFan/set"), "ON");
        QTRY_VERIFY2_WITH_TIMEOUT(rig.simLog().contains(QLatin1String("A4 ON")),
                                  qPrintable(rig.log()), 10000);
    }

    // A link that drops right after each connect (here a client that takes
    // the engine's id) is tried again less and less often.
    void backOffGrowsWhileTheLinkKeepsDropping()
    {
        Rig rig;
        rig.engine.setProcessChannelMode(QProcess::SeparateChannels);
        QVERIFY(rig.start());
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(status), QByteArray("online"), 10000);
        // The engine's connects (keep-alive 30 s; mosquitto_pub's is 60).
        const QRegularExpression connected(
            QStringLiteral(" as (casalux-engine-\\S+) \\(p\\d, c\\d, k30\\)"));
        const auto connects = [&rig, &connected] {
            int count = 0;
            for (auto it = connected.globalMatch(rig.broker.log()); it.hasNext(); it.next())
                ++count;
            return count;
        };
        // The broker writes its log after the hub has heard "online".
        QTRY_VERIFY2_WITH_TIMEOUT(connected.match(rig.broker.log()).hasMatch(),
                                  qPrintable(rig.broker.log()), 5000);
        const QRegularExpressionMatch first = connected.match(rig.broker.log());
        const QString id = first.captured(1);
        QString said;
        for (int kick = 1; kick <= 5; ++kick) {
            QTRY_COMPARE_WITH_TIMEOUT(connects(), kick, 15000);
            QCOMPARE(QProcess::execute(QStringLiteral("mosquitto_pub"),
                                       {QStringLiteral("-h"), QStringLiteral("127.0.0.1"),
                                        QStringLiteral("-p"), QString::number(rig.broker.port()),
                                        QStringLiteral("-i"), id, QStringLiteral("-t"),
                                        QStringLiteral("casalux-test/kick"), QStringLiteral("-m"),
                                        QStringLiteral("x")}),
                     0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            (said += QString::fromLocal8Bit(rig.engine.readAllStandardError()))
                .contains(QLatin1String("trying again in 16 s")),
            15000);
        QVERIFY2(said.contains(QLatin1String("trying again in 8 s")), qPrintable(said));
    }

    // Two homes on one broker and one machine, the second under
    // "casalux/upstairs": neither throws the other off the broker nor takes
    // back the other's configurations, commands reach their own home, and
    // a configuration someone else changed is put right.
    void twoHomesShareOneBroker()
    {
        Rig rig;
        test::EngineRig upstairs;
        upstairs.folder.write(QStringLiteral("rmlst.rvf"), "Den~~~\r\nDen~Lamp~A~3\r\n");
        upstairs.settings.SaveSetting(QStringLiteral("Casalux"), QStringLiteral("type"),
                                      QStringLiteral("DenLamp"), QStringLiteral("bulb2"));
        upstairs.settings.write(settingkeys::mqtthost, QStringLiteral("127.0.0.1"));
        upstairs.settings.write(settingkeys::mqttport, QString::number(rig.broker.port()));
        upstairs.settings.write(settingkeys::mqttprefix, QStringLiteral("casalux/upstairs"));
        QVERIFY(rig.start());
        QVERIFY(upstairs.start(QStringLiteral("2026-03-05T07:29:50"), scale));
        const QString upConfig =
            QStringLiteral("homeassistant/light/casalux_upstairs_DenLamp/config");
        QTRY_VERIFY_WITH_TIMEOUT(!rig.hub.last(lampConfig).isEmpty(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.hub.last(upConfig).isEmpty(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(QStringLiteral("casalux/upstairs/status")),
                                  QByteArray("online"), 10000);
        QTest::qWait(1500); // several checks of the lists
        QVERIFY2(!rig.broker.log().contains(QLatin1String("already connected")),
                 qPrintable(rig.broker.log()));
        QCOMPARE(rig.hub.last(status), QByteArray("online"));
        QCOMPARE(rig.hub.last(QStringLiteral("casalux/upstairs/status")), QByteArray("online"));
        QVERIFY(!rig.hub.payloads(lampConfig).contains(QByteArray()));
        QVERIFY(!rig.hub.payloads(upConfig).contains(QByteArray()));
        const QJsonObject up = json(rig.hub.last(upConfig));
        QCOMPARE(up.value(QStringLiteral("unique_id")).toString(),
                 QStringLiteral("casalux_upstairs_DenLamp"));
        QCOMPARE(up.value(QStringLiteral("state_topic")).toString(),
                 QStringLiteral("casalux/upstairs/DenLamp/state"));

        rig.hub.publish(QStringLiteral("casalux/upstairs/DenLamp/set"), "ON");
        QTRY_VERIFY2_WITH_TIMEOUT(upstairs.simLog().contains(QLatin1String("A3 ON")),
                                  qPrintable(upstairs.simLog()), 10000);
        QTest::qWait(300);
        QVERIFY(!rig.simLog().contains(QLatin1String("A3 ON")));

        const QByteArray right = rig.hub.last(lampConfig);
        rig.hub.publish(lampConfig, R"({"state_topic":"casalux/DenLamp/state","name":"Mine"})",
                        true);
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(lampConfig), right, 10000);
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

    // Two hundred of the hub's commands wait their turn behind a slow line
    // when the engine is told to end or to hand over: those that can no
    // longer run are refused, and the engine ends or lets go cleanly.
    void queuedCommandsAtStop_data()
    {
        QTest::addColumn<bool>("handOver");
        QTest::newRow("SIGTERM") << false;
        QTest::newRow("hand-over") << true;
    }
    void queuedCommandsAtStop()
    {
        QFETCH(bool, handOver);
        Rig rig;
        rig.simArguments = {QStringLiteral("--line-delay"), QStringLiteral("200")};
        QByteArray list = "Den~~~\r\n";
        constexpr int count = 200;
        for (int i = 0; i < count; ++i)
            list += QStringLiteral("Den~Lamp%1~%2~%3\r\n")
                        .arg(i)
                        .arg(QChar(u'A' + i / 16))
                        .arg(i % 16 + 1)
                        .toLatin1();
        rig.folder.write(QStringLiteral("rmlst.rvf"), list);
        QVERIFY(rig.start());
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(status), QByteArray("online"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(
            !rig.hub.last(QStringLiteral("casalux/DenLamp%1/state").arg(count - 1)).isNull(),
            10000);
        for (int i = 0; i < count; ++i)
            rig.hub.publish(QStringLiteral("casalux/DenLamp%1/set").arg(i), "ON");
        // The hub hears its own commands once the broker has passed them on.
        QTRY_VERIFY_WITH_TIMEOUT(
            !rig.hub.last(QStringLiteral("casalux/DenLamp%1/set").arg(count - 1)).isNull(), 10000);
        QTRY_VERIFY2_WITH_TIMEOUT(rig.simLog().contains(QLatin1String(" ON")),
                                  qPrintable(rig.log()), 10000);
        QTest::qWait(200);
        if (handOver) {
            rig.settings.write(settingkeys::closeengine, QStringLiteral("True"));
            QTRY_COMPARE_WITH_TIMEOUT(rig.hub.last(status), QByteArray("offline"), 15000);
            QTest::qWait(500);
            QCOMPARE(rig.engine.state(), QProcess::Running);
        }
        rig.engine.terminate();
        QVERIFY(rig.engine.waitForFinished(20000));
        QCOMPARE(rig.engine.exitStatus(), QProcess::NormalExit);
        QCOMPARE(rig.engine.exitCode(), 0);
        QVERIFY2(rig.simLog().count(QLatin1String(" ON LEVEL")) < count / 2, qPrintable(rig.simLog()));
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
