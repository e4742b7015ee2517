#pragma once

#include "cm11alinelock.h"
#include "cm11auploaddecoder.h"
#include "cm11awakeup.h"
#include "interfacecontrol.h"

#include <QByteArray>
#include <QSerialPort>
#include <QTimer>
#include <optional>

namespace casalux {

// Drives a CM11A/CM12 on a serial port (4800 baud, 8N1, no flow control).
//
// Everything runs on the caller's thread as coroutines: one conversation
// holds the line at a time (a send, an open, or the answer to a poll the
// interface started); bytes from the port land in an inbox that the holder
// reads with a timeout from the clock. When nobody holds the line, a 0x5A
// poll or 0xA5 power-fail request starts its own conversation. The RI line is
// never consulted: USB adapters and pseudo-terminals often lack it.
class Cm11aControl final : public InterfaceControl {
    Q_OBJECT

public:
    explicit Cm11aControl(QObject* parent = nullptr);
    ~Cm11aControl() override;

    QCoro::Task<int> open() override;
    QCoro::Task<bool> send(QString house, QString unit, int function, double level, int arg5,
                           int arg6) override;
    bool close() override;

    bool isOpen() const { return m_serial.isOpen(); }

    // Clock milliseconds, as the interface's documented limits and peers use them.
    static constexpr int ChecksumTimeoutMs = 1000;
    static constexpr int ReadyTimeoutMs = 10000; // a dim across 22 steps takes seconds on the line
    static constexpr int UploadTimeoutMs = 1000;
    static constexpr int StatusTimeoutMs = 1500; // longer than the 1 s poll period
    static constexpr int QuietMs = 100;          // a lone poll byte vs. a streaming reply
    static constexpr int MaxAttempts = 4;        // first try and three resends
    static constexpr int MaxInterruptions = 5;   // polls serviced within one transmission
    static constexpr int MaxStrayBytes = 16;
    static constexpr int MaxPollAnswers = 8;   // to one poll, while more keep coming
    static constexpr int MinRealWaitMs = 1000; // for an answer, under a scaled clock

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void dispatch();
    bool usable() const { return m_serial.isOpen() && !m_lost; }
    void lose();
    void closePort();
    QCoro::Task<> judgeFailedSend();
    bool write(const QByteArray& bytes);
    QCoro::Task<std::optional<quint8>> readByte(int clockMs);
    QCoro::Task<std::optional<quint8>> readByteWithin(int realMs);
    QCoro::Task<> serviceUnsolicited();

    QCoro::Task<bool> probe();
    QCoro::Task<bool> transmit(const QByteArray& frame);
    QCoro::Task<> servicePoll();
    QCoro::Task<bool> answerPowerFail();
    void reportLater(const QList<Cm11aTraffic>& traffic);

    QSerialPort m_serial;
    QByteArray m_inbox;
    bool m_lost = false;  // the device went away under an open port
    bool m_ready = false; // opened and answered; the program holds it
    Cm11aWakeup m_wakeup;
    Cm11aLineLock m_line;
    QTimer m_dispatch;
    Cm11aUploadDecoder m_decoder;
};

} // namespace casalux
