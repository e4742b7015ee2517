#include "platform/clock.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

#include <qcoro/qcorotask.h>

using namespace casalux;

class TestClock : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        qunsetenv("CASALUX_NOW");
        qunsetenv("CASALUX_TIME_SCALE");
        Clock::instance().useSystemTime();
    }

    void shiftedClockAdvancesByScale()
    {
        const QDateTime origin(QDate(2026, 3, 5), QTime(7, 29, 55));
        Clock::instance().start(origin, 1000);
        QCoro::waitFor(Clock::instance().sleep(10)); // 10 ms of real time
        const qint64 advanced = origin.secsTo(Clock::instance().now());
        QVERIFY2(advanced >= 10 && advanced < 600, qPrintable(QString::number(advanced)));
    }

    void frozenClockStays()
    {
        const QDateTime at(QDate(2026, 12, 31), QTime(23, 59, 59));
        Clock::instance().freeze(at, 1000);
        QCoro::waitFor(waitseconds(2));
        QCOMPARE(Clock::instance().now(), at);
    }

    void intervalsShrinkWithScale()
    {
        Clock::instance().start(QDateTime::currentDateTime(), 100);
        QCOMPARE(Clock::instance().interval(60000), 600);
        QCOMPARE(Clock::instance().interval(1), 1); // never 0 for a positive interval
        Clock::instance().useSystemTime();
        QCOMPARE(Clock::instance().interval(2000), 2000);
    }

    void environmentOverrides_data()
    {
        QTest::addColumn<QString>("now");
        QTest::addColumn<QString>("scale");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("both") << "2026-03-05T07:29:55" << "60" << true;
        QTest::newRow("only now") << "2026-03-05T07:29:55" << "" << true;
        QTest::newRow("only scale") << "" << "10" << true;
        QTest::newRow("bad date") << "yesterday" << "" << false;
        QTest::newRow("zero scale") << "" << "0" << false;
        QTest::newRow("negative scale") << "" << "-5" << false;
        QTest::newRow("text scale") << "" << "fast" << false;
        QTest::newRow("infinite scale") << "" << "inf" << false;
    }
    void environmentOverrides()
    {
        QFETCH(QString, now);
        QFETCH(QString, scale);
        QFETCH(bool, accepted);
        if (!now.isEmpty())
            qputenv("CASALUX_NOW", now.toUtf8());
        if (!scale.isEmpty())
            qputenv("CASALUX_TIME_SCALE", scale.toUtf8());
        const QString error = Clock::instance().configureFromEnvironment();
        QCOMPARE(error.isEmpty(), accepted);
        if (accepted && !now.isEmpty())
            QCOMPARE(Clock::instance().now().date(), QDate(2026, 3, 5));
        if (!accepted)
            QCOMPARE(Clock::instance().scale(), 1.0);
    }

    // The whole point of the waits: while one task sleeps, timers keep firing.
    void timerTicksDuringAWait()
    {
        Clock::instance().start(QDateTime::currentDateTime(), 100);
        int ticks = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(1);
        QCoro::waitFor(waitseconds(2)); // 20 ms real
        // The tick is due first, so it runs before the wait ends however
        // late a loaded machine wakes the loop.
        QVERIFY2(ticks >= 1, qPrintable(QString::number(ticks)));
    }

    // A wait that spans midnight ends after its length like any other.
    void waitAcrossMidnight()
    {
        const QDateTime origin(QDate(2026, 6, 1), QTime(23, 59, 59));
        Clock::instance().start(origin, 1000);
        QElapsedTimer real;
        real.start();
        QCoro::waitFor(waitseconds(3));
        QVERIFY(real.elapsed() < 1000);
        QVERIFY(Clock::instance().now() >= origin.addSecs(3));
        QCOMPARE(Clock::instance().now().date(), QDate(2026, 6, 2));
    }
};

QTEST_GUILESS_MAIN(TestClock)
#include "tst_clock.moc"
