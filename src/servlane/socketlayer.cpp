#include "socketlayer.h"

#include "connectionlistener.h"
#include "epollwatcher.h"
#include "requestparser.h"
#include "socketaddress.h"

#include <QLoggingCategory>
#include <QNetworkInterface>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcSockets, "casalux.servlane.sockets", QtWarningMsg)

namespace servlane {

namespace {

constexpr int kAcceptRetryMs = 100;
// What one connection may read or send per wake-up, so one fast client
// cannot hold the loop while others are ready.
constexpr qint64 kReadBudget = 64 * 1024;
constexpr qint64 kSendBudget = 1024 * 1024;
constexpr quint32 kReadEvents = EPOLLIN | EPOLLRDHUP;
constexpr quint32 kWriteEvents = EPOLLOUT;
// The listener's token in the epoll set; connection ids start at 1.
constexpr quint64 kListenerToken = 0;
// Connections taken per wake-up of the listener, so a burst of them cannot
// keep the connections already open from being served.
constexpr int kAcceptBatch = 64;
// Descriptors the process keeps besides client connections (listener,
// epoll, files being sent, CGI pipes, the host's own).
constexpr rlim_t kSpareDescriptors = 256;

} // namespace

SocketLayer::SocketLayer(QObject* parent) : QObject(parent)
{
    m_housekeeping.setObjectName(QStringLiteral("tmrCheckConn"));
    m_housekeeping.setInterval(2000);
    connect(&m_housekeeping, &QTimer::timeout, this, &SocketLayer::housekeepingTick);
    m_deadlines = new DeadlineScan(m_table, m_slots, m_limits, this);
    connect(m_deadlines, &DeadlineScan::connectionExpired, this, &SocketLayer::closeConnection);
    connect(m_deadlines, &DeadlineScan::trapExpired, this, &SocketLayer::trapExpired);
    connect(m_deadlines, &DeadlineScan::owedAnswerExpired, this, [this](int index) {
        closeConnection(m_slots.at(index)->connection, true);
        releaseSlot(index);
    });
    connect(m_deadlines, &DeadlineScan::slotReclaimed, this, &SocketLayer::releaseSlot);
    m_epoll = new EpollWatcher([this](quint64 id, quint32 events) { onEvent(id, events); }, this);
}

SocketLayer::~SocketLayer()
{
    killAllConnections();
    closeListener();
}

bool SocketLayer::listen(const QHostAddress& address, quint16 port)
{
    m_address = address;
    m_port = port;
    closeListener();
    if (!m_epoll->isValid()) {
        Q_EMIT failure(QStringLiteral("Error - TCP::Listen. ["), errno,
                       QStringLiteral("epoll is not available"));
        return false;
    }
    raiseDescriptorLimit();
    m_server = new ConnectionListener(this);
    m_server->setListenBacklogSize(128);
    if (!m_server->listen(address, port)) {
        if (!m_listenFailing)
            Q_EMIT failure(QStringLiteral("Error - TCP::Listen. ["), int(m_server->serverError()),
                           m_server->errorString());
        m_listenFailing = true;
        return false;
    }
    // Connections are taken from the epoll set with the clients, not through
    // Qt's notifier: one wake-up serves both, and accept4 hands over a
    // non-blocking descriptor with its peer's address in one call.
    m_server->pauseAccepting();
    // A connection is taken from the kernel once its first bytes are there
    // (or after a second of silence): the read that follows the accept then
    // finds the request instead of coming back empty, and the connection
    // never has to join the epoll set. A client that connects and says
    // nothing costs the server nothing until then, and is handled as
    // before afterwards. Where the option is missing this only costs speed.
    const int deferSeconds = 1;
    ::setsockopt(int(m_server->socketDescriptor()), IPPROTO_TCP, TCP_DEFER_ACCEPT, &deferSeconds,
                 sizeof deferSeconds);
    if (!m_epoll->add(int(m_server->socketDescriptor()), kListenerToken, EPOLLIN)) {
        Q_EMIT failure(QStringLiteral("Error - TCP::Listen. ["), errno,
                       QString::fromLocal8Bit(std::strerror(errno)));
        closeListener();
        return false;
    }
    m_listenFailing = false;
    m_watching = true;
    m_deadlines->start();
    return true;
}

void SocketLayer::closeListener()
{
    if (!m_server)
        return;
    if (m_server->isListening())
        m_epoll->remove(int(m_server->socketDescriptor()));
    m_acceptPaused = false;
    m_server->close();
    m_server->deleteLater();
    m_server = nullptr;
}

bool SocketLayer::isListening() const
{
    return m_server && m_server->isListening();
}

quint16 SocketLayer::serverPort() const
{
    return isListening() ? m_server->serverPort() : m_port;
}

QString SocketLayer::localAddress() const
{
    if (isListening() && m_server->serverAddress() != QHostAddress::Any &&
        m_server->serverAddress() != QHostAddress::AnyIPv4 &&
        m_server->serverAddress() != QHostAddress::AnyIPv6)
        return SocketAddress::text(m_server->serverAddress());
    const auto all = QNetworkInterface::allAddresses();
    for (const QHostAddress& a : all) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
            return a.toString();
    }
    return QStringLiteral("127.0.0.1");
}

void SocketLayer::raiseDescriptorLimit()
{
    // Each connection is a descriptor; the usual soft limit of 1024 would
    // make accept fail well before the connection table is full.
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    const rlim_t wanted = rlim_t(std::max(0, m_limits.maxConnections)) + kSpareDescriptors;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
        limit.rlim_cur =
            limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

void SocketLayer::createSlots(int highestIndex)
{
    killAllConnections();
    m_slots.create(highestIndex);
}

void SocketLayer::killAllConnections()
{
    for (const quint64 id : m_table.ids())
        closeConnection(id);
    m_queue.clear();
    for (int i = 2; i <= m_slots.highestIndex(); ++i)
        m_slots.release(i);
}

quint64 SocketLayer::requestId(int index) const
{
    const ConnectionSlot* s = m_slots.at(index);
    return s && s->state != SlotState::Closed ? s->generation : 0;
}

bool SocketLayer::isWaiting(int index, quint64 id) const
{
    const ConnectionSlot* s = m_slots.at(index);
    return s && id != 0 && s->generation == id &&
           (s->state == SlotState::Handling || s->state == SlotState::Trapped) &&
           s->connection != 0 && m_table.find(s->connection);
}

void SocketLayer::setPaused(bool paused)
{
    m_paused = paused;
    if (!paused)
        scheduleDispatch();
}

// ---- connections ----------------------------------------------------------

void SocketLayer::acceptPending()
{
    if (!m_server || m_acceptPaused)
        return;
    const ConnectionListener* server = m_server;
    const int listener = int(m_server->socketDescriptor());
    for (int taken = 0; taken < kAcceptBatch; ++taken) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            onIncoming(fd, peer);
            if (m_server != server)
                return; // a handler stopped or moved the server
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue; // a client that gave up while queued: take the next
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        // Out of descriptors, for one. The listener stays readable, so it
        // rests for a moment instead of waking the loop over and over;
        // closing connections may have freed some by then.
        const int error = errno;
        const bool resources = error == EMFILE || error == ENFILE || error == ENOBUFS ||
                               error == ENOMEM;
        Q_EMIT failure(QStringLiteral("Error - TCP::ConnectionRequest. ["),
                       int(resources ? QAbstractSocket::SocketResourceError
                                     : QAbstractSocket::UnknownSocketError),
                       QString::fromLocal8Bit(std::strerror(error)));
        if (m_server != server)
            return;
        m_acceptPaused = true;
        m_epoll->modify(listener, kListenerToken, 0);
        QTimer::singleShot(kAcceptRetryMs, m_server, [this, listener] {
            if (!m_acceptPaused)
                return;
            m_acceptPaused = false;
            m_epoll->modify(listener, kListenerToken, EPOLLIN);
        });
        return;
    }
}

void SocketLayer::onIncoming(int fd, const sockaddr_storage& peer)
{
    const QString address = SocketAddress::of(peer);
    if (address.isEmpty()) {
        ::close(fd); // not a connection from an address we can count
        return;
    }
    const bool room = (m_table.countFor(address) < std::max(1, m_limits.maxConnectionsPerAddress) ||
                       makeRoom(&address)) &&
                      (m_table.size() < std::max(1, m_limits.maxConnections) || makeRoom(nullptr));
    if (!room) {
        // Every connection that could give way holds a complete request.
        qCInfo(lcSockets) << "connection from" << address << "closed: no room";
        ::close(fd);
        return;
    }
    ClientConnection* c = m_table.add(fd, address);
    const quint64 id = c->id();
    if (m_watching && !m_deadlines->isActive())
        m_deadlines->start();
    // A client sends its request as soon as it is connected, so it is
    // usually here already: read it now rather than after a trip through
    // the epoll set. One answered at once never joins the set at all.
    onReadable(id);
    c = m_table.find(id);
    if (c && !watch(*c))
        closeConnection(id);
}

bool SocketLayer::makeRoom(const QString* address)
{
    // Bounded: each turn either closes a connection or moves one out of
    // the readers for good.
    for (int turn = 0; turn <= m_table.size(); ++turn) {
        ClientConnection* victim = m_table.victim(address);
        if (!victim)
            return false;
        const quint64 id = victim->id();
        if (victim->phase() == ClientConnection::Phase::Reading) {
            // Its request may be waiting in the kernel, not yet read (a burst
            // of accepts is taken before the connections' events): read it
            // first, so a client that sent its request at once never gives
            // way for one that has sent nothing.
            bool ended = false;
            const qint64 n = victim->receive(kReadBudget, &ended);
            if (n > 0) {
                parse(*victim);
                Q_EMIT received(n);
            }
            victim = m_table.find(id);
            if (victim && !ended && victim->phase() != ClientConnection::Phase::Reading) {
                scheduleDispatch();
                continue;
            }
        }
        if (victim) {
            qCInfo(lcSockets) << "connection from" << victim->address() << "closed to make room"
                              << (address ? "for its address" : "in the table");
            closeConnection(id, victim->phase() == ClientConnection::Phase::Sending);
        }
        return true;
    }
    return false;
}

bool SocketLayer::watch(ClientConnection& c)
{
    const quint32 events =
        c.phase() == ClientConnection::Phase::Sending ? kWriteEvents : kReadEvents;
    if (c.watchedEvents == events)
        return true;
    const bool ok = c.watchedEvents == 0 ? m_epoll->add(c.descriptor(), c.id(), events)
                                         : m_epoll->modify(c.descriptor(), c.id(), events);
    if (ok)
        c.watchedEvents = events;
    return ok;
}

void SocketLayer::onEvent(quint64 id, quint32 events)
{
    if (id == kListenerToken) {
        acceptPending();
        return;
    }
    const ClientConnection* c = m_table.find(id);
    if (!c)
        return; // ended earlier in this batch
    if (c->phase() != ClientConnection::Phase::Sending) {
        onReadable(id);
        return;
    }
    if (events & (EPOLLERR | EPOLLHUP))
        closeConnection(id, true);
    else
        onWritable(id);
}

void SocketLayer::onReadable(quint64 id)
{
    ClientConnection* c = m_table.find(id);
    bool ended = false;
    const qint64 n = c->receive(kReadBudget, &ended);
    if (n > 0)
        Q_EMIT received(n);
    c = m_table.find(id);
    if (!c)
        return;
    if (n > 0 && c->phase() == ClientConnection::Phase::Reading)
        parse(*c);
    if (ended) {
        // The client closed its side or the connection failed: a request
        // it was waiting for leaves its slot to the owed answer.
        closeConnection(id);
        return;
    }
    if (c->phase() == ClientConnection::Phase::Queued)
        dispatch();
}

void SocketLayer::parse(ClientConnection& c)
{
    const RequestParser::Result r = RequestParser::parse(c.inbox(), m_limits);
    c.headComplete = r.headComplete;
    c.headOnly = r.request.method == QLatin1String("HEAD");
    switch (r.state) {
    case RequestParser::State::NeedMore:
        if (r.expectsContinue)
            c.sendContinue();
        return;
    case RequestParser::State::Rejected:
        c.rejectStatus = r.status;
        c.refusal = r.refusal;
        c.lingerOnClose = true;
        break;
    case RequestParser::State::Complete:
        c.request = r.request;
        c.lingerOnClose = r.consumed < c.inbox().size();
        break;
    }
    c.inbox() = QByteArray();
    c.setPhase(ClientConnection::Phase::Queued);
    m_queue.push_back(c.id());
}

void SocketLayer::dispatch()
{
    if (m_dispatching)
        return; // the loop below is running further up the stack
    m_dispatching = true;
    while (!m_paused && !m_queue.empty()) {
        const int index = m_slots.freeIndex();
        if (index < 0)
            break; // the next answer handed over frees one
        const quint64 id = m_queue.front();
        m_queue.pop_front();
        ClientConnection* c = m_table.find(id);
        if (!c || c->phase() != ClientConnection::Phase::Queued)
            continue; // the client left while it waited
        ConnectionSlot& s = m_slots.take(index);
        s.connection = id;
        s.clientAddress = c->address();
        s.accepted.start();
        c->setPhase(ClientConnection::Phase::InSlot);
        c->slotIndex = index;
        if (c->rejectStatus != 0) {
            Q_EMIT requestRejected(index, c->rejectStatus, c->refusal);
        } else {
            s.request = c->request;
            s.query.setText(s.request.queryData);
            Q_EMIT requestReady(index);
        }
    }
    m_dispatching = false;
}

void SocketLayer::scheduleDispatch()
{
    // Never from inside a handler: the slot being freed may still be on the
    // host's call stack.
    if (m_dispatchQueued)
        return;
    m_dispatchQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_dispatchQueued = false;
            dispatch();
        },
        Qt::QueuedConnection);
}

void SocketLayer::send(int index, const Response& response)
{
    ConnectionSlot* s = m_slots.at(index);
    if (!s || s->state == SlotState::Closed)
        return;
    if (s->state == SlotState::Abandoned) {
        releaseSlot(index); // the answer has no one to go to
        return;
    }
    const quint64 id = s->connection;
    if (s->state == SlotState::Trapped && s->answerOverdue) {
        // The 503 for a late host: the answer the host still owes must find
        // this slot reserved, not the next request in it.
        s->connection = 0;
        m_slots.setState(*s, SlotState::Abandoned);
    } else {
        releaseSlot(index);
    }
    ClientConnection* c = m_table.find(id);
    if (!c || c->phase() != ClientConnection::Phase::InSlot)
        return;
    c->slotIndex = 0;
    c->setAnswer(response);
    c->setPhase(ClientConnection::Phase::Sending);
    // Most answers fit the socket's buffer: the connection waits for
    // writability only when the first try leaves something behind.
    onWritable(id);
}

void SocketLayer::closeWithoutAnswer(int index)
{
    if (const ConnectionSlot* s = m_slots.at(index)) {
        if (ClientConnection* c = m_table.find(s->connection))
            c->lingerOnClose = true;
        send(index, Response());
    }
}

void SocketLayer::setTrapped(int index)
{
    if (ConnectionSlot* s = m_slots.at(index); s && s->state == SlotState::Handling)
        m_slots.setState(*s, SlotState::Trapped);
}

void SocketLayer::resumeHandling(int index)
{
    if (ConnectionSlot* s = m_slots.at(index); s && s->state == SlotState::Trapped)
        m_slots.setState(*s, SlotState::Handling);
}

void SocketLayer::onWritable(quint64 id)
{
    ClientConnection* c = m_table.find(id);
    if (!c)
        return;
    switch (c->sendSome(kSendBudget)) {
    case ClientConnection::Io::Blocked:
        if (!watch(*c))
            closeConnection(id, true);
        return;
    case ClientConnection::Io::Failed:
        closeConnection(id, true);
        return;
    case ClientConnection::Io::Done:
        finishSending(*c);
        return;
    }
}

void SocketLayer::finishSending(ClientConnection& c)
{
    if (!c.lingerOnClose && !c.hasUnreadInput()) {
        // Everything the client sent was read and the answer is with the
        // kernel: closing now sends it whole, followed by the FIN.
        closeConnection(c.id());
        return;
    }
    // Half-close and keep reading for a moment: closing with unread request
    // bytes makes the kernel send a reset, and the client may lose the answer.
    c.shutdownWrite();
    c.setPhase(ClientConnection::Phase::Lingering);
    if (!watch(c))
        closeConnection(c.id());
}

void SocketLayer::closeConnection(quint64 id, bool abort)
{
    ClientConnection* c = m_table.find(id);
    if (!c)
        return;
    if (c->phase() == ClientConnection::Phase::InSlot) {
        ConnectionSlot* s = m_slots.at(c->slotIndex);
        if (s && s->connection == id) {
            s->connection = 0;
            // The host still owes an answer for this index; keep the slot so
            // a late answer cannot reach the next client that gets it.
            if (s->state == SlotState::Handling || s->state == SlotState::Trapped)
                m_slots.setState(*s, SlotState::Abandoned);
        }
    }
    if (c->watchedEvents != 0)
        m_epoll->remove(c->descriptor());
    if (abort)
        c->setAbortOnClose();
    m_table.remove(id);
}

void SocketLayer::releaseSlot(int index)
{
    m_slots.release(index);
    if (!m_queue.empty())
        scheduleDispatch();
}

// ---- deadlines and housekeeping ----------------------------------------------

void SocketLayer::startHousekeeping(int connectionTimeoutMinutes)
{
    m_connectionTimeout = connectionTimeoutMinutes;
    m_housekeeping.setInterval(2000);
    m_sinceSweep.start();
    m_housekeeping.start();
    m_watching = true;
    m_deadlines->start();
}

void SocketLayer::stopHousekeeping()
{
    m_housekeeping.stop();
    m_watching = false;
    m_deadlines->stop();
}

void SocketLayer::housekeepingTick()
{
    // A listener that could not bind (port taken) or failed is tried again,
    // with the address and port it was given. A listener that works is left
    // alone: closing it would reset every client still in its backlog.
    if (!isListening() && m_slots.highestIndex() > 0)
        listen(m_address, m_port);

    if (m_connectionTimeout <= 0)
        return;
    m_housekeeping.setInterval(10'000);
    if (m_sinceSweep.elapsed() >= qint64(m_connectionTimeout) * 60'000) {
        sweepDeadConnections();
        m_sinceSweep.restart();
    }
}

void SocketLayer::sweepDeadConnections()
{
    // Connections whose answer is out and that only linger are closed. A
    // slot reserved for an owed answer is not: freeing it early would let
    // that answer reach the next request (its own bound reclaims it).
    for (const quint64 id : m_table.ids()) {
        const ClientConnection* c = m_table.find(id);
        if (c && c->phase() == ClientConnection::Phase::Lingering)
            closeConnection(id);
    }
    m_freeConnections = m_slots.freeCount();
}

} // namespace servlane
