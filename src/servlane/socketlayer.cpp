#include "socketlayer.h"

#include "connectionlistener.h"
#include "requestparser.h"

#include <QLoggingCategory>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#endif

Q_LOGGING_CATEGORY(lcSockets, "casalux.servlane.sockets", QtWarningMsg)

namespace servlane {

namespace {

// Read at most this much into Qt's buffer per socket; the request itself is
// bounded by the parser limits.
constexpr qint64 kReadBufferSize = 64 * 1024;
constexpr int kDeadlineScanMs = 250;
// A waiting connection's bytes are looked at again after this long.
constexpr qint64 kPeekIntervalMs = 5;

enum class Peek { Silent, Talking, Gone };

// Whether bytes from the client have arrived on a descriptor, without
// taking them.
Peek peek(qintptr descriptor)
{
#ifdef Q_OS_UNIX
    char c = 0;
    const ssize_t n = ::recv(int(descriptor), &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0)
        return Peek::Talking;
    if (n == 0)
        return Peek::Gone;
    return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? Peek::Silent : Peek::Gone;
#else
    Q_UNUSED(descriptor);
    return Peek::Talking; // cannot tell: every waiting client counts as talking
#endif
}

// Hands as much of head and body to the kernel as it takes now, straight
// from where they are held; returns how many bytes it took (0 when it would
// block or failed: the caller's ordinary write then meets the same state).
qint64 sendDirect(qintptr descriptor, const QByteArray& head, const QByteArray& body)
{
#ifdef Q_OS_UNIX
    iovec parts[2];
    int count = 0;
    for (const QByteArray* b : {&head, &body}) {
        if (b->isEmpty())
            continue;
        parts[count].iov_base = const_cast<char*>(b->constData());
        parts[count].iov_len = std::size_t(b->size());
        ++count;
    }
    if (count == 0)
        return 0;
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = std::size_t(count);
    ssize_t n = 0;
    do {
        n = ::sendmsg(int(descriptor), &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? 0 : qint64(n);
#else
    Q_UNUSED(descriptor);
    Q_UNUSED(head);
    Q_UNUSED(body);
    return 0;
#endif
}

void closeDescriptor(qintptr descriptor)
{
#ifdef Q_OS_UNIX
    ::close(int(descriptor));
#else
    QTcpSocket s;
    if (s.setSocketDescriptor(descriptor))
        s.abort();
#endif
}

QString addressText(const QHostAddress& address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : address.toString();
}

} // namespace

SocketLayer::SocketLayer(QObject* parent) : QObject(parent)
{
    m_housekeeping.setObjectName(QStringLiteral("tmrCheckConn"));
    m_housekeeping.setInterval(2000);
    connect(&m_housekeeping, &QTimer::timeout, this, &SocketLayer::housekeepingTick);
    m_deadlines.setInterval(kDeadlineScanMs);
    connect(&m_deadlines, &QTimer::timeout, this, &SocketLayer::checkDeadlines);
    m_graceTimer.setSingleShot(true);
    connect(&m_graceTimer, &QTimer::timeout, this, &SocketLayer::acceptPending);
    m_clock.start();
}

SocketLayer::~SocketLayer()
{
    killAllConnections();
    closeAllWaiting();
}

bool SocketLayer::listen(const QHostAddress& address, quint16 port)
{
    m_address = address;
    m_port = port;
    closeListener();
    m_server = new ConnectionListener([this](qintptr d) { onIncoming(d); }, this);
    m_server->setListenBacklogSize(128);
    m_acceptingPaused = false;
    connect(m_server, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError e) {
        Q_EMIT failure(QStringLiteral("Error - TCP::ConnectionRequest. ["), int(e),
                       m_server ? m_server->errorString() : QString());
    });
    if (!m_server->listen(address, port)) {
        if (!m_listenFailing)
            Q_EMIT failure(QStringLiteral("Error - TCP::Listen. ["), int(m_server->serverError()),
                           m_server->errorString());
        m_listenFailing = true;
        return false;
    }
    m_listenFailing = false;
    m_deadlines.start();
    return true;
}

void SocketLayer::closeListener()
{
    if (!m_server)
        return;
    m_server->close();
    m_server->deleteLater();
    m_server = nullptr;
    closeAllWaiting();
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
        return addressText(m_server->serverAddress());
    const auto all = QNetworkInterface::allAddresses();
    for (const QHostAddress& a : all) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
            return a.toString();
    }
    return QStringLiteral("127.0.0.1");
}

void SocketLayer::createSlots(int highestIndex)
{
    killAllConnections();
    m_highest = std::max(2, highestIndex);
    m_slots.assign(std::size_t(m_highest) + 1, ConnectionSlot{});
    for (int i = 0; i <= m_highest; ++i)
        m_slots[std::size_t(i)].index = i;
}

void SocketLayer::killAllConnections()
{
    for (ConnectionSlot& s : m_slots) {
        if (s.index > 1)
            reset(s);
    }
}

ConnectionSlot* SocketLayer::slot(int index)
{
    if (index < 2 || index > m_highest || std::size_t(index) >= m_slots.size())
        return nullptr;
    return &m_slots[std::size_t(index)];
}

const ConnectionSlot* SocketLayer::slot(int index) const
{
    if (index < 2 || index > m_highest || std::size_t(index) >= m_slots.size())
        return nullptr;
    return &m_slots[std::size_t(index)];
}

void SocketLayer::setPaused(bool paused)
{
    m_paused = paused;
    if (!paused)
        scheduleAccept();
}

void SocketLayer::scheduleAccept()
{
    // Never accept from inside another socket's handler: the slot that is
    // being freed may still be on the call stack.
    if (m_acceptQueued)
        return;
    m_acceptQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_acceptQueued = false;
            acceptPending();
        },
        Qt::QueuedConnection);
}

void SocketLayer::onIncoming(qintptr descriptor)
{
    Waiting w;
    w.descriptor = descriptor;
    w.since.start();
    m_waiting.push_back(w);
    acceptPending();
    trimWaiting();
}

int SocketLayer::freeSlot()
{
    // First a closed slot, in index order.
    for (int i = 2; i <= m_highest; ++i) {
        if (m_slots[std::size_t(i)].state == SlotState::Closed)
            return i;
    }
    // Then one whose client has its answer and is only lingering.
    for (int i = 2; i <= m_highest; ++i) {
        ConnectionSlot& s = m_slots[std::size_t(i)];
        if (s.state == SlotState::Closing) {
            reset(s);
            return i;
        }
    }
    return -1;
}

int SocketLayer::longestSilentSlot(qint64* silentMs)
{
    // Only a connection that has not sent a single byte may give way; one
    // that is part way through its request never does.
    int found = -1;
    qint64 longest = -1;
    for (int i = 2; i <= m_highest; ++i) {
        ConnectionSlot& s = m_slots[std::size_t(i)];
        if (s.state != SlotState::Receiving || !s.inbox.isEmpty() || !s.socket ||
            s.socket->bytesAvailable() > 0 || s.accepted.elapsed() <= longest)
            continue;
        // Bytes the event loop has not delivered yet count as sent.
        if (peek(s.socket->socketDescriptor()) == Peek::Talking)
            continue;
        found = i;
        longest = s.accepted.elapsed();
    }
    *silentMs = longest;
    return found;
}

int SocketLayer::firstTalkingWaiting()
{
    const qint64 now = m_clock.elapsed();
    for (std::size_t i = 0; i < m_waiting.size();) {
        Waiting& w = m_waiting[i];
        if (!w.talking && (w.peekedAt < 0 || now - w.peekedAt >= kPeekIntervalMs)) {
            w.peekedAt = now;
            const Peek p = peek(w.descriptor);
            if (p == Peek::Gone) {
                closeWaiting(i); // the client gave up while it waited
                continue;
            }
            w.talking = p == Peek::Talking;
        }
        if (w.talking)
            return int(i);
        ++i;
    }
    return -1;
}

void SocketLayer::acceptPending()
{
    while (!m_paused && !m_waiting.empty()) {
        int index = freeSlot();
        int pick = 0;
        if (index >= 0) {
            // Clients that have spoken go before those that have not.
            if (m_waiting.size() > 1) {
                pick = std::max(0, firstTalkingWaiting());
                if (m_waiting.empty())
                    break; // all of them had given up
            }
        } else {
            qint64 silence = 0;
            index = longestSilentSlot(&silence);
            if (index < 0)
                break; // every slot holds a request; the next to finish takes one
            const int talker = firstTalkingWaiting();
            if (m_waiting.empty())
                break;
            if (talker < 0 && silence < m_limits.silentGraceMs) {
                // Neither side has said anything yet: the one in the slot
                // keeps it for its grace.
                m_graceTimer.start(int(m_limits.silentGraceMs - silence) + 1);
                break;
            }
            pick = std::max(0, talker);
            qCInfo(lcSockets) << "slot" << index << "given up: nothing received in" << silence
                              << "ms and every slot taken";
            reset(m_slots[std::size_t(index)]);
        }
        const Waiting w = m_waiting[std::size_t(pick)];
        m_waiting.erase(m_waiting.begin() + pick);
        attach(index, w);
    }
    if (m_acceptingPaused && m_server && int(m_waiting.size()) < m_limits.maxWaiting) {
        m_acceptingPaused = false;
        m_server->resumeAccepting();
    }
}

void SocketLayer::trimWaiting()
{
    while (int(m_waiting.size()) > m_limits.maxWaiting) {
        // Make room by closing the connection that has waited longest
        // without a byte; if all have sent their request, stop taking more.
        std::size_t victim = m_waiting.size();
        for (std::size_t i = 0; i < m_waiting.size(); ++i) {
            Waiting& w = m_waiting[i];
            if (!w.talking) {
                const Peek p = peek(w.descriptor);
                w.peekedAt = m_clock.elapsed();
                w.talking = p == Peek::Talking;
                if (!w.talking) {
                    victim = i;
                    break;
                }
            }
        }
        if (victim == m_waiting.size()) {
            if (m_server && !m_acceptingPaused) {
                m_acceptingPaused = true;
                m_server->pauseAccepting();
            }
            return;
        }
        qCInfo(lcSockets) << "waiting connection closed: nothing received and" << m_waiting.size()
                          << "waiting";
        closeWaiting(victim);
    }
}

void SocketLayer::closeWaiting(std::size_t i)
{
    closeDescriptor(m_waiting[i].descriptor);
    m_waiting.erase(m_waiting.begin() + qsizetype(i));
}

void SocketLayer::closeAllWaiting()
{
    while (!m_waiting.empty())
        closeWaiting(m_waiting.size() - 1);
    m_graceTimer.stop();
}

void SocketLayer::attach(int index, Waiting w)
{
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(w.descriptor)) {
        closeDescriptor(w.descriptor);
        delete socket;
        return;
    }
    ConnectionSlot& s = m_slots[std::size_t(index)];
    const int keptIndex = s.index;
    s = ConnectionSlot{};
    s.index = keptIndex;
    s.generation = ++m_generations;
    s.socket = socket;
    socket->setReadBufferSize(kReadBufferSize);
    s.clientAddress = addressText(socket->peerAddress());
    s.accepted = w.since; // the head deadline counts from the accept
    setState(s, SlotState::Receiving);
    connect(socket, &QTcpSocket::readyRead, this, [this, index] { onReadyRead(index); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, index] { onWritten(index); });
    connect(socket, &QTcpSocket::disconnected, this, [this, index] { onGone(index); });
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this, index](QAbstractSocket::SocketError e) {
                // A temporary error is the "would block" case: nothing to do.
                if (e != QAbstractSocket::TemporaryError)
                    onGone(index);
            });
    if (socket->bytesAvailable() > 0)
        onReadyRead(index);
    else if (socket->state() != QAbstractSocket::ConnectedState)
        onGone(index);
}

void SocketLayer::onReadyRead(int index)
{
    ConnectionSlot& s = m_slots[std::size_t(index)];
    if (!s.socket)
        return;
    const QByteArray data = s.socket->readAll();
    if (data.isEmpty())
        return;
    Q_EMIT received(data.size());
    if (s.state != SlotState::Receiving) {
        s.lingerOnClose = true;
        return; // after the request, extra bytes are read and dropped
    }
    s.inbox.append(data);
    const RequestParser::Result r = RequestParser::parse(s.inbox, m_limits);
    s.headComplete = r.headComplete;
    switch (r.state) {
    case RequestParser::State::NeedMore:
        return;
    case RequestParser::State::Rejected:
        setState(s, SlotState::Handling);
        s.lingerOnClose = true;
        s.inbox.clear();
        Q_EMIT requestRejected(index, r.status, r.refusal);
        return;
    case RequestParser::State::Complete:
        setState(s, SlotState::Handling);
        s.lingerOnClose = r.consumed < s.inbox.size();
        s.inbox.clear();
        s.request = r.request;
        s.query.setText(r.request.queryData);
        Q_EMIT requestReady(index);
        return;
    }
}

void SocketLayer::send(int index, const Response& response)
{
    ConnectionSlot* s = slot(index);
    if (!s)
        return;
    if (s->state == SlotState::Abandoned || !s->socket ||
        s->socket->state() != QAbstractSocket::ConnectedState) {
        reset(*s); // the client is gone; the answer has no one to go to
        return;
    }
    if (s->state != SlotState::Handling && s->state != SlotState::Trapped &&
        s->state != SlotState::Receiving)
        return;
    setState(*s, SlotState::Sending);
    // Nothing of ours is queued in the socket yet, so the bytes go to the
    // kernel directly; only what it does not take now is copied into the
    // socket's buffer and follows as the client reads.
    const qint64 sent = s->socket->bytesToWrite() == 0 ? sendDirect(s->socket->socketDescriptor(),
                                                                    response.head, response.body)
                                                       : 0;
    const qint64 headSize = response.head.size();
    if (sent < headSize) {
        s->socket->write(response.head.constData() + sent, headSize - sent);
        s->socket->write(response.body);
    } else if (sent < response.size()) {
        s->socket->write(response.body.constData() + (sent - headSize),
                         response.body.size() - (sent - headSize));
    }
    // Hand it all to the kernel now rather than one buffer chunk per pass
    // of the event loop (Qt keeps 16 KiB chunks). A flush may report the
    // bytes written at once, which can close and reset the slot.
    while (s->socket && s->state == SlotState::Sending && s->socket->bytesToWrite() > 0 &&
           s->socket->flush()) {
    }
    if (s->socket && s->state == SlotState::Sending && s->socket->bytesToWrite() == 0)
        beginClosing(*s);
}

void SocketLayer::closeWithoutAnswer(int index)
{
    if (ConnectionSlot* s = slot(index)) {
        s->lingerOnClose = true;
        beginClosing(*s);
    }
}

void SocketLayer::setTrapped(int index)
{
    if (ConnectionSlot* s = slot(index); s && s->state == SlotState::Handling)
        setState(*s, SlotState::Trapped);
}

void SocketLayer::resumeHandling(int index)
{
    if (ConnectionSlot* s = slot(index); s && s->state == SlotState::Trapped)
        setState(*s, SlotState::Handling);
}

void SocketLayer::onWritten(int index)
{
    ConnectionSlot& s = m_slots[std::size_t(index)];
    if (s.state == SlotState::Sending && s.socket && s.socket->bytesToWrite() == 0)
        beginClosing(s);
}

void SocketLayer::beginClosing(ConnectionSlot& s)
{
    if (!s.socket) {
        reset(s);
        return;
    }
    if (!s.lingerOnClose && s.socket->bytesAvailable() == 0) {
        // Everything the client sent was read and the answer is with the
        // kernel: closing now sends it whole, followed by the FIN.
        reset(s);
        return;
    }
    setState(s, SlotState::Closing);
    // Half-close and keep reading for a moment: closing with unread request
    // bytes makes the kernel send a reset, and the client may lose the answer.
#ifdef Q_OS_UNIX
    if (s.socket->socketDescriptor() >= 0)
        ::shutdown(int(s.socket->socketDescriptor()), SHUT_WR);
#else
    s.socket->disconnectFromHost();
#endif
}

void SocketLayer::onGone(int index)
{
    ConnectionSlot& s = m_slots[std::size_t(index)];
    if (!s.socket)
        return;
    if (s.state == SlotState::Trapped || s.state == SlotState::Handling) {
        // The host still owes an answer for this index; keep the slot so a
        // late answer cannot reach the next client that gets it.
        detachSocket(s);
        setState(s, SlotState::Abandoned);
        return;
    }
    reset(s);
}

void SocketLayer::detachSocket(ConnectionSlot& s)
{
    if (!s.socket)
        return;
    QTcpSocket* socket = s.socket;
    s.socket = nullptr;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void SocketLayer::reset(ConnectionSlot& s)
{
    const bool wasInUse = s.state != SlotState::Closed;
    detachSocket(s);
    const int index = s.index;
    s = ConnectionSlot{};
    s.index = index;
    if (wasInUse && !m_waiting.empty())
        scheduleAccept();
}

void SocketLayer::setState(ConnectionSlot& s, SlotState state)
{
    s.state = state;
    s.stateSince.start();
}

void SocketLayer::checkDeadlines()
{
    // A waiting connection that has said nothing within the head deadline
    // is closed, as it would be in a slot. Its flag may be old, so it is
    // asked again first: a client that sent its request while we were busy
    // keeps its place.
    for (std::size_t i = 0; i < m_waiting.size();) {
        Waiting& w = m_waiting[i];
        if (!w.talking && w.since.elapsed() > m_limits.headTimeoutMs) {
            w.peekedAt = m_clock.elapsed();
            w.talking = peek(w.descriptor) == Peek::Talking;
            if (!w.talking) {
                closeWaiting(i);
                continue;
            }
        }
        ++i;
    }
    for (int i = 2; i <= m_highest; ++i) {
        ConnectionSlot& s = m_slots[std::size_t(i)];
        switch (s.state) {
        case SlotState::Closed:
        case SlotState::Handling:
            break;
        case SlotState::Receiving:
            if ((!s.headComplete && s.accepted.elapsed() > m_limits.headTimeoutMs) ||
                s.accepted.elapsed() > m_limits.bodyTimeoutMs) {
                qCInfo(lcSockets) << "slot" << i << "closed: request not complete in time";
                reset(s);
            }
            break;
        case SlotState::Trapped:
            if (s.stateSince.elapsed() > m_limits.hostAnswerTimeoutMs)
                Q_EMIT trapExpired(i);
            break;
        case SlotState::Abandoned:
            if (s.stateSince.elapsed() > m_limits.hostAnswerTimeoutMs)
                reset(s);
            break;
        case SlotState::Sending:
            if (s.stateSince.elapsed() > m_limits.sendTimeoutMs)
                reset(s);
            break;
        case SlotState::Closing:
            if (s.stateSince.elapsed() > m_limits.lingerMs)
                reset(s);
            break;
        }
    }
    if (!m_waiting.empty())
        acceptPending();
}

void SocketLayer::startHousekeeping(int connectionTimeoutMinutes)
{
    m_connectionTimeout = connectionTimeoutMinutes;
    m_housekeeping.setInterval(2000);
    m_sinceSweep.start();
    m_housekeeping.start();
    m_deadlines.start();
}

void SocketLayer::stopHousekeeping()
{
    m_housekeeping.stop();
    m_deadlines.stop();
}

void SocketLayer::housekeepingTick()
{
    // A listener that could not bind (port taken) or failed is tried again.
    // A listener that works is left alone: closing it would reset every
    // client still waiting in its backlog.
    if (!isListening() && m_highest > 0)
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
    int free = 0;
    for (int i = 2; i <= m_highest; ++i) {
        ConnectionSlot& s = m_slots[std::size_t(i)];
        if (s.state == SlotState::Closing || s.state == SlotState::Abandoned)
            reset(s);
        if (s.state == SlotState::Closed)
            ++free;
    }
    m_freeConnections = free;
}

} // namespace servlane
