#include "platform/clock.h"
#include "simprocess.h"
#include "x10/cm11acontrol.h"
#include "x10/interfacereconnector.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>

using namespace casalux;
using casalux::test::SimProcess;

namespace {

constexpr int kPort = 4;
constexpr double kScale = 10; // a retry every half second

QCoro::Task<bool> sendOn(InterfaceControl& control, const char* unit)
{
    co_return co_await control.send(QStringLiteral("A"), QString::fromLatin1(unit),
                                    InterfaceControl::On, InterfaceControl::PlainLevel, 20, 50);
}

} // namespace

// The driver and the reconnector against the real simulator, reached through
// a symbolic link as a /dev/serial/by-id name is: the simulator is killed (the
// adapter pulled) and a new one put behind the same link (plugged in again,
// perhaps as another /dev/ttyUSBn).
class TestInterfaceReconnector : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<SimProcess> m_sim;
    std::unique_ptr<Cm11aControl> m_control;
    std::unique_ptr<InterfaceReconnector> m_reconnector;

    QString link() const { return m_dir.filePath(QStringLiteral("usb-X10_CM11A-if00-port0")); }

    // A new simulator behind the link, swapped in one step like udev does.
    bool plugIn(const QStringList& arguments = {})
    {
        m_sim = std::make_unique<SimProcess>();
        if (!m_sim->start(arguments, kScale))
            return false;
        const QString next = link() + QStringLiteral(".new");
        QFile::remove(next);
        return QFile::link(m_sim->devicePath(), next) &&
               std::rename(next.toLocal8Bit().constData(), link().toLocal8Bit().constData()) == 0;
    }
    // The adapter is pulled: its device goes, and so does its by-id link
    // (udev removes it). Left pointing at the dead pseudo-terminal, the
    // link could lead to one another program opened since under the same
    // number, and the tries would talk to that.
    void pull()
    {
        m_sim->kill();
        QFile::remove(link());
    }
    // Plugs a working interface in again and watches a few retry periods:
    // nothing may try the port.
    void expectNoMoreAttempts()
    {
        const int attempts = m_reconnector->attempts();
        QVERIFY(plugIn());
        QTest::qWait(int(4 * InterfaceReconnector::retrySeconds * 1000 / kScale));
        QCOMPARE(m_reconnector->attempts(), attempts);
        QVERIFY(!m_control->isOpen());
        QVERIFY2(m_sim->receivedHex().isEmpty(), qPrintable(m_sim->receivedHex()));
    }
    QString simLog() const { return m_sim ? m_sim->lines().join(QLatin1Char('\n')) : QString(); }

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        Clock::instance().start(QDateTime::currentDateTime(), kScale);
        QVERIFY(plugIn());
        qputenv("CASALUX_SERIAL_4", link().toLocal8Bit());
        m_control = std::make_unique<Cm11aControl>();
        m_reconnector = std::make_unique<InterfaceReconnector>(*m_control);
        m_control->setPort(kPort);
        QCOMPARE(QCoro::waitFor(m_control->open()), InterfaceControl::Ready);
    }
    void cleanup()
    {
        m_reconnector.reset();
        m_control.reset();
        m_sim.reset();
        qunsetenv("CASALUX_SERIAL_4");
        Clock::instance().useSystemTime();
    }

    // Pulled while idle, and while a command is on the line: the loss is
    // told at once, commands fail without waiting, and the interface put
    // back behind the same name is found again and carries out commands.
    void pulledAndPluggedInAgain_data()
    {
        QTest::addColumn<bool>("busy");
        QTest::newRow("idle") << false;
        QTest::newRow("command on the line") << true;
    }
    void pulledAndPluggedInAgain()
    {
        QFETCH(bool, busy);
        if (busy) {
            // A long transmission, so the pull falls inside it.
            m_control->close();
            QVERIFY(plugIn({QStringLiteral("--line-delay"), QStringLiteral("20000")}));
            QCOMPARE(QCoro::waitFor(m_control->open()), InterfaceControl::Ready);
        }
        QSignalSpy lost(m_control.get(), &InterfaceControl::lost);
        QSignalSpy found(m_control.get(), &InterfaceControl::found);
        if (busy) {
            // The real 10 s wait for the interface's ready byte, so the pull
            // surely falls inside it; the retries after it run fast again.
            Clock::instance().useSystemTime();
            auto command = sendOn(*m_control, "1");
            QTRY_VERIFY(m_sim->receivedHex().endsWith(QLatin1String("06 62 00")));
            Clock::instance().start(QDateTime::currentDateTime(), kScale);
            QElapsedTimer elapsed;
            elapsed.start();
            pull();
            QVERIFY(!QCoro::waitFor(std::move(command)));
            QVERIFY2(elapsed.elapsed() < 3000, qPrintable(QString::number(elapsed.elapsed())));
        } else {
            pull();
        }
        QTRY_COMPARE(lost.size(), 1);
        QVERIFY(m_control->isLost());
        QVERIFY(!m_control->isOpen());
        QVERIFY(m_reconnector->looking());

        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(!QCoro::waitFor(sendOn(*m_control, "2")));
        QVERIFY2(elapsed.elapsed() < 500, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(m_control->failureText(), InterfaceControl::lostText());
        // Tries go on while nothing is there to open.
        QTRY_VERIFY(m_reconnector->attempts() >= 2);
        QCOMPARE(found.size(), 0);

        QVERIFY(plugIn());
        QTRY_COMPARE_WITH_TIMEOUT(found.size(), 1, 10000);
        QVERIFY(!m_control->isLost());
        QVERIFY(!m_reconnector->looking());
        QVERIFY(QCoro::waitFor(sendOn(*m_control, "3")));
        QTRY_VERIFY2(simLog().contains(QLatin1String("A3 ON")), qPrintable(simLog()));
        QCOMPARE(lost.size(), 1);
    }

    // An interface that stops answering (a hung adapter: the port is still
    // there) is lost once a command and the status request after it both go
    // unanswered, and found when it answers again.
    void stopsAnsweringAndAnswersAgain()
    {
        QSignalSpy lost(m_control.get(), &InterfaceControl::lost);
        QSignalSpy found(m_control.get(), &InterfaceControl::found);
        const auto pid = static_cast<pid_t>(m_sim->processId());
        QCOMPARE(::kill(pid, SIGSTOP), 0);
        QVERIFY(!QCoro::waitFor(sendOn(*m_control, "1")));
        ::kill(pid, SIGCONT);
        QCOMPARE(lost.size(), 1);
        QCOMPARE(m_control->failureText(), InterfaceControl::lostText());
        QTRY_COMPARE_WITH_TIMEOUT(found.size(), 1, 10000);
        QVERIFY(QCoro::waitFor(sendOn(*m_control, "5")));
        QTRY_VERIFY2(simLog().contains(QLatin1String("A5 ON")), qPrintable(simLog()));
    }

    // One command that goes unanswered while the interface still answers the
    // status request after it is a failed command, not a lost interface.
    void oneUnansweredCommandIsNotALoss()
    {
        m_control->close();
        QVERIFY(plugIn({QStringLiteral("--line-delay"), QStringLiteral("15000")}));
        QCOMPARE(QCoro::waitFor(m_control->open()), InterfaceControl::Ready);
        QSignalSpy lost(m_control.get(), &InterfaceControl::lost);
        // The simulated line takes 1.5 s of real time; the driver waits 1 s
        // for the interface to report it ready.
        QVERIFY(!QCoro::waitFor(sendOn(*m_control, "1")));
        QCOMPARE(m_control->failureText(), QStringLiteral("the X10 interface did not answer"));
        QCOMPARE(lost.size(), 0);
        QVERIFY(m_control->isOpen());
        QVERIFY(!m_reconnector->looking());
    }

    // The program lets go of the port (the hand-over, or exit) while the
    // interface is lost: the port stays closed when the interface comes back.
    void neverReopensAPortLetGo_data()
    {
        QTest::addColumn<bool>("close");
        QTest::addColumn<bool>("stop");
        QTest::newRow("closed") << true << false;
        QTest::newRow("stopped") << false << true;
        QTest::newRow("stopped and closed") << true << true;
    }
    void neverReopensAPortLetGo()
    {
        QFETCH(bool, close);
        QFETCH(bool, stop);
        QSignalSpy lost(m_control.get(), &InterfaceControl::lost);
        pull();
        QTRY_COMPARE(lost.size(), 1);
        if (stop)
            m_reconnector->stop();
        if (close)
            m_control->close();
        expectNoMoreAttempts();
    }

    // The program lets go while an attempt is waiting for an answer (the
    // adapter is back but its interface has no power): that attempt is the
    // last one.
    void stopDuringAnAttemptIsTheLastAttempt()
    {
        QSignalSpy lost(m_control.get(), &InterfaceControl::lost);
        pull();
        QTRY_COMPARE(lost.size(), 1);
        QVERIFY(plugIn({QStringLiteral("--silent")}));
        QTRY_VERIFY(m_sim->receivedHex().contains(QLatin1String("8B")));
        m_reconnector->stop();
        QTRY_VERIFY(!m_reconnector->looking());
        expectNoMoreAttempts();
    }
};

QTEST_GUILESS_MAIN(TestInterfaceReconnector)
#include "tst_interfacereconnector.moc"
