#include "rawclient.h"
#include "requestlimits.h"
#include "servlane.h"
#include "testsite.h"

#include <QFile>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <memory>

// Hostile requests, each with the safe outcome expected of it; after every
// one the server must still answer a normal request. Any change to the
// server must keep this suite green (also under ASan/UBSan).
class TestHardening : public SiteTestCase {
    Q_OBJECT

private:
    void stillServes()
    {
        const auto r = RawClient::get(m_port, "/a.txt");
        QCOMPARE(r.status(), 200);
        QCOMPARE(r.body(), QByteArray("fine"));
    }

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        servlane::RequestLimits limits;
        limits.headTimeoutMs = 600;
        limits.bodyTimeoutMs = 1200;
        limits.lingerMs = 300;
        limits.maxCgiOutput = 256 * 1024;
        m_site = std::make_unique<TestSite>(limits);
        m_server = m_site->server.get();
        writeFile(root() + QStringLiteral("/a.txt"), "fine");
        writeFile(root() + QStringLiteral("/locked/x.txt"), "locked");
        writeFile(root() + QStringLiteral("/locked/htaccess.txt"), "bob:secret\r\n");
        writeFile(m_site->file(QStringLiteral("secret.txt")), "outside");
        m_server->setAuthenticationSource(Servlane::DirectoryFile);
        m_server->setMaxConnections(6);
    }

    void cleanup()
    {
        m_site.reset();
        m_server = nullptr;
    }

    void hostileRequest_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<int>("status");          // 0: closed without an answer
        QTest::addColumn<QByteArray>("contains"); // in the answer, when not empty
        using L = QList<QByteArray>;
        const QByteArray get = "GET ";
        const QByteArray v = " HTTP/1.0\r\n\r\n";
        const QByteArray page404 = "HTTP 404: File Not Found";

        // Sizes and counts.
        QTest::newRow("request line 9 KiB")
            << L{get + "/" + QByteArray(9000, 'a') + v} << 0 << 414 << QByteArray();
        QTest::newRow("request line without end")
            << L{get + "/" + QByteArray(10'000, 'a')} << 0 << 414 << QByteArray();
        QTest::newRow("header block 9 KiB")
            << L{"GET /a.txt HTTP/1.0\r\nX: " + QByteArray(9000, 'h') + "\r\n\r\n"} << 0 << 431
            << QByteArray();
        QTest::newRow("thousands of headers")
            << L{"GET /a.txt HTTP/1.0\r\n" + QByteArray("A:1\r\n").repeated(5000) + "\r\n"} << 0
            << 431 << QByteArray();
        QTest::newRow("65 headers")
            << L{"GET /a.txt HTTP/1.0\r\n" + QByteArray("A: 1\r\n").repeated(65) + "\r\n"} << 0
            << 431 << QByteArray();
        QTest::newRow("huge body announced")
            << L{"POST /a.txt HTTP/1.0\r\nContent-Length: 99999999999\r\n\r\n"} << 0 << 413
            << QByteArray();
        // Bytes that have no place in a request.
        QTest::newRow("NUL in request line")
            << L{QByteArray("GET /a.txt\0x HTTP/1.0\r\n\r\n", 25)} << 0 << 400 << QByteArray();
        QTest::newRow("NUL in header")
            << L{"GET /a.txt HTTP/1.0\r\nX: a" + QByteArray(1, '\0') + "b\r\n\r\n"} << 0 << 400
            << QByteArray();
        QTest::newRow("NUL in login") << L{"GET /locked/x.txt HTTP/1.0\r\nAuthorization: Basic " +
                                           QByteArray(1, '\0') + "\r\n\r\n"}
                                      << 0 << 400 << QByteArray();
        QTest::newRow("escaped NUL") << L{get + "/a.txt%00" + v} << 0 << 400 << QByteArray();
        QTest::newRow("raw DEL") << L{get + "/a\x7f.txt" + v} << 0 << 400 << QByteArray();
        QTest::newRow("escaped CR LF")
            << L{get + "/a.txt%0d%0aX-Injected:%20y" + v} << 0 << 400 << QByteArray();
        // Traversal in every spelling.
        QTest::newRow("dot dot") << L{get + "/../secret.txt" + v} << 0 << 403 << QByteArray();
        QTest::newRow("deep dot dot")
            << L{get + "/locked/../../secret.txt" + v} << 0 << 403 << QByteArray();
        QTest::newRow("escaped dots")
            << L{get + "/%2e%2e/secret.txt" + v} << 0 << 403 << QByteArray();
        QTest::newRow("upper-case escapes")
            << L{get + "/%2E%2E/secret.txt" + v} << 0 << 403 << QByteArray();
        QTest::newRow("backslash") << L{get + "/..\\secret.txt" + v} << 0 << 403 << QByteArray();
        QTest::newRow("escaped backslash")
            << L{get + "/..%5csecret.txt" + v} << 0 << 403 << QByteArray();
        QTest::newRow("escaped slash")
            << L{get + "/locked%2f..%2f..%2fsecret.txt" + v} << 0 << 403 << QByteArray();
        QTest::newRow("double escaped")
            << L{get + "/%252e%252e/secret.txt" + v} << 0 << 404 << page404;
        QTest::newRow("overlong UTF-8 dots")
            << L{get + "/%c0%ae%c0%ae/secret.txt" + v} << 0 << 404 << page404;
        QTest::newRow("half escapes")
            << L{get + "/%2.%2./secret.txt" + v} << 0 << 400 << QByteArray();
        QTest::newRow("bad escape") << L{get + "/%zz" + v} << 0 << 400 << QByteArray();
        QTest::newRow("trailing percent") << L{get + "/a.txt%" + v} << 0 << 400 << QByteArray();
        QTest::newRow("absolute URL climbing")
            << L{get + "http://h/../secret.txt" + v} << 0 << 403 << QByteArray();
        QTest::newRow("system path") << L{get + "//etc/passwd" + v} << 0 << 404 << page404;
        // Logins.
        QTest::newRow("bad base64") << L{"GET /locked/x.txt HTTP/1.0\r\n"
                                         "Authorization: Basic !!!notbase64***\r\n\r\n"}
                                    << 0 << 401 << QByteArray();
        QTest::newRow("prefix password")
            << L{"GET /locked/x.txt HTTP/1.0\r\nAuthorization: Basic " +
                 QByteArray("bob:s").toBase64() + "\r\n\r\n"}
            << 0 << 401 << QByteArray();
        QTest::newRow("access file asked for")
            << L{"GET /locked/HTACCESS.txt HTTP/1.0\r\nAuthorization: Basic " +
                 QByteArray("bob:secret").toBase64() + "\r\n\r\n"}
            << 0 << 404 << page404;
        // Lengths that lie.
        QTest::newRow("two lengths")
            << L{"POST /a.txt HTTP/1.0\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab"} << 0
            << 400 << QByteArray();
        QTest::newRow("negative length")
            << L{"POST /a.txt HTTP/1.0\r\nContent-Length: -5\r\n\r\n"} << 0 << 400 << QByteArray();
        QTest::newRow("length not a number")
            << L{"POST /a.txt HTTP/1.0\r\nContent-Length: 12abc\r\n\r\n"} << 0 << 400
            << QByteArray();
        QTest::newRow("POST without length")
            << L{"POST /a.txt HTTP/1.0\r\n\r\n"} << 0 << 400 << QByteArray("HTTP Error 400");
        QTest::newRow("body shorter than announced")
            << L{"POST /a.txt HTTP/1.0\r\nContent-Length: 100\r\n\r\n0123456789"} << 0 << 0
            << QByteArray();
        QTest::newRow("unknown method")
            << L{"DELETE /a.txt HTTP/1.0\r\n\r\n"} << 0 << 501 << QByteArray("HTTP Error 501");
        // Garbage and odd framing.
        QTest::newRow("pipelined garbage")
            << L{"GET /a.txt HTTP/1.0\r\n\r\n" + QByteArray("\xff\xfe GET /../x\r\n").repeated(50)}
            << 0 << 200 << QByteArray("fine");
        QTest::newRow("binary without line end")
            << L{QByteArray(4000, '\xff')} << 0 << 0 << QByteArray();
        QTest::newRow("HTTP/0.9 style") << L{"GET /a.txt\r\n\r\n"} << 0 << 0 << QByteArray();
        QTest::newRow("nothing sent") << L{} << 0 << 0 << QByteArray();
        QTest::newRow("blank lines only")
            << L{QByteArray("\r\n").repeated(5000)} << 0 << 400 << QByteArray();
        QTest::newRow("trickled head")
            << L{"GET /a.txt HTTP/1.0\r\n", "X: 1\r\n", "Y: 2\r\n", "Z: 3\r\n"} << 250 << 0
            << QByteArray();
    }
    void hostileRequest()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(int, gapMs);
        QFETCH(int, status);
        QFETCH(QByteArray, contains);
        start();
        const auto r = RawClient::exchange(m_port, chunks, gapMs, 4000);
        QVERIFY2(r.closedByServer, "the server must end every connection itself");
        QCOMPARE(r.status(), status);
        if (!contains.isEmpty())
            QVERIFY2(r.bytes.contains(contains), r.bytes.left(300));
        QVERIFY(!r.bytes.contains("outside"));
        QVERIFY(!r.bytes.contains("bob:secret"));
        stillServes();
    }

    void slowClientsCannotHoldEverySlot()
    {
        start();
        // Five clients (as many as there are slots) trickle a head forever.
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        for (int i = 0; i < 5; ++i) {
            slow.push_back(std::make_unique<QTcpSocket>());
            slow.back()->connectToHost(QHostAddress::LocalHost, m_port);
        }
        QTimer drip;
        connect(&drip, &QTimer::timeout, this, [&] {
            for (auto& s : slow) {
                if (s->state() == QAbstractSocket::ConnectedState)
                    s->write("X");
            }
        });
        drip.start(50);
        QTest::qWait(400);
        QElapsedTimer t;
        t.start();
        stillServes();
        QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
        drip.stop();
    }

    // A client that sent its request while every slot was taken keeps its
    // place, even when the server was too busy to look before the deadline.
    void requestSentWhileTheServerWasBusyIsServed()
    {
        m_server->setMaxConnections(2); // one slot
        start();
        QTcpSocket slow;
        slow.connectToHost(QHostAddress::LocalHost, m_port);
        QVERIFY(slow.waitForConnected(2000));
        slow.write("GET /a.txt HTTP/1.0\r\n"); // a head never finished
        slow.flush();
        QTest::qWait(50);
        QTcpSocket client;
        QByteArray reply;
        connect(&client, &QTcpSocket::readyRead, this, [&] { reply += client.readAll(); });
        client.connectToHost(QHostAddress::LocalHost, m_port);
        QVERIFY(client.waitForConnected(2000));
        QTest::qWait(50); // now waiting for the slot
        client.write("GET /a.txt HTTP/1.0\r\n\r\n");
        client.flush();
        QThread::msleep(900); // busy past the head deadline of both
        QTRY_VERIFY2(reply.endsWith("fine"), reply.constData());
    }

    void abruptDisconnectMidBody()
    {
        m_server->setMaxConnections(2); // one slot: a leaked slot would block the next client
        start();
        for (int i = 0; i < 3; ++i) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, m_port);
            QVERIFY(s.waitForConnected(2000));
            s.write("POST /a.txt HTTP/1.0\r\nContent-Length: 5000\r\n\r\n" + QByteArray(100, 'b'));
            s.flush();
            QTest::qWait(50);
            s.abort();
        }
        QElapsedTimer t;
        t.start();
        stillServes();
        QVERIFY2(t.elapsed() < 1000, "the slot was freed when the client left");
    }

    void programsThatNeverEndOrFlood()
    {
        writeFile(root() + QStringLiteral("/never.exe"), "#!/bin/sh\nexec sleep 60\n", true);
        writeFile(root() + QStringLiteral("/flood.exe"), "#!/bin/sh\nexec yes flood\n", true);
        m_server->setCGIEnable(true);
        m_server->setCGITimeout(1);
        start();
        QElapsedTimer t;
        t.start();
        auto r = RawClient::exchange(m_port, {"GET /never.exe HTTP/1.0\r\n\r\n"}, 0, 5000);
        QVERIFY(r.closedByServer);
        QVERIFY2(t.elapsed() < 4000, qPrintable(QString::number(t.elapsed())));
        stillServes(); // and nothing else waited for it
        r = RawClient::exchange(m_port, {"GET /flood.exe HTTP/1.0\r\n\r\n"}, 0, 8000);
        QCOMPARE(r.body().size(), 256 * 1024);
        stillServes();
    }
};

QTEST_GUILESS_MAIN(TestHardening)
#include "tst_hardening.moc"
