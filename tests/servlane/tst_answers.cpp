#include "rawclient.h"
#include "requestlimits.h"
#include "servlane.h"
#include "testsite.h"

#include <QStandardPaths>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

// What goes back to the client: every answer with its true status line,
// HEAD without a body, requests handed back by the host served in full, and
// a server that never listens where it was not told to.
class TestAnswers : public SiteTestCase {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        servlane::RequestLimits limits;
        limits.headTimeoutMs = 2000;
        limits.bodyTimeoutMs = 3000;
        limits.hostAnswerTimeoutMs = 3000;
        limits.lingerMs = 300;
        m_site = std::make_unique<TestSite>(limits);
        m_server = m_site->server.get();
        m_server->setServerName(QStringLiteral("box"));
        m_server->setAuthenticationSource(Servlane::DirectoryFile);
        m_server->setMaxConnections(6);
        writeFile(root() + QStringLiteral("/a.txt"), "fine");
        writeFile(root() + QStringLiteral("/page.html"), "<p>page</p>");
        writeFile(root() + QStringLiteral("/empty/keep.txt"), "x");
        writeFile(root() + QStringLiteral("/locked/x.txt"), "locked");
        writeFile(root() + QStringLiteral("/locked/htaccess.txt"), "bob:pa:ss\r\n");
        QDir(root()).mkpath(QStringLiteral("bare"));
    }

    void cleanup()
    {
        m_site.reset();
        m_server = nullptr;
    }

    // Error pages keep their text; the status line says what happened.
    void errorAnswersCarryTheirRealStatus_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("missing file") << QByteArray("GET /none.txt HTTP/1.0\r\n\r\n") << 404
                                      << QByteArray("HTTP 404: File Not Found");
        QTest::newRow("folder without index") << QByteArray("GET /bare/ HTTP/1.0\r\n\r\n") << 403
                                              << QByteArray("HTPP 403: Forbidden");
        QTest::newRow("login wanted")
            << QByteArray("GET /locked/x.txt HTTP/1.0\r\n\r\n") << 401 << QByteArray();
        QTest::newRow("post without length") << QByteArray("POST /a.txt HTTP/1.0\r\n\r\n") << 400
                                             << QByteArray("HTPP 501: Not Implemented");
        QTest::newRow("other method")
            << QByteArray("PUT /a.txt HTTP/1.0\r\nContent-Length: 1\r\n\r\nx") << 501
            << QByteArray("HTPP 501: Not Implemented");
        QTest::newRow("lower-case method")
            << QByteArray("get /a.txt HTTP/1.0\r\n\r\n") << 501 << QByteArray();
        QTest::newRow("chunked body")
            << QByteArray(
                   "POST /a.txt HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nx\r\n0\r\n\r\n")
            << 411 << QByteArray();
        QTest::newRow("chunked with a length")
            << QByteArray("POST /a.txt HTTP/1.0\r\nTransfer-Encoding: chunked\r\n"
                          "Content-Length: 3\r\n\r\nabc")
            << 400 << QByteArray();
    }
    void errorAnswersCarryTheirRealStatus()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        QFETCH(QByteArray, text);
        start();
        const auto r = RawClient::exchange(m_port, {request});
        QCOMPARE(r.status(), status);
        QVERIFY2(r.body().contains(text), r.bytes.constData());
        QCOMPARE(RawClient::get(m_port, "/a.txt").status(), 200);
    }

    void errorFilesAndTerseErrorsToo()
    {
        writeFile(m_site->file(QStringLiteral("html/errors/http404.html")), "<p>not here</p>");
        m_server->setErrorFilesEnable(true);
        start();
        auto r = RawClient::get(m_port, "/none.txt");
        QCOMPARE(r.status(), 404);
        QCOMPARE(r.body(), QByteArray("<p>not here</p>"));
        m_server->setVerboseErrorsEnable(false);
        r = RawClient::get(m_port, "/none.txt");
        QCOMPARE(r.status(), 404);
        QVERIFY(r.body().isEmpty());
    }

    // HEAD gets exactly the header a GET gets, and nothing after it.
    void headGetsTheHeadersOnly_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<bool>("trapped");
        QTest::newRow("file") << QByteArray("/a.txt") << false;
        QTest::newRow("missing") << QByteArray("/none.txt") << false;
        QTest::newRow("host page") << QByteArray("/page.html") << true;
    }
    void headGetsTheHeadersOnly()
    {
        QFETCH(QByteArray, target);
        QFETCH(bool, trapped);
        if (trapped) {
            m_server->setTrapFileEnable(true);
            m_server->setTrapFileTypes(QStringLiteral("html"));
            connect(m_server, &Servlane::FileRequest, this, [this](int i) {
                m_server->TrapFileData(i, QStringLiteral("<p>built</p>"), false);
            });
        }
        start();
        const auto get = RawClient::exchange(m_port, {"GET " + target + " HTTP/1.0\r\n\r\n"});
        const auto head = RawClient::exchange(m_port, {"HEAD " + target + " HTTP/1.0\r\n\r\n"});
        QVERIFY(!get.body().isEmpty());
        QCOMPARE(head.status(), get.status());
        QCOMPARE(head.headerValue("Content-Length"), get.headerValue("Content-Length"));
        QCOMPARE(head.headerValue("Content-Type"), get.headerValue("Content-Type"));
        QVERIFY2(head.bytes.endsWith("\r\n\r\n"), head.bytes.constData());
        QVERIFY(head.body().isEmpty());
    }

    // Header names in any case, and only where a header line starts.
    void headerNamesAnyCaseAtLineStartOnly()
    {
        start();
        const QByteArray right = "Basic " + QByteArray("bob:pa:ss").toBase64();
        auto r = RawClient::exchange(
            m_port, {"GET /locked/x.txt HTTP/1.0\r\nX-Authorization: " + right + "\r\n\r\n"});
        QCOMPARE(r.status(), 401);
        r = RawClient::exchange(
            m_port, {"GET /locked/x.txt HTTP/1.0\r\nauthorization: " + right + "\r\n\r\n"});
        QCOMPARE(r.status(), 200);
        QCOMPARE(r.body(), QByteArray("locked"));
        // A password with a colon in it logs in: only the first colon splits.
        r = RawClient::get(m_port, "/locked/x.txt", "Authorization: " + right + "\r\n");
        QCOMPARE(r.status(), 200);
        r = RawClient::get(m_port, "/locked/x.txt",
                           "Authorization: Basic " + QByteArray("bob:pa").toBase64() + "\r\n");
        QCOMPARE(r.status(), 401);
        // A length in another header's name is no length.
        r = RawClient::exchange(m_port,
                                {"POST /a.txt HTTP/1.0\r\nX-Content-Length: 4\r\n\r\nabcd"});
        QCOMPARE(r.status(), 400);
        r = RawClient::exchange(m_port, {"POST /a.txt HTTP/1.0\r\ncontent-LENGTH: 4\r\n\r\nabcd"});
        QCOMPARE(r.status(), 200);
    }

    // A request the host hands back is served like one never trapped,
    // programs included.
    void handedBackProgramsAreAnswered_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("cgi program")
            << QByteArray("/run.exe?q=1") << QByteArray("from the program");
        QTest::newRow("exec tag") << QByteArray("/tags.html") << QByteArray("[from the program");
    }
    void handedBackProgramsAreAnswered()
    {
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, expected);
        writeFile(root() + QStringLiteral("/run.exe"), "#!/bin/sh\nprintf 'from the program'\n",
                  true);
        writeFile(root() + QStringLiteral("/tags.html"), "[<!--#exec cgi=\"/run.exe\" -->]");
        m_server->setCGIEnable(true);
        m_server->setSSIEnable(true);
        m_server->setTrapFileEnable(true);
        int asked = 0;
        connect(m_server, &Servlane::FileRequest, this, [&](int i) {
            ++asked;
            m_server->TrapFileData(i, QString(), true);
        });
        start();
        const auto r =
            RawClient::exchange(m_port, {"GET " + target + " HTTP/1.0\r\n\r\n"}, 0, 2500);
        QCOMPARE(asked, 1);
        QCOMPARE(r.status(), 200);
        QVERIFY2(r.body().contains(expected), r.bytes.constData());
    }

    // An address or port that cannot be used is reported and nothing
    // listens, not even later on the housekeeping tick.
    void badAddressNeverListens_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("port");
        QTest::newRow("not an address") << QStringLiteral("300.1.2.3") << QStringLiteral("0");
        QTest::newRow("word") << QStringLiteral("localhost-ish") << QStringLiteral("0");
        QTest::newRow("port too high") << QStringLiteral("127.0.0.1") << QStringLiteral("70000");
        QTest::newRow("negative port") << QStringLiteral("127.0.0.1") << QStringLiteral("-1");
    }
    void badAddressNeverListens()
    {
        QFETCH(QString, ip);
        QFETCH(QString, port);
        QStringList failures;
        connect(m_server, &Servlane::LogEvent, this, [&](const QString& e) { failures << e; });
        m_server->setServerIP(ip);
        m_server->setServerPort(port);
        QVERIFY(!m_server->StartServer());
        QVERIFY(!m_server->ServerRunning());
        QCOMPARE(failures.size(), 1);
        QVERIFY(failures[0].startsWith(QStringLiteral("Error - StartServer. [")));
        // Past a housekeeping tick (2 s) nothing has been opened anywhere.
        QTest::qWait(2300);
        QCOMPARE(m_server->listeningPort(), quint16(0));
        // Put right, it starts.
        m_server->setServerIP(QStringLiteral("127.0.0.1"));
        m_server->setServerPort(QStringLiteral("0"));
        QVERIFY(m_server->StartServer());
        QVERIFY(m_server->listeningPort() != 0);
    }
};

QTEST_GUILESS_MAIN(TestAnswers)
#include "tst_answers.moc"
