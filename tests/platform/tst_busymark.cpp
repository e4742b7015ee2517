#include "platform/busymark.h"
#include "platform/clock.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <qcoro/qcorotask.h>

#include <stdexcept>

using namespace casalux;

class TestBusyMark : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { Clock::instance().start(QDateTime::currentDateTime(), 1000); }
    void cleanup() { Clock::instance().useSystemTime(); }

    void holdReleasesOnEveryWayOut()
    {
        BusyMark mark;
        {
            auto hold = mark.tryTake();
            QVERIFY(hold && mark.isHeld());
            QVERIFY(!mark.tryTake());
        }
        QVERIFY(!mark.isHeld());

        try {
            auto hold = mark.tryTake();
            throw std::runtime_error("file write failed");
        } catch (const std::runtime_error&) {
        }
        QVERIFY(!mark.isHeld());

        auto a = mark.tryTake();
        BusyMark::Hold moved = std::move(*a);
        a.reset();
        QVERIFY(mark.isHeld()); // the moved-from hold let go of nothing
        moved.release();
        QVERIFY(!mark.isHeld());
    }

    // A task that finds the mark held proceeds once the holder lets go from a
    // timer; no nested event loop is involved.
    void waiterProceedsWhenFreed()
    {
        BusyMark mark;
        auto hold = std::make_unique<BusyMark::Hold>(*mark.tryTake());
        QTimer::singleShot(30, [&] { hold.reset(); });

        bool proceeded = false;
        auto waiter = [&]() -> QCoro::Task<> {
            auto h = co_await mark.take();
            proceeded = true;
        };
        auto task = waiter();
        QVERIFY(!proceeded);
        QCoro::waitFor(task);
        QVERIFY(proceeded);
        QVERIFY(!mark.isHeld());
    }

    // The waiter is handed the mark when it is let go, on the program's own
    // clock, not at a later look; a tryTake in between finds it taken.
    void waiterIsHandedTheMarkAtOnce()
    {
        Clock::instance().useSystemTime();
        BusyMark mark;
        auto hold = std::make_unique<BusyMark::Hold>(*mark.tryTake());
        bool proceeded = false;
        auto waiter = [&]() -> QCoro::Task<> {
            auto h = co_await mark.take();
            proceeded = true;
        };
        auto task = waiter();
        QElapsedTimer waited;
        waited.start();
        QTimer::singleShot(20, [&] {
            hold.reset();
            QVERIFY(!mark.tryTake());
        });
        QCoro::waitFor(task);
        QVERIFY(proceeded);
        QVERIFY2(waited.elapsed() < 500, qPrintable(QString::number(waited.elapsed())));
        QVERIFY(!mark.isHeld());
    }

    // Two waiters for one mark never hold it at the same time.
    void waitersTakeTurns()
    {
        BusyMark mark;
        int inside = 0;
        int maxInside = 0;
        QStringList order;
        auto worker = [&](QString name) -> QCoro::Task<> {
            auto h = co_await mark.take();
            maxInside = std::max(maxInside, ++inside);
            order.append(name);
            co_await waitseconds(2);
            --inside;
        };
        auto a = worker(QStringLiteral("a"));
        auto b = worker(QStringLiteral("b"));
        QCoro::waitFor(a);
        QCoro::waitFor(b);
        QCOMPARE(maxInside, 1);
        QCOMPARE(order, QStringList({QStringLiteral("a"), QStringLiteral("b")}));
    }

    // A socket event is handled while a task waits for a held mark.
    void socketServedDuringWait()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        bool accepted = false;
        QObject::connect(&server, &QTcpServer::newConnection, [&] {
            accepted = true;
            delete server.nextPendingConnection();
        });
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, server.serverPort());

        BusyMark mark;
        auto hold = std::make_unique<BusyMark::Hold>(*mark.tryTake());
        QTimer::singleShot(200, [&] { hold.reset(); });
        auto waiter = [&]() -> QCoro::Task<bool> {
            auto h = co_await mark.take();
            co_return accepted;
        };
        QVERIFY(QCoro::waitFor(waiter()));
    }
};

QTEST_GUILESS_MAIN(TestBusyMark)
#include "tst_busymark.moc"
