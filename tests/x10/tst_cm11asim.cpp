#include "consolecommand.h"
#include "powerline.h"
#include "siminterface.h"
#include "x10/cm11aprotocol.h"

#include <QSignalSpy>
#include <QtTest>

using namespace casalux;
using namespace casalux::sim;
using P = Cm11aProtocol;
using Kind = ConsoleCommand::Kind;

Q_DECLARE_METATYPE(casalux::sim::ConsoleCommand::Kind)

// The simulator's own logic, without a pseudo-terminal: what users type,
// and how modules respond.
class TestCm11aSim : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void commands_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("parsed"); // "house unit function percent collide"
        QTest::newRow("on") << "A3 ON" << Kind::Traffic << "0 3 2 0 0";
        QTest::newRow("lower case, extra blanks")
            << "  b12   off " << Kind::Traffic << "1 12 3 0 0";
        QTest::newRow("A1 is not A10") << "A1 ON" << Kind::Traffic << "0 1 2 0 0";
        QTest::newRow("A10") << "A10 ON" << Kind::Traffic << "0 10 2 0 0";
        QTest::newRow("dim") << "A1 DIM 30" << Kind::Traffic << "0 1 4 30 0";
        QTest::newRow("bright 0") << "P16 BRIGHT 0" << Kind::Traffic << "15 16 5 0 0";
        QTest::newRow("house-wide") << "C ALL-LIGHTS-ON" << Kind::Traffic << "2 0 1 0 0";
        QTest::newRow("collide") << "COLLIDE A2 ON" << Kind::Traffic << "0 2 2 0 1";
        QTest::newRow("status all") << "status" << Kind::Status << "-1 0 0 0 0";
        QTest::newRow("status one") << "STATUS A3" << Kind::Status << "0 3 0 0 0";
        QTest::newRow("power fail") << "POWERFAIL" << Kind::PowerFail << "";
        QTest::newRow("quit") << "quit" << Kind::Quit << "";
        QTest::newRow("blank") << "   " << Kind::Empty << "";
        // Refused, never half-applied.
        QTest::newRow("house Q") << "Q1 ON" << Kind::Invalid << "";
        QTest::newRow("unit 0") << "A0 ON" << Kind::Invalid << "";
        QTest::newRow("unit 17") << "A17 ON" << Kind::Invalid << "";
        QTest::newRow("leading zero") << "A01 ON" << Kind::Invalid << "";
        QTest::newRow("no function") << "A3" << Kind::Invalid << "";
        QTest::newRow("unknown function") << "A3 TOGGLE" << Kind::Invalid << "";
        QTest::newRow("on without unit") << "A ON" << Kind::Invalid << "";
        QTest::newRow("house-wide with unit") << "A3 ALL-UNITS-OFF" << Kind::Invalid << "";
        QTest::newRow("dim without amount") << "A1 DIM" << Kind::Invalid << "";
        QTest::newRow("dim above 100") << "A1 DIM 101" << Kind::Invalid << "";
        QTest::newRow("dim negative") << "A1 DIM -5" << Kind::Invalid << "";
        QTest::newRow("dim text") << "A1 DIM lots" << Kind::Invalid << "";
        QTest::newRow("trailing words") << "A1 ON NOW" << Kind::Invalid << "";
        QTest::newRow("collide alone") << "COLLIDE" << Kind::Invalid << "";
        QTest::newRow("status bad address") << "STATUS Z9" << Kind::Invalid << "";
    }
    void commands()
    {
        QFETCH(QString, line);
        QFETCH(Kind, kind);
        QFETCH(QString, parsed);
        const ConsoleCommand c = ConsoleCommand::parse(line);
        QCOMPARE(c.kind, kind);
        QCOMPARE(c.error.isEmpty(), kind != Kind::Invalid);
        if (!parsed.isEmpty())
            QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5")
                         .arg(c.house)
                         .arg(c.unit)
                         .arg(c.function)
                         .arg(c.percent)
                         .arg(int(c.collide)),
                     parsed);
    }

    // Lamp-module behaviour, step by step; each row continues on the same line.
    void modules()
    {
        PowerLine line;
        const int a = 0;
        QCOMPARE(line.apply(a, {3}, P::Dim, 4),
                 QStringList{"A3 DIM 4/22 LEVEL 82"}); // from off: full first
        QCOMPARE(line.apply(a, {3}, P::Dim, 22),
                 QStringList{"A3 DIM 22/22 LEVEL 0"}); // clamps at 0
        QCOMPARE(line.apply(a, {3}, P::Bright, 30), QStringList{"A3 BRIGHT 30/22 LEVEL 100"});
        QCOMPARE(line.apply(a, {3}, P::Off, 0), QStringList{"A3 OFF LEVEL 0"});
        QCOMPARE(line.stateLine(a, 3), QStringLiteral("A3 OFF LEVEL 0"));
        QCOMPARE(line.apply(a, {1, 2}, P::On, 0),
                 QStringList({"A1 ON LEVEL 100", "A2 ON LEVEL 100"}));
        QCOMPARE(line.apply(a, {}, P::On, 0), QStringList{"A ON NO-UNIT"});
        QCOMPARE(line.apply(a, {}, P::AllUnitsOff, 0), QStringList{"A ALL-UNITS-OFF"});
        QCOMPARE(line.stateLines(),
                 QStringList({"A1 OFF LEVEL 0", "A2 OFF LEVEL 0", "A3 OFF LEVEL 0"}));
        QCOMPARE(line.apply(1, {}, P::AllLightsOn, 0), QStringList{"B ALL-LIGHTS-ON"});
        QCOMPARE(line.stateLine(a, 1), QStringLiteral("A1 OFF LEVEL 0")); // other house
    }

    // The interface side without a wire: checksum, 0x00, execution, 0x55;
    // a poll for injected traffic and the upload after 0xC3.
    void handshakeAndUpload()
    {
        SimInterface sim(SimOptions{});
        QSignalSpy out(&sim, &SimInterface::transmit);
        QSignalSpy executed(&sim, &SimInterface::executed);
        sim.start();
        sim.receive(QByteArray::fromHex("0462"));
        QCOMPARE(out.takeFirst()[0].toByteArray(), QByteArray::fromHex("66"));
        sim.receive(QByteArray::fromHex("00"));
        QCOMPARE(out.takeFirst()[0].toByteArray(), QByteArray::fromHex("55"));
        sim.receive(QByteArray::fromHex("0662"));
        out.clear();
        sim.receive(QByteArray::fromHex("00"));
        QCOMPARE(executed.last()[0].toString(), QStringLiteral("A3 ON LEVEL 100"));

        out.clear();
        sim.inject(0, 1, P::Dim, 30);
        QCOMPARE(out.takeFirst()[0].toByteArray(), QByteArray::fromHex("5A"));
        sim.receive(QByteArray::fromHex("C3"));
        // size 4: mask (function = data byte 1), A1, A Dim, 63 dims.
        QCOMPARE(out.takeFirst()[0].toByteArray().toHex(' '), QByteArray("04 02 66 64 3f"));
    }

    // Until the clock arrives, the interface takes nothing else.
    void powerFailBlocksUntilClockIsSet()
    {
        SimOptions options;
        options.powerFail = true;
        SimInterface sim(options);
        QSignalSpy out(&sim, &SimInterface::transmit);
        sim.start();
        QCOMPARE(out.takeFirst()[0].toByteArray(), QByteArray::fromHex("A5"));
        sim.receive(QByteArray::fromHex("0462"));
        sim.receive(QByteArray::fromHex("8B"));
        QVERIFY(out.isEmpty());
        const QByteArray clock = P::setClockMessage(QDateTime(QDate(2026, 3, 5), QTime(7, 29, 55)));
        sim.receive(clock);
        QCOMPARE(out.takeFirst()[0].toByteArray(), QByteArray(1, char(P::setClockChecksum(clock))));
        sim.receive(QByteArray::fromHex("00"));
        QCOMPARE(out.takeFirst()[0].toByteArray(), QByteArray::fromHex("55"));
        sim.receive(QByteArray::fromHex("8B"));
        const QByteArray status = out.takeFirst()[0].toByteArray();
        QVERIFY(P::isPlausibleStatus(status));
        QCOMPARE(status.mid(2, 5), clock.mid(1, 5)); // the clock it was given
    }
};

QTEST_GUILESS_MAIN(TestCm11aSim)
#include "tst_cm11asim.moc"
