#include "home/roomlist.h"
#include "home/roomrecord.h"
#include "tempfolder.h"

#include <QtTest>

using namespace casalux;

class TestRoomRecord : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("room");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("house");
        QTest::addColumn<int>("unit");
        QTest::newRow("room") << "Kitchen~~~" << true << true << "" << "" << 0;
        QTest::newRow("room, spaces") << "Living Room~~~" << true << true << "" << "" << 0;
        QTest::newRow("device") << "Kitchen~Ceiling Light~A~1" << true << false << "Ceiling Light"
                                << "A" << 1;
        QTest::newRow("unit 10 is not 1") << "Den~Fan~B~10" << true << false << "Fan" << "B" << 10;
        QTest::newRow("unit 16") << "Den~Fan~P~16" << true << false << "Fan" << "P" << 16;
        QTest::newRow("trailing junk on unit") << "Den~Fan~B~12 " << true << false << "Fan" << "B" << 12;
        QTest::newRow("lower-case house") << "Den~Fan~c~3" << true << false << "Fan" << "C" << 3;
        QTest::newRow("empty") << "" << false << false << "" << "" << 0;
        QTest::newRow("no separator") << "just some text" << false << false << "" << "" << 0;
        QTest::newRow("too few fields") << "Den~Fan~B" << false << false << "" << "" << 0;
        QTest::newRow("house past P") << "Den~Fan~Q~3" << false << false << "" << "" << 0;
        QTest::newRow("unit 0") << "Den~Fan~A~0" << false << false << "" << "" << 0;
        QTest::newRow("unit 17") << "Den~Fan~A~17" << false << false << "" << "" << 0;
        QTest::newRow("unit not a number") << "Den~Fan~A~x" << false << false << "" << "" << 0;
        QTest::newRow("huge unit") << "Den~Fan~A~99999999999999999999" << false << false << ""
                                   << "" << 0;
    }
    void parse()
    {
        QFETCH(QString, line);
        QFETCH(bool, valid);
        const auto record = RoomRecord::parse(line);
        QCOMPARE(record.has_value(), valid);
        if (!valid)
            return;
        QFETCH(bool, room);
        QFETCH(QString, name);
        QFETCH(QString, house);
        QFETCH(int, unit);
        QCOMPARE(record->isRoom(), room);
        QCOMPARE(record->device, name);
        QCOMPARE(record->house, house);
        QCOMPARE(record->unit, unit);
    }

    void linesRoundTrip()
    {
        QCOMPARE(RoomRecord::makeRoom(QStringLiteral("Hall")).line(), QStringLiteral("Hall~~~"));
        const auto device = RoomRecord::makeDevice(QStringLiteral("Living Room"),
                                                   QStringLiteral("Lamp"), QStringLiteral("A"), 3);
        QCOMPARE(device.line(), QStringLiteral("Living Room~Lamp~A~3"));
        QCOMPARE(device.deviceKey(), QStringLiteral("LivingRoomLamp"));
        QCOMPARE(device.address(), QStringLiteral("A3"));
    }

    void listQueries()
    {
        test::TempFolder folder;
        folder.write(QStringLiteral("rmlst.rvf"), "Kitchen~~~\r\n"
                                                  "Kitchen~Light~A~1\r\n"
                                                  "Den~~~\r\n"
                                                  "Den~Lamp~A~10\r\n"
                                                  "garbage line\r\n"
                                                  "\r\n"
                                                  "Kitchen~Kettle~a~1\r\n");
        RoomList list(folder.path());
        list.loadlists();
        QCOMPARE(list.lines().size(), 7);
        QCOMPARE(list.rooms(), QStringList({QStringLiteral("Kitchen"), QStringLiteral("Den")}));
        QCOMPARE(list.devicesIn(QStringLiteral("Kitchen")).size(), 2);
        // Kitchen split by another room's lines is still one room with both devices.
        QCOMPARE(list.devicesIn(QStringLiteral("Kitchen"))[1].device, QStringLiteral("Kettle"));
        const auto atA1 = list.devicesAt(QStringLiteral("A"), 1);
        QCOMPARE(atA1.size(), 2); // two devices may share an address
        QCOMPARE(list.devicesAt(QStringLiteral("a"), 10).size(), 1);
        QVERIFY(list.devicesAt(QStringLiteral("A"), 0).isEmpty());
    }

    void missingFileIsEmptyHome()
    {
        test::TempFolder folder;
        RoomList list(folder.path());
        list.loadlists();
        QVERIFY(list.lines().isEmpty());
        QVERIFY(list.rooms().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRoomRecord)
#include "tst_roomrecord.moc"
