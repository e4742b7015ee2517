#include "clientconnection.h"

#include "pipesignalblock.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace servlane {

namespace {

constexpr qint64 kReadChunk = 16 * 1024;

} // namespace

ClientConnection::ClientConnection(quint64 id, int fd, QString address)
    : m_id(id), m_fd(fd), m_address(std::move(address))
{
    m_accepted.start();
    m_phaseSince.start();
}

ClientConnection::~ClientConnection()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void ClientConnection::setPhase(Phase phase)
{
    m_phase = phase;
    m_phaseSince.restart();
}

qint64 ClientConnection::receive(qint64 budget, bool* ended)
{
    *ended = false;
    qint64 total = 0;
    char buffer[kReadChunk];
    while (total < budget) {
        const ssize_t n =
            ::recv(m_fd, buffer, std::size_t(std::min(kReadChunk, budget - total)), MSG_DONTWAIT);
        if (n > 0) {
            total += n;
            if (m_phase == Phase::Reading)
                m_inbox.append(buffer, qsizetype(n));
            else
                lingerOnClose = true;
            // A short read emptied the buffer: asking again would only hear
            // EAGAIN. Whatever comes later (the client's close included)
            // keeps the descriptor ready, and the epoll set reports it.
            if (n < ssize_t(sizeof buffer))
                break;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        *ended = true; // 0: the client's end is closed; < 0: the connection failed
        break;
    }
    return total;
}

bool ClientConnection::hasUnreadInput() const
{
    int pending = 0;
    return ::ioctl(m_fd, FIONREAD, &pending) == 0 && pending > 0;
}

void ClientConnection::sendContinue()
{
    if (continueSent)
        return;
    continueSent = true;
    static constexpr char interim[] = "HTTP/1.1 100 Continue\r\n\r\n";
    [[maybe_unused]] const ssize_t n =
        ::send(m_fd, interim, sizeof interim - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
}

void ClientConnection::setAnswer(const Response& answer)
{
    m_answer = headOnly ? answer.headerOnly() : answer;
    m_headSent = 0;
    m_fileSent = 0;
    m_sent = 0;
    pastGrace = false;
    startWindow();
    m_lastProgress.start();
}

void ClientConnection::startWindow()
{
    m_windowStart = m_sent;
    m_window.start();
}

ClientConnection::Io ClientConnection::sendSome(qint64 budget)
{
    const qint64 memory = m_answer.head.size() + m_answer.body.size();
    const qint64 before = m_sent;
    Io result = Io::Done;
    // Only the file part goes out through sendfile, which cannot be told
    // not to raise SIGPIPE; the rest is sent with MSG_NOSIGNAL.
    std::optional<PipeSignalBlock> noPipeSignal;
    if (m_fileSent < m_answer.fileLength)
        noPipeSignal.emplace();
    while (m_sent - before < budget) {
        if (m_headSent < memory) {
            iovec parts[2];
            int count = 0;
            const qint64 headSize = m_answer.head.size();
            if (m_headSent < headSize) {
                parts[count].iov_base = const_cast<char*>(m_answer.head.constData() + m_headSent);
                parts[count].iov_len = std::size_t(headSize - m_headSent);
                ++count;
            }
            const qint64 bodyFrom = std::max<qint64>(0, m_headSent - headSize);
            if (bodyFrom < m_answer.body.size()) {
                parts[count].iov_base = const_cast<char*>(m_answer.body.constData() + bodyFrom);
                parts[count].iov_len = std::size_t(m_answer.body.size() - bodyFrom);
                ++count;
            }
            msghdr message{};
            message.msg_iov = parts;
            message.msg_iovlen = std::size_t(count);
            // With a file part to follow, the header waits for its first
            // bytes instead of going out in a packet of its own. Every answer
            // is followed by a close or a half-close, so the last bytes wait
            // for that too, and the FIN goes out in the same packet.
            const ssize_t n = ::sendmsg(m_fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT | MSG_MORE);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                result = (errno == EAGAIN || errno == EWOULDBLOCK) ? Io::Blocked : Io::Failed;
                break;
            }
            m_headSent += n;
            m_sent += n;
            continue;
        }
        if (m_fileSent < m_answer.fileLength) {
            off_t offset = off_t(m_answer.fileOffset + m_fileSent);
            const qint64 want = std::min(m_answer.fileLength - m_fileSent, budget);
            const ssize_t n =
                ::sendfile(m_fd, m_answer.file->descriptor(), &offset, std::size_t(want));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                result = (errno == EAGAIN || errno == EWOULDBLOCK) ? Io::Blocked : Io::Failed;
                break;
            }
            if (n == 0) {
                // The file is shorter than the length announced: the answer
                // cannot be completed, and a short one must not look whole.
                result = Io::Failed;
                break;
            }
            m_fileSent += n;
            m_sent += n;
            continue;
        }
        break; // all out
    }
    if (m_sent > before)
        m_lastProgress.restart();
    if (result == Io::Done && (m_headSent < memory || m_fileSent < m_answer.fileLength))
        result = Io::Blocked; // the budget ran out first; more on the next pass
    if (result != Io::Blocked)
        m_answer = Response(); // the file part's descriptor closes with its last holder
    return result;
}

void ClientConnection::shutdownWrite()
{
    ::shutdown(m_fd, SHUT_WR);
}

void ClientConnection::setAbortOnClose()
{
    linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

} // namespace servlane
