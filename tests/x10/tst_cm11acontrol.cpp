#include "platform/clock.h"
#include "simprocess.h"
#include "x10/cm11acontrol.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

using namespace casalux;
using casalux::test::SimProcess;

namespace {

constexpr int kPort = 3;
// Waits in the driver run ten times faster than on a real line.
constexpr double kScale = 10;

QCoro::Task<bool> sendCommand(Cm11aControl& control, const char* address, int function,
                              double level = InterfaceControl::PlainLevel)
{
    const QString text = QString::fromLatin1(address);
    co_return co_await control.send(text.left(1), text.mid(1), function, level, 20, 50);
}

} // namespace

// The driver against the real simulator over a real pseudo-terminal.
class TestCm11aControl : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<SimProcess> m_sim;
    std::unique_ptr<Cm11aControl> m_control;

    // Starts the simulator and points port 3 at it.
    void startSim(const QStringList& arguments = {}, double simScale = kScale)
    {
        m_sim = std::make_unique<SimProcess>();
        QVERIFY2(m_sim->start(arguments, simScale), "cm11a-sim did not start");
        qputenv("CASALUX_SERIAL_3", m_sim->devicePath().toLocal8Bit());
    }
    void openReady()
    {
        m_control->setPort(kPort);
        QCOMPARE(QCoro::waitFor(m_control->open()), InterfaceControl::Ready);
    }

private Q_SLOTS:
    void init()
    {
        Clock::instance().start(QDateTime::currentDateTime(), kScale);
        m_control = std::make_unique<Cm11aControl>();
    }
    void cleanup()
    {
        if (m_control)
            m_control->close();
        m_control.reset();
        m_sim.reset();
        qunsetenv("CASALUX_SERIAL_3");
        Clock::instance().useSystemTime();
    }

    void openAnswersReady()
    {
        startSim();
        openReady();
        QVERIFY(m_control->isOpen());
        QVERIFY(m_sim->receivedHex().startsWith(QLatin1String("8B")));
    }

    void openReportsUnusablePort_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("path");
        QTest::newRow("missing device") << kPort << "/nonexistent/casalux-tty";
        QTest::newRow("not a serial device") << kPort << "/dev/null";
        QTest::newRow("port 0") << 0 << "";
        QTest::newRow("port 16") << 16 << "";
    }
    void openReportsUnusablePort()
    {
        QFETCH(int, port);
        QFETCH(QString, path);
        if (!path.isEmpty())
            qputenv("CASALUX_SERIAL_3", path.toLocal8Bit());
        m_control->setPort(port);
        QCOMPARE(QCoro::waitFor(m_control->open()), InterfaceControl::PortUnusable);
        QVERIFY(!m_control->isOpen());
        // The reason names what was tried, for the log and the status bar.
        const QString why = m_control->failureText();
        QVERIFY2(path.isEmpty() ? why == QStringLiteral("port %1 names no serial device").arg(port)
                                : why.startsWith(path + QStringLiteral(" cannot be")),
                 qPrintable(why));
    }

    // The port opens but nothing answers: "try again later", port let go.
    void openReportsNoAnswerFromSilentInterface()
    {
        startSim({QStringLiteral("--silent")});
        m_control->setPort(kPort);
        QCOMPARE(QCoro::waitFor(m_control->open()), InterfaceControl::NoAnswer);
        QVERIFY(!m_control->isOpen());
        QCOMPARE(m_control->failureText(),
                 QStringLiteral("no X10 interface answered on ") + m_sim->devicePath());
        QVERIFY(!QCoro::waitFor(sendCommand(*m_control, "A3", InterfaceControl::On)));
        QCOMPARE(m_control->failureText(), QStringLiteral("the X10 interface is not connected"));
    }

    // The dimming sequence to 30 %: On (level 0), Bright to full (100), Dim by 70.
    void dimmingSequenceSetsModuleLevel()
    {
        startSim();
        openReady();
        QVERIFY(QCoro::waitFor(sendCommand(*m_control, "A3", InterfaceControl::On, 0)));
        QVERIFY(QCoro::waitFor(sendCommand(*m_control, "A3", InterfaceControl::Bright, 100)));
        QVERIFY(QCoro::waitFor(sendCommand(*m_control, "A3", InterfaceControl::Dim, 70.0)));
        // Address A3 (04 62) before each function: A On (06 62), A Bright 22
        // steps (B6 65), A Dim 15 steps (7E 64), each acknowledged with 00.
        QVERIFY2(m_sim->receivedHex().endsWith(
                     QLatin1String("04 62 00 06 62 00 04 62 00 B6 65 00 04 62 00 7E 64 00")),
                 qPrintable(m_sim->receivedHex()));
        m_sim->command(QStringLiteral("STATUS A3"));
        QTRY_COMPARE(m_sim->lines(), QStringList({QStringLiteral("A3 ON LEVEL 100"),
                                                  QStringLiteral("A3 BRIGHT 22/22 LEVEL 100"),
                                                  QStringLiteral("A3 DIM 15/22 LEVEL 32"),
                                                  QStringLiteral("STATE A3 ON LEVEL 32")}));
    }

    void trafficFromTheLineIsReported_data()
    {
        QTest::addColumn<QString>("injected");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("function");
        QTest::addColumn<int>("value");
        QTest::newRow("A1 on") << "A1 ON"
                               << "A1" << 2 << 0;
        QTest::newRow("A10 off") << "A10 OFF"
                                 << "A10" << 3 << 0;
        QTest::newRow("B12 off") << "b12 off"
                                 << "B12" << 3 << 0;
        QTest::newRow("A1 dim 30") << "A1 DIM 30"
                                   << "A1" << 4 << 30;
        QTest::newRow("P16 bright 100") << "P16 BRIGHT 100"
                                        << "P16" << 5 << 100;
        QTest::newRow("house-wide") << "C ALL-UNITS-OFF"
                                    << "C" << 0 << 0;
    }
    void trafficFromTheLineIsReported()
    {
        QFETCH(QString, injected);
        QFETCH(QString, address);
        QFETCH(int, function);
        QFETCH(int, value);
        startSim();
        openReady();
        QSignalSpy spy(m_control.get(), &InterfaceControl::traffic);
        m_sim->command(injected);
        QTRY_COMPARE(spy.size(), 1);
        QCOMPARE(spy[0][0].toString(), address);
        QCOMPARE(spy[0][1].toString(), address.left(1));
        QCOMPARE(spy[0][2].toInt(), function);
        QCOMPARE(spy[0][3].toInt(), value);
        // The line is free again for our own commands.
        QVERIFY(QCoro::waitFor(sendCommand(*m_control, "A2", InterfaceControl::On)));
        QCOMPARE(spy.size(), 1);
    }

    // Several remote commands in a row, more than one upload buffer holds.
    void manyCommandsFromTheLineArriveInOrder()
    {
        startSim();
        openReady();
        QSignalSpy spy(m_control.get(), &InterfaceControl::traffic);
        const QStringList injected = {QStringLiteral("A1 ON"), QStringLiteral("A10 ON"),
                                      QStringLiteral("A1 DIM 50"), QStringLiteral("B2 OFF"),
                                      QStringLiteral("A1 OFF")};
        for (const QString& line : injected)
            m_sim->command(line);
        QTRY_COMPARE(spy.size(), injected.size());
        QStringList seen;
        for (const auto& args : spy)
            seen.append(args[0].toString() + u' ' + QString::number(args[2].toInt()));
        QCOMPARE(seen, QStringList({QStringLiteral("A1 2"), QStringLiteral("A10 2"),
                                    QStringLiteral("A1 4"), QStringLiteral("B2 3"),
                                    QStringLiteral("A1 3")}));
    }

    void corruptedChecksumIsResentOnce()
    {
        startSim({QStringLiteral("--corrupt-checksum-once")});
        openReady();
        QVERIFY(QCoro::waitFor(sendCommand(*m_control, "A3", InterfaceControl::On)));
        // The address went out twice, the second time acknowledged.
        QVERIFY2(m_sim->receivedHex().endsWith(QLatin1String("04 62 04 62 00 06 62 00")),
                 qPrintable(m_sim->receivedHex()));
        QTRY_COMPARE(m_sim->lines(), QStringList{QStringLiteral("A3 ON LEVEL 100")});
    }

    // After a power cut the interface asks for the clock and takes nothing
    // else until it has it; open() answers and counts that as ready.
    void powerFailRequestIsAnsweredWithTheClock()
    {
        Clock::instance().freeze(QDateTime(QDate(2026, 3, 5), QTime(7, 29, 55)), kScale);
        startSim({QStringLiteral("--power-fail")});
        openReady();
        QTRY_COMPARE(m_sim->lines(),
                     QStringList{QStringLiteral("CLOCK 07:29:55 YEARDAY 63 WEEKDAYS 10 HOUSE A")});
        QVERIFY(m_sim->receivedHex().contains(QLatin1String("9B 37 59 03 3F 10 60 00")));
        QVERIFY(QCoro::waitFor(sendCommand(*m_control, "A3", InterfaceControl::Off)));
        QTRY_COMPARE(m_sim->lines().size(), 2);
        QCOMPARE(m_sim->lines().last(), QStringLiteral("A3 OFF LEVEL 0"));
    }

    // A power cut while the program runs: the request arrives while the line
    // is idle or crosses the next command; either way the command goes out.
    void powerFailDuringSessionIsAnswered()
    {
        startSim();
        openReady();
        m_sim->command(QStringLiteral("POWERFAIL"));
        QTRY_VERIFY(m_sim->lines().size() == 1 &&
                    m_sim->lines().first().startsWith(QLatin1String("CLOCK ")));
        m_sim->command(QStringLiteral("POWERFAIL"));
        QVERIFY(QCoro::waitFor(sendCommand(*m_control, "A4", InterfaceControl::On)));
        QTRY_VERIFY(m_sim->lines().contains(QStringLiteral("A4 ON LEVEL 100")));
        QCOMPARE(m_sim->lines().filter(QStringLiteral("CLOCK ")).size(), 2);
    }

    // Traffic comes in just as we send: the interface polls instead of
    // giving the checksum. The upload is read and the frame sent again.
    void pollInsteadOfChecksumIsServicedAndFrameResent()
    {
        startSim();
        openReady();
        QSignalSpy spy(m_control.get(), &InterfaceControl::traffic);
        m_sim->command(QStringLiteral("COLLIDE A2 ON"));
        QTRY_VERIFY(m_sim->lines().contains(QStringLiteral("REMOTE A2 ON LEVEL 100")));
        QVERIFY(QCoro::waitFor(sendCommand(*m_control, "A3", InterfaceControl::On)));
        QTRY_COMPARE(spy.size(), 1);
        QCOMPARE(spy[0][0].toString(), QStringLiteral("A2"));
        QVERIFY2(m_sim->receivedHex().endsWith(QLatin1String("04 62 C3 04 62 00 06 62 00")),
                 qPrintable(m_sim->receivedHex()));
        QCOMPARE(m_sim->lines().last(), QStringLiteral("A3 ON LEVEL 100"));
    }

    // A machine that stalls finds several polls waiting at once: each is
    // answered until the upload comes, and the next command goes through.
    void pollsQueuedDuringAStallAreAllAnswered()
    {
        startSim();
        openReady();
        QSignalSpy spy(m_control.get(), &InterfaceControl::traffic);
        m_sim->command(QStringLiteral("A2 ON"));
        // Polls pile up unread: this thread does not run its event loop
        // until the simulator has sent several.
        QVERIFY(m_sim->waitUntilSent(QStringLiteral("5A"), 4));
        QVERIFY(QCoro::waitFor(sendCommand(*m_control, "A3", InterfaceControl::On)));
        QTRY_COMPARE(spy.size(), 1);
        QCOMPARE(spy[0][0].toString(), QStringLiteral("A2"));
        QTRY_COMPARE(m_sim->lines().last(), QStringLiteral("A3 ON LEVEL 100"));
    }

    // Two callers at once: the second waits its turn; frames never interleave.
    void sendsAreSerialised()
    {
        startSim();
        openReady();
        auto first = sendCommand(*m_control, "A1", InterfaceControl::On);
        auto second = sendCommand(*m_control, "A2", InterfaceControl::Off);
        QVERIFY(QCoro::waitFor(std::move(first)));
        QVERIFY(QCoro::waitFor(std::move(second)));
        QVERIFY2(
            m_sim->receivedHex().endsWith(QLatin1String("04 66 00 06 62 00 04 6E 00 06 63 00")),
            qPrintable(m_sim->receivedHex()));
    }

    // The adapter disappears while the interface is busy on the power line:
    // the command fails as soon as the port reports it, not at its timeout.
    void vanishedInterfaceEndsTheCommandQuickly()
    {
        Clock::instance().useSystemTime(); // real 10 s timeout for 0x55
        startSim({QStringLiteral("--line-delay"), QStringLiteral("8000")}, 0);
        openReady();
        QTimer::singleShot(300, m_sim.get(), [this] { m_sim->kill(); });
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(!QCoro::waitFor(sendCommand(*m_control, "A3", InterfaceControl::On)));
        QVERIFY2(elapsed.elapsed() < 3000, qPrintable(QString::number(elapsed.elapsed())));
        QVERIFY(!m_control->isOpen());
        QCOMPARE(m_control->failureText(),
                 QStringLiteral("the serial port of the X10 interface (%1) went away")
                     .arg(m_sim->devicePath()));
        QVERIFY(!QCoro::waitFor(sendCommand(*m_control, "A3", InterfaceControl::Off)));
    }

    // The owner goes away with one command on the line and one waiting:
    // both end with false instead of staying suspended.
    void destroyingTheControlEndsCommandsInFlight()
    {
        startSim({QStringLiteral("--line-delay"), QStringLiteral("5000")});
        openReady();
        auto first = sendCommand(*m_control, "A1", InterfaceControl::On);
        auto second = sendCommand(*m_control, "A2", InterfaceControl::On);
        QTRY_VERIFY(m_sim->receivedHex().endsWith(QLatin1String("06 62 00")));
        m_control.reset();
        QVERIFY(!QCoro::waitFor(std::move(first)));
        QVERIFY(!QCoro::waitFor(std::move(second)));
    }

    void refusesArgumentsItCannotEncode_data()
    {
        QTest::addColumn<QString>("house");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<int>("function");
        QTest::newRow("house Q") << "Q"
                                 << "1" << 2;
        QTest::newRow("empty house") << ""
                                     << "1" << 2;
        QTest::newRow("two letters") << "AB"
                                     << "1" << 2;
        QTest::newRow("unit 0") << "A"
                                << "0" << 2;
        QTest::newRow("unit 17") << "A"
                                 << "17" << 2;
        QTest::newRow("unit text") << "A"
                                   << "x" << 2;
        QTest::newRow("extended code") << "A"
                                       << "1" << 7;
        QTest::newRow("function 16") << "A"
                                     << "1" << 16;
        QTest::newRow("negative function") << "A"
                                           << "1" << -1;
    }
    void refusesArgumentsItCannotEncode()
    {
        QFETCH(QString, house);
        QFETCH(QString, unit);
        QFETCH(int, function);
        startSim();
        openReady();
        const QString before = m_sim->receivedHex();
        QVERIFY(!QCoro::waitFor(m_control->send(house, unit, function, 20, 20, 50)));
        QCOMPARE(m_sim->receivedHex(), before);
    }

    void closeReleasesThePort()
    {
        startSim();
        openReady();
        QVERIFY(m_control->close());
        QVERIFY(!m_control->isOpen());
        QVERIFY(!QCoro::waitFor(sendCommand(*m_control, "A3", InterfaceControl::On)));
        // And the port can be opened again.
        openReady();
        QVERIFY(QCoro::waitFor(sendCommand(*m_control, "A3", InterfaceControl::On)));
    }
};

QTEST_GUILESS_MAIN(TestCm11aControl)
#include "tst_cm11acontrol.moc"
