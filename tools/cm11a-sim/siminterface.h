#pragma once

#include "powerline.h"
#include "x10/unitaddressing.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTimer>

namespace casalux::sim {

struct SimOptions {
    bool corruptChecksumOnce = false; // first checksum goes out wrong
    bool silent = false;              // never answer, never poll
    bool powerFail = false;           // start with the 0xA5 clock request
    int lineDelayMs = 0;              // power-line time before 0x55
};

// The interface's side of the CM11A serial protocol, byte for byte: checksum
// and 0x00/0x55 handshake for transmissions, the 14-byte status reply, the
// 0x5A poll and upload buffer for traffic from the line, and the 0xA5
// power-fail request that blocks everything until a 0x9B clock message
// arrives. Commands act on the power line's modules.
class SimInterface final : public QObject {
    Q_OBJECT

public:
    explicit SimInterface(const SimOptions& options, QObject* parent = nullptr);

    // Call once the outputs are connected.
    void start();

    // Bytes from the PC, after their time on the wire.
    void receive(const QByteArray& bytes);

    // A command a wall switch or remote put on the line: modules react and
    // the interface reports it to the PC. With `collide`, the report waits
    // and the PC's next transmission is answered with the poll instead of
    // its checksum, as when both talk at the same moment.
    void inject(int house, int unit, int function, int percent, bool collide = false);
    void requestPowerFail();

    const PowerLine& powerLine() const { return m_line; }

Q_SIGNALS:
    void transmit(const QByteArray& bytes); // to the PC
    void executed(const QString& line);     // one line per command carried out
    void trace(const QString& line);        // diagnostics

private:
    enum class State { Idle, AwaitCode, AwaitAck, OnTheLine, ClockBytes, AwaitClockAck };

    void handle(quint8 byte);
    void handleIdle(quint8 byte);
    void replyChecksum(quint8 sum);
    void executeFrame();
    void finishClock();
    void sendStatus();
    void sendUpload();
    void pollTick();
    void backToIdle();
    void send(const QByteArray& bytes);

    struct Item {
        bool isFunction;
        quint8 byte;
    };

    SimOptions m_options;
    PowerLine m_line;
    State m_state = State::Idle;
    quint8 m_header = 0;
    quint8 m_code = 0;
    QByteArray m_clockBytes;
    QByteArray m_clock = QByteArray(6, '\0'); // last clock download, bytes 1..6
    quint16 m_batteryTimer = 0xFFFF;          // as after a cold start
    int m_monitoredHouse = 0;
    bool m_powerFail = false;
    bool m_collideHold = false;
    QList<Item> m_pending;
    UnitAddressing m_addressing;
    QTimer m_pollTimer;
    QTimer m_lineTimer;
};

} // namespace casalux::sim
