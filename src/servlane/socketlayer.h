#pragma once

#include "connectionslot.h"
#include "requestlimits.h"
#include "response.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <deque>
#include <vector>

namespace servlane {

class ConnectionListener;

// The listener and the connection slots 2..N. It accepts a connection into
// a free slot, collects the request under the limits, hands complete
// requests up, sends the one response and closes the connection once the
// client has it. It knows nothing about files or the host.
class SocketLayer final : public QObject {
    Q_OBJECT

public:
    explicit SocketLayer(QObject* parent = nullptr);
    ~SocketLayer() override;

    void setLimits(const RequestLimits& limits) { m_limits = limits; }
    const RequestLimits& limits() const { return m_limits; }

    // Binds the listener; on failure reports it through `failure` and keeps
    // the address so the housekeeping tick can try again.
    bool listen(const QHostAddress& address, quint16 port);
    void closeListener();
    bool isListening() const;
    quint16 serverPort() const;
    QString localAddress() const;

    // Slots 2..highestIndex, all closed.
    void createSlots(int highestIndex);
    // Closes and forgets every connection in a slot (those still waiting for
    // one stay until the listener closes).
    void killAllConnections();
    int highestIndex() const { return m_highest; }
    ConnectionSlot* slot(int index);
    const ConnectionSlot* slot(int index) const;

    // While paused (starting or stopping) new connections wait.
    void setPaused(bool paused);

    // Sends the whole response; the connection closes once it is out.
    void send(int index, const Response& response);
    // Closes without sending anything.
    void closeWithoutAnswer(int index);
    // The request was handed to the host; its answer is awaited.
    void setTrapped(int index);
    // The host handed the request back: the server answers it after all.
    void resumeHandling(int index);

    // The `tmrCheckConn` timer: retries a listener that is not listening and
    // sweeps dead connections every ConnectionTimeout minutes (0 = never).
    void startHousekeeping(int connectionTimeoutMinutes);
    void stopHousekeeping();
    // Connections counted free by the last sweep (N right after a start).
    int freeConnections() const { return m_freeConnections; }
    void setFreeConnections(int n) { m_freeConnections = n; }
    void sweepDeadConnections();

Q_SIGNALS:
    void requestReady(int index);
    // `refusal`: answer with the real status line; otherwise as an error page.
    void requestRejected(int index, int status, bool refusal);
    void received(qint64 bytes);
    void trapExpired(int index);
    void failure(const QString& prefix, int code, const QString& description);

private:
    // An accepted connection that has no slot yet.
    struct Waiting {
        qintptr descriptor = -1;
        QElapsedTimer since;  // accepted
        qint64 peekedAt = -1; // m_clock time of the last look at its bytes
        bool talking = false; // request bytes have arrived
    };

    void onIncoming(qintptr descriptor);
    void acceptPending();
    int freeSlot();
    int longestSilentSlot(qint64* silentMs);
    int firstTalkingWaiting();
    void trimWaiting();
    void closeWaiting(std::size_t i);
    void closeAllWaiting();
    void attach(int index, Waiting w);
    void onReadyRead(int index);
    void onWritten(int index);
    void onGone(int index);
    void beginClosing(ConnectionSlot& s);
    void reset(ConnectionSlot& s);
    void detachSocket(ConnectionSlot& s);
    void setState(ConnectionSlot& s, SlotState state);
    void checkDeadlines();
    void housekeepingTick();
    void scheduleAccept();

    RequestLimits m_limits;
    ConnectionListener* m_server = nullptr;
    QHostAddress m_address;
    quint16 m_port = 0;
    bool m_listenFailing = false;
    bool m_paused = false;
    bool m_acceptQueued = false;
    bool m_acceptingPaused = false; // the waiting list is full of talking clients
    std::deque<Waiting> m_waiting;
    QElapsedTimer m_clock;
    QTimer m_graceTimer;
    int m_highest = 0;
    std::vector<ConnectionSlot> m_slots; // index i at m_slots[i]; 0 and 1 unused
    int m_freeConnections = 0;
    quint64 m_generations = 0;
    int m_connectionTimeout = 0;
    QTimer m_housekeeping;
    QElapsedTimer m_sinceSweep;
    QTimer m_deadlines;
};

} // namespace servlane
