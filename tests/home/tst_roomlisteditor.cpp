#include "home/roomlist.h"
#include "home/roomlisteditor.h"
#include "home/settingsstore.h"
#include "home/textlistfile.h"
#include "platform/busymark.h"
#include "platform/clock.h"
#include "recordingstatus.h"
#include "scriptedprompts.h"
#include "tempfolder.h"

#include <QTimer>
#include <QtTest>

using namespace casalux;
using Outcome = RoomListEditor::DeleteOutcome;
using Answer = Prompts::Answer;

Q_DECLARE_METATYPE(casalux::RoomListEditor::DeleteOutcome)

class TestRoomListEditor : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempFolder> m_folder;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<RoomList> m_list;
    BusyMark m_filebusy;
    test::RecordingStatus m_status;
    test::ScriptedPrompts m_prompts;
    std::unique_ptr<RoomListEditor> m_editor;
    int m_reloads = 0;

    QByteArray listBytes() const { return m_folder->read(QStringLiteral("rmlst.rvf")); }
    QString typeOf(const QString& key) const
    {
        return m_settings->readShared(QStringLiteral("type"), key, QStringLiteral("switch"));
    }
    Outcome deleteNode(const QString& text, const QString& parent = {})
    {
        return QCoro::waitFor(m_editor->deletetree(RoomListEditor::deleteKey, {text, parent}));
    }

private Q_SLOTS:
    void init()
    {
        Clock::instance().freeze(QDateTime(QDate(2026, 3, 5), QTime(7, 30, 12)), 1000);
        m_folder = std::make_unique<test::TempFolder>();
        m_settings = std::make_unique<SettingsStore>(m_folder->file(QStringLiteral("machine.ini")),
                                                     m_folder->file(QStringLiteral("user")));
        m_list = std::make_unique<RoomList>(m_folder->path());
        m_status.clear();
        m_prompts = {};
        m_editor = std::make_unique<RoomListEditor>(*m_list, *m_settings, m_filebusy, m_status,
                                                    m_prompts);
        m_reloads = 0;
        m_editor->setReloadHook([this] { ++m_reloads; });
    }
    void cleanup()
    {
        TextListFile::setRenameForTesting({});
        Clock::instance().useSystemTime();
        QVERIFY(!m_filebusy.isHeld()); // every way out lets go of the mark
    }

    void addRoomToEmptyFolder()
    {
        QVERIFY(QCoro::waitFor(m_editor->addroom(QStringLiteral("Hall"))));
        QCOMPARE(listBytes(), QByteArray("Hall~~~\r\n"));
        QCOMPARE(m_list->rooms(), QStringList{QStringLiteral("Hall")});
        QCOMPARE(m_reloads, 1);
    }

    void addDeviceWithType()
    {
        QCoro::waitFor(m_editor->addroom(QStringLiteral("Living Room")));
        QVERIFY(QCoro::waitFor(m_editor->adddevice(QStringLiteral("Living Room"),
                                                   QStringLiteral("Lamp"), QStringLiteral("A"),
                                                   QStringLiteral("3"),
                                                   QStringLiteral("Lamp Module (dimmable)"))));
        QVERIFY(QCoro::waitFor(m_editor->adddevice(QStringLiteral("Living Room"),
                                                   QStringLiteral("Radio"), QStringLiteral("B"),
                                                   QStringLiteral("10"),
                                                   QStringLiteral("something typed"))));
        QCOMPARE(listBytes(),
                 QByteArray("Living Room~~~\r\nLiving Room~Lamp~A~3\r\nLiving Room~Radio~B~10\r\n"));
        QCOMPARE(typeOf(QStringLiteral("LivingRoomLamp")), QStringLiteral("bulb2"));
        QCOMPARE(typeOf(QStringLiteral("LivingRoomRadio")), QStringLiteral("switch"));
        QCOMPARE(m_list->devicesIn(QStringLiteral("Living Room"))[1].unit, 10);
    }

    void refusedEntries_data()
    {
        QTest::addColumn<QString>("room");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("house");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty name") << "Den" << "" << "A" << "1"
                                    << "You must type in a name for this device";
        QTest::newRow("blank name") << "Den" << "   " << "A" << "1"
                                    << "You must type in a name for this device";
        QTest::newRow("tilde") << "Den" << "Lamp~2" << "A" << "1"
                               << "A name cannot contain the character ~";
        QTest::newRow("line break") << "Den" << "Lamp\n2" << "A" << "1"
                                    << "A name cannot contain a line break";
        QTest::newRow("not Latin-1") << "Den" << QStringLiteral("Lamp \u20ac") << "A" << "1"
                                     << "A name can only use characters of the Western European "
                                        "(Latin-1) character set";
        QTest::newRow("no room") << "" << "Lamp" << "A" << "1"
                                 << "You must choose a room for this device";
        QTest::newRow("house Q") << "Den" << "Lamp" << "Q" << "1"
                                 << "Please choose a house code from A to P";
        QTest::newRow("unit 0") << "Den" << "Lamp" << "A" << "0"
                                << "Please choose a unit number from 1 to 16";
        QTest::newRow("unit 17") << "Den" << "Lamp" << "A" << "17"
                                 << "Please choose a unit number from 1 to 16";
    }
    void refusedEntries()
    {
        QFETCH(QString, room);
        QFETCH(QString, name);
        QFETCH(QString, house);
        QFETCH(QString, unit);
        QFETCH(QString, message);
        QVERIFY(!QCoro::waitFor(m_editor->adddevice(room, name, house, unit, QString())));
        QCOMPARE(m_prompts.texts(), QStringList{message});
        QCOMPARE(m_prompts.shown[0].title, QStringLiteral("Error!"));
        QVERIFY(!m_folder->exists(QStringLiteral("rmlst.rvf")));
        QCOMPARE(m_reloads, 0);
    }

    void emptyRoomNameRefused()
    {
        QVERIFY(!QCoro::waitFor(m_editor->addroom(QString())));
        QCOMPARE(m_prompts.texts(), QStringList{QStringLiteral("You must type in a name for room")});
        QVERIFY(!QCoro::waitFor(m_editor->addroom(QStringLiteral("Attic~1"))));
        QVERIFY(!m_folder->exists(QStringLiteral("rmlst.rvf")));
    }

    // A routine that finds the file mark held waits its turn, then writes.
    void addWaitsForFileMark()
    {
        auto hold = std::make_unique<BusyMark::Hold>(*m_filebusy.tryTake());
        auto task = m_editor->addroom(QStringLiteral("Hall"));
        QVERIFY(!m_folder->exists(QStringLiteral("rmlst.rvf")));
        QTimer::singleShot(20, [&] { hold.reset(); });
        QVERIFY(QCoro::waitFor(task));
        QCOMPARE(listBytes(), QByteArray("Hall~~~\r\n"));
    }

    void deleteKeyAndTopNodes_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("node");
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("other key") << 127 << "Hall" << Outcome::WrongKey;
        QTest::newRow("Home") << 4 << "Home" << Outcome::ShowHome;
        QTest::newRow("Events") << 4 << "Events" << Outcome::ShowEvents;
        // The other sections delete nothing, not even a room of their name.
        QTest::newRow("Macros") << 8 << "Macros" << Outcome::Cancelled;
    }
    void deleteKeyAndTopNodes()
    {
        QFETCH(int, key);
        QFETCH(QString, node);
        QFETCH(Outcome, outcome);
        m_folder->write(QStringLiteral("rmlst.rvf"), "Hall~~~\r\nMacros~~~\r\n");
        const bool section = node != QLatin1String("Hall");
        QCOMPARE(QCoro::waitFor(m_editor->deletetree(key, {node, {}, section})), outcome);
        QCOMPARE(listBytes(), QByteArray("Hall~~~\r\nMacros~~~\r\n"));
        if (section)
            QVERIFY(m_prompts.shown.isEmpty());
        if (outcome == Outcome::WrongKey) {
            QCOMPARE(m_prompts.shown[0].text,
                     QStringLiteral("If you wish to delete the item, press the Back Space key"));
            QCOMPARE(m_prompts.shown[0].title, QStringLiteral("What did you want to do?"));
        }
    }

    void deleteRoomKeepsSimilarNamesAndOddLines()
    {
        m_folder->write(QStringLiteral("rmlst.rvf"), "Hall~~~\r\n"
                                                     "Hallway~~~\r\n"
                                                     "hall~Lamp~A~1\r\n"
                                                     "Hallway~Lamp~A~2\r\n"
                                                     "a stray line\r\n"
                                                     "Hall~Fan~B~3\r\n");
        QCOMPARE(deleteNode(QStringLiteral("Hall")), Outcome::Deleted);
        QCOMPARE(listBytes(), QByteArray("Hallway~~~\r\nHallway~Lamp~A~2\r\na stray line\r\n"));
        QCOMPARE(m_status.activity.count(QStringLiteral("FOUND Hall, deleting now")), 3);
        QCOMPARE(m_status.activity.first(),
                 QStringLiteral("PLEASE WAIT! Searching for Hall, for deletion"));
        QVERIFY(m_status.activity.contains(QStringLiteral("Hall has been deleted, please wait.")));
        QCOMPARE(m_prompts.shown.last().text, QStringLiteral("Your item was deleted at 07:30"));
        QVERIFY(!m_folder->exists(QStringLiteral("tc.tmp")));
        QCOMPARE(m_list->rooms(), QStringList{QStringLiteral("Hallway")});
    }

    void deleteRoomAnsweredNo()
    {
        m_folder->write(QStringLiteral("rmlst.rvf"), "Hall~~~\r\n");
        m_prompts.queueAnswer(Answer::No);
        QCOMPARE(deleteNode(QStringLiteral("Hall")), Outcome::Cancelled);
        QCOMPARE(m_prompts.shown[0].title, QStringLiteral("Really Delete?"));
        QCOMPARE(listBytes(), QByteArray("Hall~~~\r\n"));
    }

    void deleteDeviceWithItsEvents()
    {
        m_folder->write(QStringLiteral("rmlst.rvf"), "Lounge~~~\r\n"
                                                     "Lounge~Lamp~A~3\r\n"
                                                     "Den~~~\r\n"
                                                     "Den~Lamp~A~4\r\n");
        m_folder->write(QStringLiteral("evelst.rvf"),
                        "Lounge Lamp~A~3~60~07:30~on~daily~mtwuf\r\n"
                        "Den Lamp~A~4~ ~sSet:+1~off~daily~mtwufsr\r\n"
                        "Lounge Lamp~A~3~ ~sSet:+1~off~daily~mtwufsr\r\n"
                        "Lounge Lampshade~A~5~ ~22:00~off~daily~s\r\n");
        m_prompts.queueAnswer(Answer::Yes);
        m_prompts.queueAnswer(Answer::Yes);
        QCOMPARE(deleteNode(QStringLiteral("Lamp"), QStringLiteral("Lounge")), Outcome::Deleted);
        QCOMPARE(listBytes(), QByteArray("Lounge~~~\r\nDen~~~\r\nDen~Lamp~A~4\r\n"));
        QCOMPARE(m_folder->read(QStringLiteral("evelst.rvf")),
                 QByteArray("Den Lamp~A~4~ ~sSet:+1~off~daily~mtwufsr\r\n"
                            "Lounge Lampshade~A~5~ ~22:00~off~daily~s\r\n"));
        QCOMPARE(m_prompts.shown[1].title, QStringLiteral("Remove Events?"));
        QCOMPARE(m_status.activity,
                 QStringList({QStringLiteral("PLEASE WAIT! Searching for Lounge, Lamp for deletion"),
                              QStringLiteral("FOUND! Lounge, Lamp. Deleting now."),
                              QStringLiteral("Found an event for Lounge, Lamp. Deleting now."),
                              QStringLiteral("Found an event for Lounge, Lamp. Deleting now."),
                              QStringLiteral("Device Removed, cleaning up now."),
                              QStringLiteral("Nearly finished."),
                              QStringLiteral("Clearing old data ready for re load")}));
        QVERIFY(!m_folder->exists(QStringLiteral("tcev.tmp")));
    }

    void deleteDeviceKeepingEvents()
    {
        const QByteArray events = "Lounge Lamp~A~3~60~07:30~on~daily~mtwuf\r\n";
        m_folder->write(QStringLiteral("rmlst.rvf"), "Lounge~~~\r\nLounge~Lamp~A~3\r\n");
        m_folder->write(QStringLiteral("evelst.rvf"), events);
        m_prompts.queueAnswer(Answer::Yes);
        m_prompts.queueAnswer(Answer::No);
        QCOMPARE(deleteNode(QStringLiteral("Lamp"), QStringLiteral("Lounge")), Outcome::Deleted);
        QCOMPARE(listBytes(), QByteArray("Lounge~~~\r\n"));
        QCOMPARE(m_folder->read(QStringLiteral("evelst.rvf")), events);
    }

    // A rename that fails (full disk, a crash) must leave the old list whole.
    void failedRenameKeepsOldList()
    {
        const QByteArray before = "Hall~~~\r\nHall~Lamp~A~1\r\n";
        m_folder->write(QStringLiteral("rmlst.rvf"), before);
        TextListFile::setRenameForTesting([](const QString&, const QString&) { return false; });
        QCOMPARE(deleteNode(QStringLiteral("Hall")), Outcome::Failed);
        QCOMPARE(listBytes(), before);
        QVERIFY(!m_folder->exists(QStringLiteral("tc.tmp")));
        QCOMPARE(m_prompts.shown.last().title, QStringLiteral("Error!"));
        QCOMPARE(m_reloads, 0);
    }

    // The temporary file cannot be written: the list stays as it was.
    void unwritableTempKeepsOldList()
    {
        const QByteArray before = "Hall~~~\r\n";
        m_folder->write(QStringLiteral("rmlst.rvf"), before);
        QVERIFY(QDir(m_folder->path()).mkpath(QStringLiteral("tc.tmp/blocker")));
        QCOMPARE(deleteNode(QStringLiteral("Hall")), Outcome::Failed);
        QCOMPARE(listBytes(), before);
        QVERIFY(m_status.activity.last().startsWith(QStringLiteral("Cannot create")));
    }
};

QTEST_GUILESS_MAIN(TestRoomListEditor)
#include "tst_roomlisteditor.moc"
