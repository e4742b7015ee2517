#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QStringList>

namespace casalux::test {

// Runs the real cm11a-sim for a test: starts it with --trace, takes the
// pseudo-terminal path from its first line, collects its log lines and the
// bytes it received from the driver.
class SimProcess final : public QObject {
    Q_OBJECT

public:
    explicit SimProcess(QObject* parent = nullptr);
    ~SimProcess() override;

    // timeScale > 0 is passed on as CASALUX_TIME_SCALE. Waits (in the test)
    // until the path is known; false when the simulator did not start.
    bool start(const QStringList& arguments, double timeScale = 0);
    void command(const QString& line);
    void kill();
    void stop();

    QString devicePath() const { return m_devicePath; }
    qint64 processId() const { return m_process.processId(); }
    QStringList lines() const { return m_lines; }
    // Every byte the simulator took from the driver, as "04 62 00 ...".
    QString receivedHex();
    // Blocks the calling thread, its event loop included, until the
    // simulator has sent `bytes` (as "5A") `count` times in all; false when
    // that has not happened within `timeoutMs`.
    bool waitUntilSent(const QString& bytes, int count, int timeoutMs = 10000);
    QString errors() const { return QString::fromLocal8Bit(m_stderr); }

private:
    void readOutput();
    QStringList traced(const char* direction);

    QProcess m_process;
    QByteArray m_stdout;
    QByteArray m_stderr;
    QString m_devicePath;
    QStringList m_lines;
};

} // namespace casalux::test
