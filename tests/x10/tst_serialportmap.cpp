#include "x10/serialportmap.h"

#include <QtTest>

using namespace casalux;

class TestSerialPortMap : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        for (int port = 0; port <= 16; ++port)
            qunsetenv(QStringLiteral("CASALUX_SERIAL_%1").arg(port).toLatin1().constData());
    }

    void devicePaths_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("override");
        QTest::addColumn<QString>("path");
        QTest::newRow("1: first built-in") << 1 << ""
                                           << "/dev/ttyS0";
        QTest::newRow("4: last built-in") << 4 << ""
                                          << "/dev/ttyS3";
        QTest::newRow("5: first USB adapter") << 5 << ""
                                              << "/dev/ttyUSB0";
        QTest::newRow("12: last USB adapter") << 12 << ""
                                              << "/dev/ttyUSB7";
        QTest::newRow("13: first ACM") << 13 << ""
                                       << "/dev/ttyACM0";
        QTest::newRow("15: last ACM") << 15 << ""
                                      << "/dev/ttyACM2";
        QTest::newRow("override by-id") << 3 << "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"
                                        << "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0";
        QTest::newRow("override trimmed") << 7 << "  /dev/pts/7 \n"
                                          << "/dev/pts/7";
        QTest::newRow("blank override keeps default") << 2 << "   "
                                                      << "/dev/ttyS1";
        QTest::newRow("0: no such port") << 0 << "/dev/pts/1"
                                         << "";
        QTest::newRow("16: no such port") << 16 << "/dev/pts/1"
                                          << "";
        QTest::newRow("negative") << -1 << ""
                                  << "";
    }
    void devicePaths()
    {
        QFETCH(int, port);
        QFETCH(QString, override);
        QFETCH(QString, path);
        if (!override.isEmpty())
            qputenv(QStringLiteral("CASALUX_SERIAL_%1").arg(port).toLatin1().constData(),
                    override.toLocal8Bit());
        QCOMPARE(SerialPortMap::devicePath(port), path);
    }

    // Overriding one port leaves the others on the table.
    void overrideIsPerPort()
    {
        qputenv("CASALUX_SERIAL_1", "/dev/pts/9");
        QCOMPARE(SerialPortMap::devicePath(1), QStringLiteral("/dev/pts/9"));
        QCOMPARE(SerialPortMap::devicePath(11), QStringLiteral("/dev/ttyUSB6"));
    }
};

QTEST_GUILESS_MAIN(TestSerialPortMap)
#include "tst_serialportmap.moc"
