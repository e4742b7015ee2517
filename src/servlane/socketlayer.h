#pragma once

#include "connectionslot.h"
#include "connectiontable.h"
#include "deadlinescan.h"
#include "requestlimits.h"
#include "response.h"
#include "slotarray.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <deque>
#include <sys/socket.h>

namespace servlane {

class ConnectionListener;
class EpollWatcher;

// The listener, every client connection and the host slots 2..N.
// Connections are raw non-blocking descriptors in one epoll set; their
// requests are read here under the limits, however many there are. A
// complete request waits in arrival order for a free slot and is handed up
// with its slot's index; the answer handed back is sent from here, outside
// the slot, and the connection closes once the client has it. It knows
// nothing about files or the host.
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
    // Whether deadlines are being timed (only while clients are connected
    // or slots are in use; an idle server sets no timer).
    bool timingDeadlines() const { return m_deadlines->isActive(); }
    quint16 serverPort() const;
    QString localAddress() const;

    // Slots 2..highestIndex, all free.
    void createSlots(int highestIndex);
    // Closes every client connection and frees every slot.
    void killAllConnections();
    int highestIndex() const { return m_slots.highestIndex(); }
    ConnectionSlot* slot(int index) { return m_slots.at(index); }
    const ConnectionSlot* slot(int index) const { return m_slots.at(index); }
    // The id of the request in slot `index` (0 when the slot is free). Ids
    // are never reused.
    quint64 requestId(int index) const;
    // Whether slot `index` still holds request `id`, awaiting its answer,
    // with its client still connected.
    bool isWaiting(int index, quint64 id) const;

    // While paused (starting or stopping) complete requests wait for slots.
    void setPaused(bool paused);

    // Hands the answer to the slot's connection, which sends it and closes;
    // the slot is free at once (or stays reserved when the host still owes
    // an answer). On a slot whose client left, this only frees the slot.
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
    // Slots counted free by the last sweep (N right after a start).
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
    void acceptPending();
    void onIncoming(int fd, const sockaddr_storage& peer);
    bool makeRoom(const QString* address);
    void onEvent(quint64 id, quint32 events);
    void onReadable(quint64 id);
    void onWritable(quint64 id);
    void parse(ClientConnection& c);
    void dispatch();
    void scheduleDispatch();
    void finishSending(ClientConnection& c);
    void closeConnection(quint64 id, bool abort = false);
    void releaseSlot(int index);
    // Has the epoll set watch `c` for what its phase waits for.
    bool watch(ClientConnection& c);
    void housekeepingTick();
    void raiseDescriptorLimit();

    RequestLimits m_limits;
    ConnectionListener* m_server = nullptr;
    EpollWatcher* m_epoll = nullptr;
    QHostAddress m_address;
    quint16 m_port = 0;
    bool m_listenFailing = false;
    bool m_acceptPaused = false; // after a failed accept, for a moment
    bool m_paused = false;
    bool m_dispatchQueued = false;
    bool m_dispatching = false;
    ConnectionTable m_table;
    std::deque<quint64> m_queue; // complete requests in arrival order, by connection id
    SlotArray m_slots;
    int m_freeConnections = 0;
    int m_connectionTimeout = 0;
    QTimer m_housekeeping;
    QElapsedTimer m_sinceSweep;
    DeadlineScan* m_deadlines = nullptr; // runs only while there are connections or slots to time
    bool m_watching = false;
};

} // namespace servlane
