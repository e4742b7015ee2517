#include "home/devicestatus.h"
#include "home/settingsstore.h"
#include "filesizelimit.h"
#include "tempfolder.h"

#include <QtTest>

#include <coroutine>

using namespace casalux;

Q_DECLARE_METATYPE(const casalux::SettingKey*)

namespace {
const auto machine = SettingsStore::Root::LocalMachine;
const QString casaluxPath = QString::fromLatin1(settingkeys::casaluxPath);

// A bare coroutine the test resumes or destroys by hand, as a job that is
// torn down while it waits.
struct Job {
    struct promise_type {
        Job get_return_object()
        {
            return {std::coroutine_handle<promise_type>::from_promise(*this)};
        }
        std::suspend_never initial_suspend() noexcept { return {}; }
        std::suspend_always final_suspend() noexcept { return {}; }
        void return_void() {}
        void unhandled_exception() { std::terminate(); }
    };
    std::coroutine_handle<promise_type> handle;
};

Job holdBatchAndWait(SettingsStore& store)
{
    SettingsStore::Batch batch(store);
    DeviceStatus(store).setstatus(QStringLiteral("Hall Lamp"), QStringLiteral("on"), QString());
    co_await std::suspend_always{}; // a command on the line, never answered
    DeviceStatus(store).setstatus(QStringLiteral("Porch Light"), QStringLiteral("on"), QString());
}

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

    // What one user chose before these values were machine-wide is moved
    // over once, so another user (the engine's) sees it; a machine-wide
    // value already there is kept.
    void sharedValuesMoveFromTheUserOnce()
    {
        m_folder->write(QStringLiteral("user/casalux.ini"),
                        "[data]\r\ncity=Oslo, Norway, 59.5, 10.4, 1\r\ndst=1\r\nleft=7\r\n"
                        "[type]\r\nDenLamp=bulb2\r\n");
        m_store = openStore();
        auto engine = std::make_unique<SettingsStore>(m_folder->file(QStringLiteral("machine.ini")),
                                                      m_folder->file(QStringLiteral("engine")));
        QVERIFY(engine->write(settingkeys::dst, QStringLiteral("0")));
        m_store->sync();
        QCOMPARE(m_store->moveSharedFromUser(), 2);
        QCOMPARE(m_store->moveSharedFromUser(), 0);
        engine->sync();
        QCOMPARE(engine->read(settingkeys::city), QStringLiteral("Oslo, Norway, 59.5, 10.4, 1"));
        QCOMPARE(engine->read(settingkeys::dst), QStringLiteral("0"));
        QCOMPARE(engine->readShared(QStringLiteral("type"), QStringLiteral("DenLamp")),
                 QStringLiteral("bulb2"));
        QCOMPARE(engine->read(settingkeys::left), QStringLiteral("100")); // a person's own
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

    // The states of one job: one rewrite at the end of the batch. Until
    // then this program reads them and the other one does not.
    void batchWritesOnceAndReadsSeePendingValues()
    {
        auto engine = openStore();
        DeviceStatus status(*m_store);
        const QStringList lamps{"Hall Lamp 1", "Hall Lamp 2", "Hall Lamp 3", "Porch Light"};
        const quint64 before = m_store->rewrites();
        {
            SettingsStore::Batch batch(*m_store);
            for (const QString& lamp : lamps)
                status.setstatus(lamp, QStringLiteral("on"), QStringLiteral("30"));
            m_store->write(settingkeys::city, QStringLiteral("Oslo, Norway, 59.9, -10.7, 1"));
            m_store->write(settingkeys::left, QStringLiteral("42"));
            QCOMPARE(m_store->rewrites(), before);
            for (const QString& lamp : lamps) {
                QVERIFY(status.getlaststatus(lamp));
                QCOMPARE(status.level(lamp), 70);
            }
            QCOMPARE(m_store->read(settingkeys::city),
                     QStringLiteral("Oslo, Norway, 59.9, -10.7, 1"));
            engine->sync();
            QVERIFY(!DeviceStatus(*engine).getlaststatus(QStringLiteral("Hall Lamp 1")));
            QVERIFY(!m_folder->read(QStringLiteral("machine.ini")).contains("HallLamp1"));
            QVERIFY(batch.commit());
        }
        // One rewrite of each file: the machine-wide one and the user's.
        QCOMPARE(m_store->rewrites(), before + 2);
        engine->sync();
        for (const QString& lamp : lamps)
            QVERIFY(DeviceStatus(*engine).getlaststatus(lamp));
        QCOMPARE(openStore()->read(settingkeys::city),
                 QStringLiteral("Oslo, Norway, 59.9, -10.7, 1"));
        QCOMPARE(openStore()->read(settingkeys::left), QStringLiteral("42"));
        // After the batch each write is its own rewrite again.
        status.setstatus(QStringLiteral("Hall Lamp 1"), QStringLiteral("off"), QString());
        QCOMPARE(m_store->rewrites(), before + 3);
    }

    // The other program acts on the hand-over flags: a batch holds them back
    // from it no longer than any write without one.
    void handOverFlagsGoToDiskAtOnceInABatch_data()
    {
        QTest::addColumn<const SettingKey*>("key");
        QTest::newRow("closeengine") << &settingkeys::closeengine;
        QTest::newRow("installing") << &settingkeys::installing;
    }
    void handOverFlagsGoToDiskAtOnceInABatch()
    {
        QFETCH(const SettingKey*, key);
        auto engine = openStore();
        SettingsStore::Batch batch(*m_store);
        QVERIFY(m_store->write(*key, QStringLiteral("True")));
        engine->sync();
        QCOMPARE(engine->read(*key), QStringLiteral("True"));
        // Other values still wait for the batch.
        m_store->write(settingkeys::webport, QStringLiteral("8080"));
        engine->sync();
        QCOMPARE(engine->read(settingkeys::webport), QStringLiteral("80"));
    }

    void nestedBatchesWriteAtTheOuterEnd()
    {
        auto engine = openStore();
        const quint64 before = m_store->rewrites();
        SettingsStore::Batch outer(*m_store);
        {
            SettingsStore::Batch inner(*m_store);
            DeviceStatus(*m_store).setstatus(QStringLiteral("Hall Lamp"), QStringLiteral("on"), {});
        }
        QVERIFY(m_store->inBatch());
        QCOMPARE(m_store->rewrites(), before);
        engine->sync();
        QVERIFY(!DeviceStatus(*engine).getlaststatus(QStringLiteral("Hall Lamp")));
        QVERIFY(outer.commit());
        QVERIFY(!m_store->inBatch());
        QCOMPARE(m_store->rewrites(), before + 1);
        engine->sync();
        QVERIFY(DeviceStatus(*engine).getlaststatus(QStringLiteral("Hall Lamp")));
    }

    // A holder that waits lets the event loop run: what it has recorded is
    // written then, and the batch goes on holding what comes after.
    void batchWritesWhenItsHolderWaits()
    {
        auto engine = openStore();
        const quint64 before = m_store->rewrites();
        SettingsStore::Batch batch(*m_store);
        DeviceStatus(*m_store).setstatus(QStringLiteral("Hall Lamp"), QStringLiteral("on"), {});
        QCoreApplication::processEvents();
        QCOMPARE(m_store->rewrites(), before + 1);
        engine->sync();
        QVERIFY(DeviceStatus(*engine).getlaststatus(QStringLiteral("Hall Lamp")));
        DeviceStatus(*m_store).setstatus(QStringLiteral("Porch Light"), QStringLiteral("on"), {});
        QCOMPARE(m_store->rewrites(), before + 1);
        QVERIFY(batch.commit());
        QCOMPARE(m_store->rewrites(), before + 2);
        QCoreApplication::processEvents(); // nothing left for the queued write
        QCOMPARE(m_store->rewrites(), before + 2);
    }

    // A rewrite that fails (a full disk) leaves the old file whole, says so,
    // and keeps the values for the next rewrite, whose success is reported
    // as such.
    void failedRewriteKeepsTheOldFile()
    {
        DeviceStatus status(*m_store);
        status.setstatus(QStringLiteral("Hall Lamp"), QStringLiteral("on"), QString());
        const QByteArray old = m_folder->read(QStringLiteral("machine.ini"));
        QVERIFY(!old.isEmpty());
        {
            SettingsStore::Batch batch(*m_store);
            for (int i = 0; i < 50; ++i)
                status.setstatus(QStringLiteral("Lamp %1").arg(i), QStringLiteral("on"), {});
            status.setstatus(QStringLiteral("Hall Lamp"), QStringLiteral("off"), QString());
            const test::FileSizeLimit full(static_cast<rlim_t>(old.size()));
            QVERIFY(!batch.commit());
        }
        QCOMPARE(m_folder->read(QStringLiteral("machine.ini")), old);
        QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files), QStringList{"machine.ini"});
        QVERIFY(!status.getlaststatus(QStringLiteral("Hall Lamp"))); // this program still knows

        QVERIFY(m_store->write(settingkeys::port, QStringLiteral("3")));
        auto engine = openStore();
        QCOMPARE(engine->read(settingkeys::port), QStringLiteral("3"));
        QVERIFY(!DeviceStatus(*engine).getlaststatus(QStringLiteral("Hall Lamp")));
        QVERIFY(DeviceStatus(*engine).getlaststatus(QStringLiteral("Lamp 49")));
    }

    // A job torn down while it waits still ends its batch: what it recorded
    // is written, and later writes are not held for a batch nobody ends.
    void batchEndsWithADestroyedJob()
    {
        auto engine = openStore();
        const Job job = holdBatchAndWait(*m_store);
        QVERIFY(m_store->inBatch());
        const quint64 before = m_store->rewrites();
        job.handle.destroy();
        QVERIFY(!m_store->inBatch());
        QCOMPARE(m_store->rewrites(), before + 1);
        engine->sync();
        QVERIFY(DeviceStatus(*engine).getlaststatus(QStringLiteral("Hall Lamp")));
        QVERIFY(!DeviceStatus(*engine).getlaststatus(QStringLiteral("Porch Light")));
        QVERIFY(m_store->write(settingkeys::port, QStringLiteral("5")));
        QCOMPARE(openStore()->read(settingkeys::port), QStringLiteral("5"));
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
