#include "clientconnection.h"
#include "documentresponder.h"
#include "filelookup.h"
#include "mimetable.h"
#include "rawclient.h"
#include "requestlimits.h"
#include "response.h"
#include "servlane.h"
#include "socketlayer.h"
#include "testsite.h"

#include <QCryptographicHash>
#include <QFile>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// A client that never reads: a blocking socket with a small receive buffer
// that sends its request and then only sits there.
int stalledClient(quint16 port, const QByteArray& request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
        ::send(fd, request.constData(), std::size_t(request.size()), MSG_NOSIGNAL) !=
            request.size()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Whether the server has ended the connection (reset or closed), without
// reading any of what it sent.
bool endedByServer(int fd)
{
    pollfd p{fd, 0, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR));
}

QByteArray patterned(qint64 size)
{
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    quint32 x = 2463534242u;
    for (qsizetype i = 0; i < out.size(); ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = char(x);
    }
    return out;
}

} // namespace

Q_DECLARE_METATYPE(servlane::Response)

// Clients that are slow, silent, or never read, against a server with few
// host slots; and the parts that send an answer.
class TestSlowClients : public SiteTestCase {
    Q_OBJECT

private:
    servlane::RequestLimits m_limits;

    void start()
    {
        m_site->server->setRequestLimits(m_limits);
        SiteTestCase::start();
    }

    void stillServes()
    {
        const auto r = RawClient::exchange(m_port, {"GET /a.txt HTTP/1.0\r\n\r\n"}, 0, 5000);
        QCOMPARE(r.status(), 200);
        QCOMPARE(r.body(), QByteArray("fine"));
    }

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        m_limits = servlane::RequestLimits();
        m_limits.headTimeoutMs = 20'000; // longer than any wait below
        m_limits.bodyTimeoutMs = 30'000;
        m_limits.lingerMs = 300;
        m_site = std::make_unique<TestSite>(m_limits);
        m_server = m_site->server.get();
        writeFile(root() + QStringLiteral("/a.txt"), "fine");
        m_server->setMaxConnections(3); // two slots
    }

    void cleanup()
    {
        m_site.reset();
        m_server = nullptr;
    }

    void tricklingHeadsHoldNoSlot()
    {
        start();
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        const auto allConnected = [&] {
            return std::all_of(slow.begin(), slow.end(), [](const auto& s) {
                return s->state() == QAbstractSocket::ConnectedState;
            });
        };
        for (int i = 0; i < 200; ++i) {
            slow.push_back(std::make_unique<QTcpSocket>());
            slow.back()->connectToHost(QHostAddress::LocalHost, m_port);
            if (i % 20 == 19) // within the listener's backlog
                QTRY_VERIFY(allConnected());
        }
        const QByteArray head = "GET /a.txt HTTP/1.0\r\nX-Slow: " + QByteArray(500, 'a');
        int sent = 0;
        QTimer drip;
        connect(&drip, &QTimer::timeout, this, [&] {
            for (auto& s : slow) {
                if (s->state() == QAbstractSocket::ConnectedState)
                    s->write(head.mid(sent % head.size(), 1));
            }
            ++sent;
        });
        drip.start(50);
        QTRY_VERIFY(sent > 10);
        // Answered long before the trickling heads run into their deadline.
        stillServes();
        stillServes();
        for (auto& s : slow)
            QCOMPARE(s->state(), QAbstractSocket::ConnectedState);
        drip.stop();
    }

    void clientsThatNeverReadAreClosed()
    {
        m_limits.sendGraceMs = 300;
        m_limits.sendRateWindowMs = 500;
        m_limits.minSendBytesPerSecond = 1024;
        m_server->setMaxConnections(9); // eight slots
        // Far more than the kernel's buffers take for a client that reads
        // nothing.
        writeFile(root() + QStringLiteral("/big.bin"), patterned(16 * 1024 * 1024));
        start();
        std::vector<int> stalled;
        for (int i = 0; i < 50; ++i) {
            const int fd = stalledClient(m_port, "GET /big.bin HTTP/1.0\r\n\r\n");
            QVERIFY(fd >= 0);
            stalled.push_back(fd);
        }
        QTest::qWait(200);
        stillServes();
        // Past the grace and one rate window, none of them is still open.
        const auto allEnded = [&] {
            return std::all_of(stalled.begin(), stalled.end(), endedByServer);
        };
        QTRY_VERIFY_WITH_TIMEOUT(allEnded(), 8000);
        for (const int fd : stalled)
            ::close(fd);
        stillServes();
    }

    void floodFromOneAddressMakesRoomForANewClient()
    {
        m_limits.maxConnectionsPerAddress = 10;
        start();
        // Thirty silent connections from 127.0.0.1, three times the cap.
        std::vector<std::unique_ptr<QTcpSocket>> silent;
        for (int i = 0; i < 30; ++i) {
            silent.push_back(std::make_unique<QTcpSocket>());
            silent.back()->connectToHost(QHostAddress::LocalHost, m_port);
            QVERIFY(silent.back()->waitForConnected(2000));
            QTest::qWait(5); // accepted in this order
        }
        const auto open = [&] {
            return std::count_if(silent.begin(), silent.end(), [](const auto& s) {
                return s->state() == QAbstractSocket::ConnectedState;
            });
        };
        // The cap holds long before any head deadline: the oldest gave way.
        QTRY_COMPARE(open(), 10);
        QCOMPARE(silent.front()->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(silent.back()->state(), QAbstractSocket::ConnectedState);
        // A client that sends its request at once is served although the
        // cap is reached; one of the silent ones makes room.
        stillServes();
        QTRY_COMPARE(open(), 9);
    }

    void lateHostAnswerNeverReachesTheNextClient()
    {
        m_limits.hostAnswerTimeoutMs = 500;
        m_server->setMaxConnections(2); // one slot
        m_server->setTrapFileEnable(true);
        start();
        QList<int> pending;
        connect(m_server, &Servlane::FileRequest, this, [&](int i) { pending << i; });
        const auto first = RawClient::exchange(m_port, {"GET /one.html HTTP/1.0\r\n\r\n"}, 0, 5000);
        QCOMPARE(first.status(), 503);
        QCOMPARE(pending, QList<int>{2});
        QTcpSocket next;
        QByteArray reply;
        connect(&next, &QTcpSocket::readyRead, this, [&] { reply += next.readAll(); });
        next.connectToHost(QHostAddress::LocalHost, m_port);
        next.write("GET /two.html HTTP/1.0\r\n\r\n");
        QTest::qWait(300);
        // The host answers the first request late; it must go nowhere.
        m_server->TrapFileData(2, QStringLiteral("for the first client"), false);
        QTRY_COMPARE(pending.size(), 2);
        QCOMPARE(pending[1], 2);
        m_server->TrapFileData(2, QStringLiteral("for the second"), false);
        QTRY_VERIFY(reply.endsWith("for the second"));
        QVERIFY(!reply.contains("first"));
    }

    void slotOfAnAnswerNeverGivenIsReclaimed()
    {
        m_limits.hostAnswerTimeoutMs = 300;
        m_limits.owedAnswerTimeoutMs = 1000;
        m_server->setMaxConnections(2);
        m_server->setTrapFileEnable(true);
        start();
        QList<int> pending;
        connect(m_server, &Servlane::FileRequest, this, [&](int i) { pending << i; });
        QCOMPARE(RawClient::exchange(m_port, {"GET /one.html HTTP/1.0\r\n\r\n"}, 0, 5000).status(),
                 503);
        QTcpSocket next;
        next.connectToHost(QHostAddress::LocalHost, m_port);
        next.write("GET /two.html HTTP/1.0\r\n\r\n");
        QTest::qWait(200);
        QCOMPARE(pending.size(), 1); // still reserved for the owed answer
        QTRY_COMPARE_WITH_TIMEOUT(pending.size(), 2, 5000);
    }

    void requestIdentityAndDeparture()
    {
        servlane::SocketLayer layer;
        layer.setLimits(m_limits);
        layer.createSlots(3);
        QVERIFY(layer.listen(QHostAddress::LocalHost, 0));
        QList<int> ready;
        connect(&layer, &servlane::SocketLayer::requestReady, this, [&](int i) { ready << i; });
        QList<quint64> ids;
        for (int round = 0; round < 2; ++round) {
            QTcpSocket client;
            client.connectToHost(QHostAddress::LocalHost, layer.serverPort());
            client.write("GET /x.html HTTP/1.0\r\n\r\n");
            QTRY_COMPARE(ready.size(), round + 1);
            const int index = ready.last();
            const quint64 id = layer.requestId(index);
            QVERIFY(id != 0);
            QVERIFY(!ids.contains(id));
            ids << id;
            QVERIFY(layer.isWaiting(index, id));
            QVERIFY(!layer.isWaiting(index, id + 1));
            client.abort(); // the client leaves while its request is in the slot
            QTRY_VERIFY(!layer.isWaiting(index, id));
            QCOMPARE(layer.slot(index)->state, servlane::SlotState::Abandoned);
            QCOMPARE(layer.requestId(index), id);    // still reserved for the owed answer
            layer.send(index, servlane::Response()); // the late answer frees it
            QCOMPARE(layer.requestId(index), quint64(0));
        }
        // With no client left the deadline scan rests; the next client wakes it.
        QTRY_VERIFY(!layer.timingDeadlines());
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, layer.serverPort());
        QTRY_VERIFY(layer.timingDeadlines());
    }

    void bodyAtTheLimitIsTakenOneByteMoreIsNot()
    {
        m_limits.maxBody = 64 * 1024;
        start();
        const auto post = [&](qsizetype length) {
            QList<QByteArray> chunks{"POST /a.txt HTTP/1.0\r\nContent-Length: " +
                                     QByteArray::number(length) + "\r\n\r\n"};
            for (qsizetype at = 0; at < length; at += 16 * 1024)
                chunks << QByteArray(std::min<qsizetype>(16 * 1024, length - at), 'b');
            return RawClient::exchange(m_port, chunks, 5, 5000);
        };
        const auto atLimit = post(m_limits.maxBody);
        QCOMPARE(atLimit.status(), 200);
        QCOMPARE(atLimit.body(), QByteArray("fine"));
        QCOMPARE(post(m_limits.maxBody + 1).status(), 413);
        stillServes();
    }

    void hundredMegabyteFileArrivesIntact()
    {
        const QByteArray content = patterned(100 * 1024 * 1024);
        writeFile(root() + QStringLiteral("/huge.bin"), content);
        const QByteArray expected = QCryptographicHash::hash(content, QCryptographicHash::Sha256);
        start();
        QTcpSocket client;
        QByteArray head;
        qint64 bodySize = 0;
        bool closed = false;
        QCryptographicHash hash(QCryptographicHash::Sha256);
        connect(&client, &QTcpSocket::readyRead, this, [&] {
            QByteArray bytes = client.readAll();
            if (!head.endsWith("\r\n\r\n")) {
                head += bytes;
                const qsizetype end = head.indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                bytes = head.mid(end + 4);
                head.truncate(end + 4);
            }
            bodySize += bytes.size();
            hash.addData(bytes);
        });
        connect(&client, &QTcpSocket::disconnected, this, [&] { closed = true; });
        client.connectToHost(QHostAddress::LocalHost, m_port);
        client.write("GET /huge.bin HTTP/1.0\r\n\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(closed, 20'000);
        QVERIFY2(head.contains("Content-Length: 104857600\r\n"), head.constData());
        QCOMPARE(bodySize, qint64(content.size()));
        QCOMPARE(hash.result(), expected);
    }

    void largeFilesAreHandedOutAsFileParts()
    {
        writeFile(root() + QStringLiteral("/small.txt"), "tiny");
        writeFile(root() + QStringLiteral("/large.txt"), QByteArray(2 * 1024 * 1024, 'l'));
        writeFile(root() + QStringLiteral("/large.html"), QByteArray(2 * 1024 * 1024, 'h'));
        servlane::FileLookup lookup;
        lookup.setDocumentRoot(root());
        servlane::MimeTable mime;
        mime.load(servlane::MimeTable::Source::Internal);
        servlane::DocumentResponder responder(lookup, mime);
        servlane::DocumentResponder::Settings settings;
        settings.ssi = true;
        responder.setSettings(settings);
        servlane::HttpStatus status;
        auto r = responder.fileResponse(root() + QStringLiteral("/small.txt"), status, {});
        QVERIFY(!r.file);
        QCOMPARE(r.body, QByteArray("tiny"));
        r = responder.fileResponse(root() + QStringLiteral("/large.txt"), status, {});
        QVERIFY(r.file);
        QVERIFY(r.body.isEmpty());
        QCOMPARE(r.fileLength, qint64(2 * 1024 * 1024));
        QVERIFY(r.head.contains("Content-Length: 2097152\r\n"));
        QCOMPARE(r.size(), r.head.size() + 2 * 1024 * 1024);
        // A page whose tags are processed is built in memory.
        r = responder.fileResponse(root() + QStringLiteral("/large.html"), status, {});
        QVERIFY(!r.file);
        QCOMPARE(r.body.size(), 2 * 1024 * 1024);
    }

    void headAnswerIsCutAfterTheHeader_data()
    {
        QTest::addColumn<servlane::Response>("answer");
        const QByteArray head = "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n";
        QTest::newRow("head and body") << servlane::Response(head, "hello");
        QTest::newRow("built in one piece") << servlane::Response(head + "hello");
        QTest::newRow("head split from its blank line")
            << servlane::Response(head.chopped(2), "\r\nhello");
    }
    void headAnswerIsCutAfterTheHeader()
    {
        QFETCH(servlane::Response, answer);
        const servlane::Response cut = answer.headerOnly();
        QCOMPARE(cut.toByteArray(), QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n"));
        QVERIFY(!cut.file);
    }

    void headAnswerSendsNoFilePart()
    {
        writeFile(root() + QStringLiteral("/f.bin"), QByteArray(3000, 'f'));
        const auto file = servlane::OpenFile::open(root() + QStringLiteral("/f.bin"));
        QVERIFY(file);
        const QByteArray head = "HTTP/1.0 200 OK\r\nContent-Length: 3000\r\n\r\n";
        for (const bool headOnly : {false, true}) {
            int pair[2];
            QVERIFY(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair) == 0);
            servlane::ClientConnection c(1, pair[0], QStringLiteral("local"));
            c.headOnly = headOnly;
            c.setAnswer(servlane::Response(head, file, 0, file->size()));
            QCOMPARE(c.sendSome(1 << 20), servlane::ClientConnection::Io::Done);
            QByteArray got(8192, '\0');
            const ssize_t n = ::recv(pair[1], got.data(), std::size_t(got.size()), 0);
            ::close(pair[1]);
            got.truncate(qsizetype(std::max<ssize_t>(0, n)));
            QCOMPARE(got, headOnly ? head : head + QByteArray(3000, 'f'));
        }
    }

    void readerGoneMidFileEndsOnlyItsConnection()
    {
        // A host may leave SIGPIPE at its default; the send must not raise it.
        const auto hostDisposition = ::signal(SIGPIPE, SIG_DFL);
        const QByteArray content = patterned(3 * 1024 * 1024);
        writeFile(root() + QStringLiteral("/gone.bin"), content);
        const auto file = servlane::OpenFile::open(root() + QStringLiteral("/gone.bin"));
        QVERIFY(file);
        int pair[2];
        QVERIFY(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair) == 0);
        servlane::ClientConnection c(1, pair[0], QStringLiteral("local"));
        c.setAnswer(servlane::Response("HTTP/1.0 200 OK\r\n\r\n", file, 0, file->size()));
        QCOMPARE(c.sendSome(64 * 1024), servlane::ClientConnection::Io::Blocked);
        ::close(pair[1]); // the reader leaves mid-file
        QCOMPARE(c.sendSome(1 << 20), servlane::ClientConnection::Io::Failed);
        sigset_t pending;
        ::sigpending(&pending);
        QVERIFY(!::sigismember(&pending, SIGPIPE));
        ::signal(SIGPIPE, hostDisposition);

        // Over the network: clients that read a little of a large file and
        // close; the server goes on answering.
        ::signal(SIGPIPE, SIG_DFL);
        start();
        for (int i = 0; i < 20; ++i) {
            QTcpSocket client;
            client.setReadBufferSize(8192);
            client.connectToHost(QHostAddress::LocalHost, m_port);
            client.write("GET /gone.bin HTTP/1.0\r\n\r\n");
            QTRY_VERIFY(client.bytesAvailable() > 0);
            client.read(4096);
            if (i % 2)
                client.abort(); // a reset
            else
                client.close(); // a close with the answer unread
        }
        stillServes();
        ::signal(SIGPIPE, hostDisposition);
    }

    // Out of descriptors: a client that cannot be taken waits in the
    // backlog; the server says why and rests between tries instead of
    // spinning on a listener that stays ready, and serves the client once
    // descriptors are free again.
    void outOfDescriptorsRestsThenServes()
    {
        start();
        const int errorsBefore = m_server->Stats_Errors().toInt();
        const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        QVERIFY(client >= 0);
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &saved) == 0);
        rlimit low = saved;
        low.rlim_cur = 256;
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &low) == 0);
        std::vector<int> filler;
        for (int fd; (fd = ::dup(client)) >= 0;)
            filler.push_back(fd);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(m_port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const QByteArray request = "GET /a.txt HTTP/1.0\r\n\r\n";
        QVERIFY(::connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0);
        QVERIFY(::send(client, request.constData(), std::size_t(request.size()), 0) ==
                request.size());
        // Each failed accept is counted as an error.
        const auto refusals = [&] { return m_server->Stats_Errors().toInt() - errorsBefore; };
        QTRY_VERIFY(refusals() >= 1);
        QTest::qWait(500);
        QVERIFY2(refusals() <= 10, qPrintable(QString::number(refusals())));
        for (const int fd : filler)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &saved);
        QByteArray answer;
        const auto readSome = [client] {
            char buffer[1024];
            const ssize_t n = ::recv(client, buffer, sizeof buffer, MSG_DONTWAIT);
            return n > 0 ? QByteArray(buffer, qsizetype(n)) : QByteArray();
        };
        QTRY_VERIFY((answer += readSome()).endsWith("fine"));
        ::close(client);
    }
};

QTEST_GUILESS_MAIN(TestSlowClients)
#include "tst_slowclients.moc"
