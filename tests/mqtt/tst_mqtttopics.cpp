#include "mqtttopics.h"

#include <QtTest>

using namespace casalux;

// Device names come from the user and end up in topic names and in the
// hub's object ids: nothing in them may act as a wildcard or a level.
class TestMqttTopics : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void topicKeyIsOneSafeLevel_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("safe");
        QTest::newRow("plain") << "LoungeLamp"
                               << "LoungeLamp";
        QTest::newRow("wildcards") << "Hall+#Light"
                                   << "Hall__Light";
        QTest::newRow("levels") << "Garage/Door"
                                << "Garage_Door";
        QTest::newRow("accents") << QStringLiteral("K\u00fcche") << "K_che";
        QTest::newRow("dash and underscore stay") << "Bed-Room_2"
                                                  << "Bed-Room_2";
    }
    void topicKeyIsOneSafeLevel()
    {
        QFETCH(QString, key);
        QFETCH(QString, safe);
        QCOMPARE(MqttTopics::topicKey(key), safe);
    }

    void commandsOfThisPrefixOnly_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QString>("key"); // empty: not a command
        QTest::addColumn<bool>("brightness");
        QTest::newRow("set") << "home/Lamp/set"
                             << "Lamp" << false;
        QTest::newRow("brightness") << "home/Lamp/brightness/set"
                                    << "Lamp" << true;
        QTest::newRow("state is not a command") << "home/Lamp/state"
                                                << "" << false;
        QTest::newRow("other prefix") << "homer/Lamp/set"
                                      << "" << false;
        QTest::newRow("prefix only") << "home/set"
                                     << "" << false;
        QTest::newRow("empty key") << "home//set"
                                   << "" << false;
        QTest::newRow("deeper") << "home/a/b/set"
                                << "" << false;
    }
    void commandsOfThisPrefixOnly()
    {
        QFETCH(QString, topic);
        QFETCH(QString, key);
        QFETCH(bool, brightness);
        const MqttTopics topics(QStringLiteral("home"), QStringLiteral("ha"));
        const auto command = topics.command(topic);
        QCOMPARE(command.has_value(), !key.isEmpty());
        if (command) {
            QCOMPARE(command->key, key);
            QCOMPARE(command->brightness, brightness);
        }
    }

    void payloads()
    {
        QCOMPARE(MqttTopics::onOff("ON"), std::optional<bool>(true));
        QCOMPARE(MqttTopics::onOff("off\n"), std::optional<bool>(false));
        QVERIFY(!MqttTopics::onOff("1"));
        QCOMPARE(MqttTopics::percent("0"), std::optional<int>(0));
        QCOMPARE(MqttTopics::percent(" 100 "), std::optional<int>(100));
        QVERIFY(!MqttTopics::percent("101"));
        QVERIFY(!MqttTopics::percent("-1"));
        QVERIFY(!MqttTopics::percent("50.5"));
        QVERIFY(!MqttTopics::percent("4294967296")); // not read round to 0
        QVERIFY(!MqttTopics::percent(""));
    }
};

QTEST_GUILESS_MAIN(TestMqttTopics)
#include "tst_mqtttopics.moc"
