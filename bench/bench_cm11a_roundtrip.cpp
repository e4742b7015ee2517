// Round trip of one address + function command through Cm11aControl against
// cm11a-sim, which holds every byte for its time on a 4800-baud wire.
//
// Wire time of the command: address and function transmissions of 2 bytes
// out, checksum in, 0x00 out, 0x55 in: 10 bytes × 10 bits / 4800 baud =
// 20.8 ms. The peer measured in the same run is the bare exchange of the
// same bytes over the same pseudo-terminal without the driver, which shows
// how much of the figure is the driver itself.
//
// Usage: bench_cm11a_roundtrip [rounds] [path to cm11a-sim]
#include "platform/clock.h"
#include "x10/cm11acontrol.h"
#include "x10/cm11aprotocol.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace casalux;

namespace {

constexpr int kPort = 1;
constexpr double kWireMs = 10 * 10 * 1000.0 / 4800;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One transmission the plain blocking way: frame, checksum, 0x00, 0x55.
bool bareTransmission(QSerialPort& port, const QByteArray& frame)
{
    auto readOne = [&](char expected) {
        while (port.bytesAvailable() == 0) {
            if (!port.waitForReadyRead(2000))
                return false;
        }
        char c = 0;
        return port.getChar(&c) && c == expected;
    };
    port.write(frame);
    if (!port.waitForBytesWritten(2000) || !readOne(char(Cm11aProtocol::checksum(frame))))
        return false;
    port.write(QByteArray(1, char(Cm11aProtocol::Ack)));
    return port.waitForBytesWritten(2000) && readOne(char(Cm11aProtocol::Ready));
}

QCoro::Task<int> run(int rounds, const QString& simPath)
{
    QProcess sim;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("CASALUX_TIME_SCALE"));
    sim.setProcessEnvironment(env);
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(simPath, {});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(simPath));
        co_return 1;
    }
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
    qputenv("CASALUX_SERIAL_1", path.toLocal8Bit());
    std::printf("simulator on %s, %d rounds\n", qPrintable(path), rounds);

    std::vector<double> driver;
    {
        Cm11aControl control;
        control.setPort(kPort);
        if (co_await control.open() != InterfaceControl::Ready) {
            std::fprintf(stderr, "the simulator did not answer\n");
            co_return 1;
        }
        QElapsedTimer timer;
        for (int i = -3; i < rounds; ++i) { // three rounds to warm up
            const int function = i % 2 ? InterfaceControl::Off : InterfaceControl::On;
            timer.start();
            if (!co_await control.send(QStringLiteral("A"), QStringLiteral("3"), function, 20, 20,
                                       50)) {
                std::fprintf(stderr, "send failed\n");
                co_return 1;
            }
            if (i >= 0)
                driver.push_back(timer.nsecsElapsed() / 1e6);
        }
        control.close();
    }

    std::vector<double> bare;
    {
        QSerialPort port(path);
        if (!port.open(QIODevice::ReadWrite)) {
            std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
            co_return 1;
        }
        port.setBaudRate(4800);
        const QByteArray address = Cm11aProtocol::addressFrame(0, 3);
        QElapsedTimer timer;
        for (int i = -3; i < rounds; ++i) {
            const QByteArray function =
                Cm11aProtocol::functionFrame(0, i % 2 ? Cm11aProtocol::Off : Cm11aProtocol::On);
            timer.start();
            if (!bareTransmission(port, address) || !bareTransmission(port, function)) {
                std::fprintf(stderr, "bare exchange failed\n");
                co_return 1;
            }
            if (i >= 0)
                bare.push_back(timer.nsecsElapsed() / 1e6);
        }
    }
    sim.write("QUIT\n");
    sim.waitForFinished(2000);

    const double driverMs = median(driver);
    const double bareMs = median(bare);
    std::printf("wire time (10 bytes at 4800 baud): %.2f ms\n", kWireMs);
    std::printf("bare exchange, median:             %.2f ms\n", bareMs);
    std::printf("Cm11aControl round trip, median:   %.2f ms (min %.2f, max %.2f)\n", driverMs,
                *std::min_element(driver.begin(), driver.end()),
                *std::max_element(driver.begin(), driver.end()));
    std::printf("ratio to wire time: %.2f (target <= 1.5)\n", driverMs / kWireMs);
    std::printf("ratio to bare exchange: %.2f\n", driverMs / bareMs);
    co_return driverMs / kWireMs <= 1.5 ? 0 : 3;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    Clock::instance().useSystemTime();
    const QStringList args = app.arguments();
    const int rounds = args.size() > 1 ? std::max(1, args[1].toInt()) : 50;
    const QString simPath = args.size() > 2 ? args[2] : QStringLiteral(CM11A_SIM_PATH);
    return QCoro::waitFor(run(rounds, simPath));
}
