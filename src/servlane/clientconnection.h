#pragma once

#include "httprequest.h"
#include "response.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

namespace servlane {

// One client's connection as the socket layer keeps it: a raw non-blocking
// descriptor, the request bytes so far, and once answered the answer being
// sent. It does the system calls for its descriptor and keeps the counters
// its deadlines are judged by; what happens next is the socket layer's call.
class ClientConnection final {
public:
    enum class Phase {
        Reading,   // request head or body still arriving
        Queued,    // request complete (or refused), waiting for a slot
        InSlot,    // the host side is producing the answer
        Sending,   // answer handed over, going out as the client reads
        Lingering, // answer sent and our side shut; draining until the client closes
    };
    enum class Io { Done, Blocked, Failed };

    ClientConnection(quint64 id, int fd, QString address);
    ~ClientConnection(); // closes the descriptor
    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;

    quint64 id() const { return m_id; }
    int descriptor() const { return m_fd; }
    const QString& address() const { return m_address; }
    Phase phase() const { return m_phase; }
    void setPhase(Phase phase);
    qint64 age() const { return m_accepted.elapsed(); }
    qint64 inPhase() const { return m_phaseSince.elapsed(); }

    // Reads what the kernel holds, at most `budget` bytes. Request bytes are
    // appended to the inbox while Reading and dropped after that. `ended`:
    // the client closed its side or the connection failed.
    qint64 receive(qint64 budget, bool* ended);
    QByteArray& inbox() { return m_inbox; }
    // Bytes still unread in the kernel's buffer (the client sent more than
    // its request).
    bool hasUnreadInput() const;

    // Tells a client that holds its body until asked that it may send it
    // (once; an interim answer this short always fits the empty buffer).
    void sendContinue();

    // The answer to send; a HEAD request gets its header block only.
    void setAnswer(const Response& answer);
    // Hands the kernel what it takes now, at most `budget` bytes.
    Io sendSome(qint64 budget);
    qint64 bytesSent() const { return m_sent; }

    // Send rate check: bytes the kernel took since the window began.
    qint64 windowProgress() const { return m_sent - m_windowStart; }
    qint64 windowAge() const { return m_window.elapsed(); }
    void startWindow();
    qint64 sinceProgress() const { return m_lastProgress.elapsed(); }

    // Our side is done: FIN after the answer, the client's bytes still read.
    void shutdownWrite();
    // Close with a reset now: nothing more is owed to this client, and its
    // unsent bytes must not keep kernel memory.
    void setAbortOnClose();

    // What the parser made of the request.
    HttpRequest request;
    int rejectStatus = 0; // refused with this status instead of a request
    bool refusal = true;
    bool headComplete = false;
    bool headOnly = false; // HEAD: no content goes out
    bool continueSent = false;
    // The client sent more than its request: half-close and drain before
    // closing, so closing cannot reset the connection before it has read
    // the answer.
    bool lingerOnClose = false;
    int slotIndex = 0;
    bool pastGrace = false; // the send rate is being judged
    // The events the epoll set watches for it; 0 while it is not in the set
    // (a connection answered within its first wake-up never joins it).
    quint32 watchedEvents = 0;

private:
    quint64 m_id;
    int m_fd;
    QString m_address;
    Phase m_phase = Phase::Reading;
    QElapsedTimer m_accepted;
    QElapsedTimer m_phaseSince;
    QByteArray m_inbox;

    Response m_answer;
    qint64 m_headSent = 0; // of head + body
    qint64 m_fileSent = 0;
    qint64 m_sent = 0;
    qint64 m_windowStart = 0;
    QElapsedTimer m_window;
    QElapsedTimer m_lastProgress;
};

} // namespace servlane
