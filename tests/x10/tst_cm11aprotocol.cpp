#include "x10/cm11aprotocol.h"
#include "x10/cm11auploaddecoder.h"

#include <QtTest>
#include <cmath>
#include <limits>

using namespace casalux;
using P = Cm11aProtocol;

namespace {

QByteArray bytes(const char* hex)
{
    return QByteArray::fromHex(hex);
}

int house(char letter)
{
    return letter - 'A';
}

// "A3 2 0" per decoded command, joined with "|".
QString describe(const QList<Cm11aTraffic>& traffic)
{
    QStringList parts;
    for (const Cm11aTraffic& t : traffic)
        parts.append(QStringLiteral("%1 %2 %3").arg(t.address).arg(t.function).arg(t.percent));
    return parts.join(QLatin1Char('|'));
}

} // namespace

class TestCm11aProtocol : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Worked vectors from the protocol document and from peers' tests, plus
    // the frames whose plain checksum would collide with 0x55/0x5A/0xA5.
    void frames_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<int>("checksum");
        QTest::newRow("address A1") << P::addressFrame(house('A'), 1) << bytes("0466") << 0x6A;
        QTest::newRow("address A2") << P::addressFrame(house('A'), 2) << bytes("046E") << 0x72;
        QTest::newRow("A dim 16/22")
            << P::functionFrame(house('A'), P::Dim, 16) << bytes("8664") << 0xEA;
        QTest::newRow("A off") << P::functionFrame(house('A'), P::Off) << bytes("0663") << 0x69;
        QTest::newRow("address H10") << P::addressFrame(house('H'), 10) << bytes("04DF") << 0xE3;
        QTest::newRow("H on") << P::functionFrame(house('H'), P::On) << bytes("06D2") << 0xD8;
        QTest::newRow("address L7") << P::addressFrame(house('L'), 7) << bytes("04B5") << 0xB9;
        QTest::newRow("address L9") << P::addressFrame(house('L'), 9) << bytes("04B7") << 0xBB;
        QTest::newRow("L dim 11/22")
            << P::functionFrame(house('L'), P::Dim, 11) << bytes("5EB4") << 0x12;
        QTest::newRow("address A3") << P::addressFrame(house('A'), 3) << bytes("0462") << 0x66;
        QTest::newRow("A bright 22/22")
            << P::functionFrame(house('A'), P::Bright, 22) << bytes("B665") << 0x1B;
        QTest::newRow("on ignores steps")
            << P::functionFrame(house('A'), P::On, 9) << bytes("0662") << 0x68;
        QTest::newRow("steps clamp to 22")
            << P::functionFrame(house('A'), P::Dim, 40) << bytes("B664") << 0x1A;
        // Collisions: the dim field moves one step.
        QTest::newRow("G1 would sum to 5A")
            << P::addressFrame(house('G'), 1) << bytes("0C56") << 0x62;
        QTest::newRow("D5 would sum to A5")
            << P::addressFrame(house('D'), 5) << bytes("0CA1") << 0xAD;
        QTest::newRow("G5 would sum to 55")
            << P::addressFrame(house('G'), 5) << bytes("0C51") << 0x5D;
        QTest::newRow("G dim 0 would sum to 5A")
            << P::functionFrame(house('G'), P::Dim, 0) << bytes("0E54") << 0x62;
        QTest::newRow("F status request would sum to A5")
            << P::functionFrame(house('F'), 15) << bytes("0E9F") << 0xAD;
    }
    void frames()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, expected);
        QFETCH(int, checksum);
        QCOMPARE(frame.toHex(' '), expected.toHex(' '));
        QCOMPARE(int(P::checksum(frame)), checksum);
    }

    // Whatever is sent, the interface's checksum never reads as a poll, a
    // power-fail request or a ready byte, and the frame still decodes to the
    // same address or function (dim amounts move by one step at most).
    void noFrameHasAnAmbiguousChecksum()
    {
        for (int h = 0; h < 16; ++h) {
            for (int unit = 1; unit <= 16; ++unit) {
                const QByteArray f = P::addressFrame(h, unit);
                QVERIFY(!P::isAmbiguousReply(P::checksum(f)));
                const auto d = P::decodeFrame(quint8(f[0]), quint8(f[1]));
                QVERIFY(d.valid && !d.isFunction);
                QCOMPARE(d.house, h);
                QCOMPARE(d.unit, unit);
            }
            for (int function = 0; function < 16; ++function) {
                for (int steps = 0; steps <= P::MaxDimSteps; ++steps) {
                    const QByteArray f = P::functionFrame(h, function, steps);
                    QVERIFY(!P::isAmbiguousReply(P::checksum(f)));
                    const auto d = P::decodeFrame(quint8(f[0]), quint8(f[1]));
                    QVERIFY(d.valid && d.isFunction);
                    QCOMPARE(d.house, h);
                    QCOMPARE(d.function, function);
                    if (P::takesDimAmount(function))
                        QVERIFY(std::abs(d.steps - steps) <= 1);
                }
            }
        }
    }

    // A1 and A10 differ only in the unit nibble (6 vs F); a table slip
    // there reports the wrong lamp.
    void codeTableRoundTrips()
    {
        for (int i = 0; i < 16; ++i) {
            QCOMPARE(P::houseFromNibble(P::houseNibble(i)), i);
            QCOMPARE(P::unitFromNibble(P::unitNibble(i + 1)), i + 1);
        }
        QCOMPARE(P::unitNibble(1), 0x6);
        QCOMPARE(P::unitNibble(10), 0xF);
        QCOMPARE(P::houseIndex(QChar(u'p')), 15);
        QCOMPARE(P::houseIndex(QChar(u'Q')), -1);
        QCOMPARE(P::unitNibble(0), -1);
        QCOMPARE(P::unitNibble(17), -1);
        QVERIFY(!P::decodeFrame(0x9B, 0x00).valid); // bit 2 clear: not a header
        QVERIFY(!P::decodeFrame(0x07, 0x67).valid); // extended
    }

    // The send level is a percentage of the full 22-step range; 20 is the
    // level of plain commands and comes out as 4 steps.
    void dimSteps_data()
    {
        QTest::addColumn<double>("percent");
        QTest::addColumn<int>("steps");
        QTest::newRow("plain command level") << 20.0 << 4;
        QTest::newRow("leading on") << 0.0 << 0;
        QTest::newRow("bright to full") << 100.0 << 22;
        QTest::newRow("dim 70") << 70.0 << 15;
        QTest::newRow("dim 50") << 50.0 << 11;
        QTest::newRow("dim 2 rounds down") << 2.0 << 0;
        QTest::newRow("dim 3 rounds up") << 3.0 << 1;
        QTest::newRow("above 100") << 250.0 << 22;
        QTest::newRow("negative") << -5.0 << 0;
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 0;
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << 0;
    }
    void dimSteps()
    {
        QFETCH(double, percent);
        QFETCH(int, steps);
        QCOMPARE(P::dimSteps(percent), steps);
    }

    void receivedDimsAreOn210Scale()
    {
        QCOMPARE(P::percentFromDims(88), 42); // the document's Bright example
        QCOMPARE(P::percentFromDims(210), 100);
        QCOMPARE(P::percentFromDims(255), 100);
        QCOMPARE(P::percentFromDims(0), 0);
        for (int percent = 0; percent <= 100; ++percent)
            QCOMPARE(P::percentFromDims(P::dimsFromPercent(percent)), percent);
    }

    void setClock_data()
    {
        QTest::addColumn<QDateTime>("at");
        QTest::addColumn<QByteArray>("expected");
        // Thursday, year day 63 (0-based), odd hour: minutes carry +60.
        QTest::newRow("march morning")
            << QDateTime(QDate(2026, 3, 5), QTime(7, 29, 55)) << bytes("9B3759033F1060");
        // Last day of a leap year: year day 365 needs bit 8; Tuesday.
        QTest::newRow("leap new year's eve")
            << QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59)) << bytes("9B3B770B6D8460");
        // Sunday midnight, year day 0.
        QTest::newRow("sunday midnight")
            << QDateTime(QDate(2023, 1, 1), QTime(0, 0, 0)) << bytes("9B000000000160");
    }
    void setClock()
    {
        QFETCH(QDateTime, at);
        QFETCH(QByteArray, expected);
        const QByteArray m = P::setClockMessage(at, house('A'));
        QCOMPARE(m.toHex(' '), expected.toHex(' '));
        const auto c = P::decodeSetClock(m);
        QVERIFY(c.valid);
        QCOMPARE(QTime(c.hour, c.minute, c.second), at.time());
        QCOMPARE(c.yearDay, at.date().dayOfYear() - 1);
    }

    // Over a whole day, the clock message's checksum is never ambiguous and
    // the time sent is at most a second off.
    void setClockChecksumIsNeverAmbiguous()
    {
        const QDateTime start(QDate(2026, 6, 1), QTime(0, 0, 0));
        for (int s = 0; s < 24 * 3600; s += 7) {
            const QDateTime at = start.addSecs(s);
            const QByteArray m = P::setClockMessage(at, house('E'));
            QVERIFY(!P::isAmbiguousReply(P::setClockChecksum(m)));
            const auto c = P::decodeSetClock(m);
            QVERIFY(std::abs(QTime(c.hour, c.minute, c.second).secsTo(at.time())) <= 1);
            QCOMPARE(c.monitoredHouse, house('E'));
        }
    }

    void statusPlausibility_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("plausible");
        QTest::newRow("cold start") << bytes("FFFF000000000061000000000000") << true;
        QTest::newRow("running") << bytes("1200371D033F1061040004000000") << true;
        QTest::newRow("echo of the request") << bytes("8B") << false;
        QTest::newRow("seconds out of range") << bytes("0000700000000061000000000000") << false;
        QTest::newRow("minutes out of range") << bytes("0000007800000061000000000000") << false;
        QTest::newRow("one byte short") << bytes("FFFF0000000000610000000000") << false;
    }
    void statusPlausibility()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, plausible);
        QCOMPARE(P::isPlausibleStatus(reply), plausible);
    }

    // Each row is one or more uploads (payload after the size byte, "/"
    // between uploads) and the commands they report.
    void uploads_data()
    {
        QTest::addColumn<QString>("uploads");
        QTest::addColumn<QString>("reported");
        QTest::newRow("document example: B6 B7 bright 88") << "04 E9 E5 E5 58"
                                                           << "B6 5 42|B7 5 42";
        QTest::newRow("A1 is A1, not A10") << "02 66 62"
                                           << "A1 2 0";
        QTest::newRow("A10 is A10") << "02 6F 63"
                                    << "A10 3 0";
        QTest::newRow("address and function in separate uploads") << "00 66/01 62"
                                                                  << "A1 2 0";
        QTest::newRow("dim byte deferred to the next upload") << "02 66 64/00 3F"
                                                              << "A1 4 30";
        QTest::newRow("two units then on") << "04 66 6E 62"
                                           << "A1 2 0|A2 2 0";
        QTest::newRow("new address after a function starts a new set") << "0A 66 62 6E 63"
                                                                       << "A1 2 0|A2 3 0";
        QTest::newRow("function reaches units addressed before it again") << "02 66 62/01 63"
                                                                          << "A1 2 0|A1 3 0";
        QTest::newRow("function acts on its own house only") << "04 66 EE E4 2A"
                                                             << "B2 4 20";
        QTest::newRow("house-wide function") << "01 60"
                                             << "A 0 0";
        QTest::newRow("all units off unaddresses") << "02 66 60/01 62"
                                                   << "A 0 0";
        QTest::newRow("function with nothing addressed") << "01 63"
                                                         << "";
        QTest::newRow("extended code skips its three bytes") << "21 67 06 10 31 66 62"
                                                             << "A1 2 0";
        QTest::newRow("empty upload") << ""
                                      << "";
    }
    void uploads()
    {
        QFETCH(QString, uploads);
        QFETCH(QString, reported);
        Cm11aUploadDecoder decoder;
        QList<Cm11aTraffic> all;
        for (const QString& upload : uploads.split(QLatin1Char('/')))
            all += decoder.decode(QByteArray::fromHex(upload.toLatin1()));
        QCOMPARE(describe(all), reported);
        for (const Cm11aTraffic& t : all)
            QCOMPARE(t.house, t.address.left(1));
    }

    void resetForgetsAddressesAndPendingDim()
    {
        Cm11aUploadDecoder decoder;
        decoder.decode(bytes("0266 64"));
        decoder.reset();
        QCOMPARE(describe(decoder.decode(bytes("0162"))), QString());
    }
};

QTEST_GUILESS_MAIN(TestCm11aProtocol)
#include "tst_cm11aprotocol.moc"
