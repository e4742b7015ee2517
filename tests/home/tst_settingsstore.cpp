#include "home/devicestatus.h"
#include "home/settingsstore.h"
#include "tempfolder.h"

#include <QtTest>

using namespace casalux;

Q_DECLARE_METATYPE(const casalux::SettingKey*)

namespace {
const auto machine = SettingsStore::Root::LocalMachine;
const QString casaluxPath = QString::fromLatin1(settingkeys::casaluxPath);
} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempFolder> m_folder;
    std::unique_ptr<SettingsStore> m_store;

    std::unique_ptr<SettingsStore> openStore() const
    {
        return std::make_unique<SettingsStore>(m_folder->file(QStringLiteral("machine.ini")),
                                               m_folder->file(QStringLiteral("user")));
    }

private Q_SLOTS:
    void init()
    {
        m_folder = std::make_unique<test::TempFolder>();
        m_store = openStore();
    }

    void freshStoreReadsTableDefaults_data()
    {
        QTest::addColumn<const SettingKey*>("key");
        QTest::addColumn<QString>("expected");
        const auto row = [](const SettingKey& key, const char* expected) {
            QTest::newRow(key.name) << &key << QString::fromLatin1(expected);
        };
        row(settingkeys::port, "none");
        row(settingkeys::webport, "80");
        row(settingkeys::closeengine, "False");
        row(settingkeys::state, "0");
        row(settingkeys::left, "100");
        row(settingkeys::city, "London, England, 51.3, 0.1, 0");
        row(settingkeys::profile, "Standard");
        row(settingkeys::lww, "1");
        row(settingkeys::run1, "False");
        row(settingkeys::lastCharacter, "merlin");
    }
    void freshStoreReadsTableDefaults()
    {
        QFETCH(const SettingKey*, key);
        QFETCH(QString, expected);
        QCOMPARE(m_store->read(*key), expected);
    }

    void valuesRoundTripAndPersist()
    {
        QVERIFY(m_store->write(settingkeys::port, QStringLiteral("3")));
        QVERIFY(m_store->write(settingkeys::city, QStringLiteral("Paris, France, 48.5, -2.2, -1")));
        m_store = openStore();
        QCOMPARE(m_store->read(settingkeys::port), QStringLiteral("3"));
        QCOMPARE(m_store->read(settingkeys::city), QStringLiteral("Paris, France, 48.5, -2.2, -1"));
        // The machine-wide file is keyed by the registry path.
        QVERIFY(m_folder->read(QStringLiteral("machine.ini")).contains("Casalux\\port=3"));
    }

    void getStringCutsAtNulAndFallsBack()
    {
        m_store->SaveString(machine, casaluxPath, QStringLiteral("odd"),
                            QStringLiteral("abc") + QChar(0) + QStringLiteral("def"));
        QCOMPARE(m_store->GetString(machine, casaluxPath, QStringLiteral("odd")), QStringLiteral("abc"));
        QCOMPARE(m_store->GetString(machine, casaluxPath, QStringLiteral("absent")), QString());
        QCOMPARE(m_store->GetString(machine, casaluxPath, QStringLiteral("absent"), QStringLiteral("x")),
                 QStringLiteral("x"));
    }

    void applicationNameIgnoresCase()
    {
        m_store->SaveSetting(QStringLiteral("casalux"), QStringLiteral("data"), QStringLiteral("dst"),
                             QStringLiteral("1"));
        QCOMPARE(m_store->GetSetting(QStringLiteral("Casalux"), QStringLiteral("data"),
                                     QStringLiteral("dst")),
                 QStringLiteral("1"));
        QCOMPARE(m_store->read(settingkeys::dst), QStringLiteral("1"));
    }

    // The hand-over: one program writes closeengine, the other sees it after sync().
    void twoProgramsShareTheMachineFile()
    {
        auto engine = openStore();
        QCOMPARE(engine->read(settingkeys::closeengine), QStringLiteral("False"));
        m_store->write(settingkeys::closeengine, QStringLiteral("True"));
        engine->sync();
        QCOMPARE(engine->read(settingkeys::closeengine), QStringLiteral("True"));
        engine->write(settingkeys::webport, QStringLiteral("8080"));
        m_store->sync();
        QCOMPARE(m_store->read(settingkeys::webport), QStringLiteral("8080"));
        QCOMPARE(m_store->read(settingkeys::closeengine), QStringLiteral("True"));
    }

    void handEditedListValueReadsAsText()
    {
        m_folder->write(QStringLiteral("user/casalux.ini"),
                        "[data]\r\ncity=Oslo, Norway, 59.5, 10.4, 1\r\n");
        m_store = openStore();
        QCOMPARE(m_store->read(settingkeys::city), QStringLiteral("Oslo, Norway, 59.5, 10.4, 1"));
    }

    void statusKeysDropSpaces()
    {
        DeviceStatus status(*m_store);
        QVERIFY(!status.getlaststatus(QStringLiteral("Living Room Table Lamp")));
        status.setstatus(QStringLiteral("Living Room Table Lamp"), QStringLiteral("on"),
                         QStringLiteral("30"));
        QCOMPARE(m_store->GetString(machine, casaluxPath, QStringLiteral("LivingRoomTableLamp")),
                 QStringLiteral("True"));
        QCOMPARE(m_store->GetString(machine, casaluxPath, QStringLiteral("dimLivingRoomTableLamp")),
                 QStringLiteral("70"));
        QVERIFY(status.getlaststatus(QStringLiteral("LivingRoomTableLamp")));
        QCOMPARE(status.level(QStringLiteral("Living Room Table Lamp")), 70);
    }

    void setstatusLevels_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("dim");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("level");
        QTest::newRow("on, no dim") << "on" << "" << "True" << "100";
        QTest::newRow("on, dim 0") << "on" << "0" << "True" << "20";
        QTest::newRow("on, dim 20") << "on" << "20" << "True" << "20";
        QTest::newRow("on, dim 100") << "on" << "100" << "True" << "100";
        QTest::newRow("on, dim 30") << "on" << "30" << "True" << "70";
        QTest::newRow("on, dim 62.5") << "on" << "62.5" << "True" << "37.5";
        QTest::newRow("on, dim past 100") << "on" << "150" << "True" << "0";
        QTest::newRow("on, dim negative") << "on" << "-40" << "True" << "100";
        QTest::newRow("off, dim 30") << "off" << "30" << "False" << "20";
        QTest::newRow("off, no dim") << "off" << "" << "False" << "20";
        QTest::newRow("On is not on") << "On" << "50" << "False" << "20";
    }
    void setstatusLevels()
    {
        QFETCH(QString, state);
        QFETCH(QString, dim);
        QFETCH(QString, stored);
        QFETCH(QString, level);
        DeviceStatus(*m_store).setstatus(QStringLiteral("Hall Lamp"), state, dim);
        QCOMPARE(m_store->GetString(machine, casaluxPath, QStringLiteral("HallLamp")), stored);
        QCOMPARE(m_store->GetString(machine, casaluxPath, QStringLiteral("dimHallLamp")), level);
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
