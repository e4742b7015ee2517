#include "accesscheck.h"
#include "cgirunner.h"
#include "hostnamecache.h"
#include "rawclient.h"
#include "requestlimits.h"
#include "servlane.h"
#include "testsite.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

QByteArray basic(const QByteArray& pair)
{
    return "Authorization: Basic " + pair.toBase64() + "\r\n";
}

} // namespace

// CGI programs, exec tags, server variables in the child's environment and
// Basic authentication of protected folders, over real TCP connections.
class TestCgiAuth : public SiteTestCase {
    Q_OBJECT

private:
    QStringList m_events;
    QStringList m_log;

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        m_events.clear();
        m_log.clear();
        servlane::RequestLimits limits;
        limits.maxCgiOutput = 64 * 1024;
        limits.lingerMs = 300;
        m_site = std::make_unique<TestSite>(limits);
        m_server = m_site->server.get();
        writeFile(root() + QStringLiteral("/index.html"), "<p>home</p>");
        writeFile(root() + QStringLiteral("/images/logo.gif"), "GIF89a");
        m_server->setServerName(QStringLiteral("box"));
        m_server->setMaxConnections(8);
        m_server->setCGIDirectory(m_site->file(QStringLiteral("scripts")));
        connect(m_server, &Servlane::LogEvent, this, [this](const QString& e) { m_events << e; });
        connect(m_server, &Servlane::HTTPLog, this, [this](const QString& l) { m_log << l; });
    }

    void cleanup()
    {
        m_site.reset();
        m_server = nullptr;
    }

    // ---- CGI --------------------------------------------------------------

    // REMOTE_HOST's look-up. First here, so that Qt's own cache has not yet
    // seen the address: a server that goes away while its look-ups are out
    // lets go of them (the sanitizer build checks that nothing is left
    // behind); then an answer is waited for and kept.
    void hostNameLookUps()
    {
        for (int i = 0; i < 10; ++i) {
            auto gone = std::make_unique<servlane::HostNameCache>();
            gone->prefetch(QStringLiteral("127.0.0.1"));
        }
        QTest::qWait(200); // the answers come to no one

        servlane::HostNameCache cache;
        bool done = false;
        cache.resolve(QStringLiteral("127.0.0.1"), 5000, this, [&done] { done = true; });
        QTRY_VERIFY_WITH_TIMEOUT(done, 6000);
        QVERIFY(!cache.cached(QStringLiteral("127.0.0.1")).isEmpty());
        cache.resolve(QStringLiteral("not an address"), 5000, this, [] {});
        QCOMPARE(cache.cached(QStringLiteral("not an address")), QStringLiteral("Unknown"));
    }

    void cgiOutputArrivesWhole()
    {
        // More than the 1024 bytes one read of the pipe once took.
        writeFile(root() + QStringLiteral("/cgi/big.exe"),
                  "#!/bin/sh\nhead -c 3000 /dev/zero | tr '\\0' x\n", true);
        m_server->setCGIEnable(true);
        start();
        const auto r = RawClient::get(m_port, "/cgi/big.exe");
        QCOMPARE(r.status(), 200);
        QCOMPARE(r.body(), QByteArray(3000, 'x'));
        QCOMPARE(r.headerValue("Content-Length"), QByteArray("3000"));
        QCOMPARE(r.headerValue("Content-Type"), QByteArray("application/mime"));
        QVERIFY(m_log.last().contains(QStringLiteral("\"/cgi/big.exe\" 200 ")));
    }

    void environmentIsTheTableOnly()
    {
        writeFile(root() + QStringLiteral("/env.exe"), "#!/bin/sh\nenv\n", true);
        m_server->setCGIEnable(true);
        start();
        const auto r =
            RawClient::get(m_port, "/env.exe?room=Den&x=1",
                           "Proxy: http://evil:1/\r\nUser-Agent: T/1\r\n" + basic("bob:pw"));
        QCOMPARE(r.status(), 200);
        const QByteArray env = r.body();
        for (const char* line :
             {"QUERY_STRING=room=Den&x=1", "REQUEST_METHOD=GET", "GATEWAY_INTERFACE=CGI/1.1",
              "SCRIPT_NAME=env.exe", "REMOTE_ADDR=127.0.0.1", "SERVER_NAME=box",
              "SERVER_PROTOCOL=HTTP/1.0", "HTTP_USER_AGENT=T/1", "REMOTE_USER=bob",
              "AUTH_TYPE=Basic", "DOCUMENT_URI=/env.exe"})
            QVERIFY2(env.contains(QByteArray("\n") + line + "\n") ||
                         env.startsWith(QByteArray(line) + "\n"),
                     line);
        QVERIFY(env.contains("\nREMOTE_HOST="));
        QVERIFY(!env.contains("REMOTE_HOST=\n"));
        if (qgetenv("HTTP_PROXY").isEmpty())
            QVERIFY2(!env.contains("HTTP_PROXY="), "a request header became a variable");
        // Our own environment is left as it was.
        QVERIFY(qgetenv("QUERY_STRING").isEmpty());
    }

    void postBodyGoesToStandardInput()
    {
        writeFile(root() + QStringLiteral("/echo.exe"), "#!/bin/sh\ncat\n", true);
        m_server->setCGIEnable(true);
        start();
        const auto r = RawClient::exchange(
            m_port, {"POST /echo.exe HTTP/1.0\r\nContent-Length: 9\r\n\r\nlamp=on&x"});
        QCOMPARE(r.body(), QByteArray("lamp=on&x"));
    }

    void timeouts()
    {
        writeFile(root() + QStringLiteral("/slow.exe"), "#!/bin/sh\nsleep 1\necho done\n", true);
        writeFile(root() + QStringLiteral("/hang.exe"), "#!/bin/sh\necho early\nexec sleep 30\n",
                  true);
        m_server->setCGIEnable(true);
        m_server->setCGITimeout(0); // no limit: waits for the end
        start();
        QCOMPARE(RawClient::get(m_port, "/slow.exe").body(), QByteArray("done\n"));
        QVERIFY(m_events.isEmpty());

        m_server->setCGITimeout(1);
        QElapsedTimer t;
        t.start();
        const auto r = RawClient::get(m_port, "/hang.exe");
        QVERIFY2(t.elapsed() < 4000, "the program was stopped at its time-out");
        QCOMPARE(r.status(), 200);
        QCOMPARE(r.body(), QByteArray("early\n"));
        QCOMPARE(m_events.size(), 1);
        QVERIFY(m_events[0].startsWith(QStringLiteral("Error - SendWebPage. [504] ")));
    }

    void programsFromTheScriptFolderAndFailures()
    {
        writeFile(m_site->file(QStringLiteral("scripts/Tool.exe")), "#!/bin/sh\necho tool\n", true);
        writeFile(root() + QStringLiteral("/plain.exe"), "not a program", false);
        m_server->setCGIEnable(true);
        start();
        // Not under the document root: taken from CGIDirectory, any case.
        QCOMPARE(RawClient::get(m_port, "/x/tool.exe").body(), QByteArray("tool\n"));
        auto r = RawClient::get(m_port, "/none.exe");
        QVERIFY(r.body().contains("HTTP 404: File Not Found"));
        r = RawClient::get(m_port, "/plain.exe");
        QCOMPARE(r.status(), 200);
        QVERIFY2(r.body().startsWith("Create::Process Failed.<BR>\r\nError Desc: "), r.bytes);
        QVERIFY(r.body().contains("<BR>\r\nError Number: "));
        // Without CGI the file is just a file.
        m_server->setCGIEnable(false);
        QCOMPARE(RawClient::get(m_port, "/plain.exe").body(), QByteArray("not a program"));
    }

    void execTagsRunThroughTheSameRunner()
    {
        writeFile(root() + QStringLiteral("/cgi/lines.exe"), "#!/bin/sh\nprintf 'a\\r\\nb'\n",
                  true);
        writeFile(m_site->file(QStringLiteral("scripts/stamp")), "#!/bin/sh\necho -n s\n", true);
        writeFile(root() + QStringLiteral("/page.html"),
                  "<p><!--#exec cgi=\"/cgi/lines.exe\" --></p><!--#exec cmd=\"stamp\" -->"
                  "<!--#exec cmd=\"nothing-here\" -->|<!--#echo var=\"SERVER_NAME\"-->");
        m_server->setSSIEnable(true);
        start();
        const QByteArray body = RawClient::get(m_port, "/page.html").body();
        QVERIFY2(body.startsWith("<p>a<br>b</p>s"), body);
        QVERIFY(body.contains("Create::Process Failed."));
        QVERIFY(body.endsWith("|box"));
    }

    void outputFloodIsCut()
    {
        writeFile(root() + QStringLiteral("/flood.exe"), "#!/bin/sh\nexec yes\n", true);
        m_server->setCGIEnable(true);
        start();
        const auto r = RawClient::exchange(m_port, {"GET /flood.exe HTTP/1.0\r\n\r\n"}, 0, 10'000);
        QCOMPARE(r.status(), 200);
        QCOMPARE(r.body().size(), 64 * 1024); // the cap of this test
        QVERIFY(m_events.last().startsWith(QStringLiteral("Error - SendWebPage. [507] ")));
    }

    void commandLineRule()
    {
        QCOMPARE(
            servlane::CgiRunner::argumentsFor(QStringLiteral("RUN.BAT"), QStringLiteral("a  b")),
            (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
        QCOMPARE(servlane::CgiRunner::argumentsFor(QStringLiteral("run.exe"), QStringLiteral("a")),
                 QStringList());
        QCOMPARE(servlane::CgiRunner::timeoutMs(0), 0);
        QCOMPARE(servlane::CgiRunner::timeoutMs(2'000'000'000), 2'000'000'000);
    }

    // ---- authentication ---------------------------------------------------

    void protectedFolder_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<int>("status");
        QTest::newRow("no login") << QByteArray("/index.html") << QByteArray() << 401;
        QTest::newRow("right login") << QByteArray("/index.html") << basic("bob:secret") << 200;
        QTest::newRow("other case") << QByteArray("/index.html") << basic("BOB:SeCrEt") << 200;
        QTest::newRow("empty password") << QByteArray("/index.html") << basic("bob:") << 401;
        QTest::newRow("no colon") << QByteArray("/index.html") << basic("bob") << 401;
        QTest::newRow("prefix password") << QByteArray("/index.html") << basic("bob:secr") << 401;
        QTest::newRow("longer password")
            << QByteArray("/index.html") << basic("bob:secrets") << 401;
        QTest::newRow("part of the user") << QByteArray("/index.html") << basic("ob:secret") << 401;
        QTest::newRow("realm line as login")
            << QByteArray("/index.html") << basic("realm:Home Control") << 401;
        QTest::newRow("bad base64")
            << QByteArray("/index.html") << QByteArray("Authorization: Basic %%%==\r\n") << 401;
        QTest::newRow("folder without access file")
            << QByteArray("/images/logo.gif") << QByteArray() << 200;
    }
    void protectedFolder()
    {
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, headers);
        QFETCH(int, status);
        writeFile(root() + QStringLiteral("/HTACCESS.TXT"), "realm:Home Control\r\nbob:secret\r\n");
        m_server->setAuthenticationSource(Servlane::DirectoryFile);
        start();
        const auto r = RawClient::get(m_port, target, headers);
        QCOMPARE(r.status(), status);
        if (status == 401) {
            QVERIFY(r.bytes.startsWith("HTTP/1.0 401 Unauthorized\r\n"));
            QVERIFY2(r.bytes.endsWith("\r\nWWW-Authenticate: Basic realm=box Home Control\r\n\r\n"),
                     r.bytes);
            QVERIFY(r.headerValue("Content-Length").isEmpty());
            QVERIFY(m_log.last().contains(QStringLiteral("\"/index.html\" 401 ")));
        }
    }

    void realmIsTheServerNameAndFoldersSpellTheHeaderTheirWay()
    {
        writeFile(root() + QStringLiteral("/sub/htaccess.txt"), "bob:secret\r\n");
        m_server->setAuthenticationSource(Servlane::DirectoryFile);
        m_server->setDirectoryBrowseEnable(true);
        start();
        auto r = RawClient::get(m_port, "/sub/htaccess.txt", basic("bob:secret"));
        QVERIFY(r.body().contains("HTTP 404")); // never served, login or not
        r = RawClient::get(m_port, "/sub");
        QCOMPARE(r.status(), 401);
        QVERIFY2(r.bytes.endsWith("\r\nWWW-authenticate: Basic realm=box\r\n\r\n"), r.bytes);
        r = RawClient::get(m_port, "/sub/", basic("bob:secret"));
        QCOMPARE(r.status(), 200);
        QVERIFY(r.body().contains("Directory Listing: box - /sub/"));
    }

    void globalFileSource()
    {
        writeFile(root() + QStringLiteral("/htaccess.txt"), "anything\r\n");
        m_server->setAuthenticationSource(Servlane::GolbalFile);
        m_server->setAuthenticationSourceFile(m_site->file(QStringLiteral("missing.txt")));
        start();
        QCOMPARE(RawClient::get(m_port, "/index.html", basic("bob:secret")).status(), 401);
        writeFile(m_site->file(QStringLiteral("logins.txt")), "ann:pw1\r\nbob:secret\r\n");
        m_server->setAuthenticationSourceFile(m_site->file(QStringLiteral("logins.txt")));
        QCOMPARE(RawClient::get(m_port, "/index.html", basic("bob:secret")).status(), 200);
        QCOMPARE(RawClient::get(m_port, "/index.html", basic("ann:pw1")).status(), 200);
        QCOMPARE(RawClient::get(m_port, "/index.html", basic("ann:secret")).status(), 401);
        m_server->setAuthenticationSource(Servlane::LocalACL); // no store: nobody gets in
        QCOMPARE(RawClient::get(m_port, "/index.html", basic("bob:secret")).status(), 401);
    }

    void hostAnsweredPagesNeedNoLogin()
    {
        writeFile(root() + QStringLiteral("/htaccess.txt"), "bob:secret\r\n");
        m_server->setAuthenticationSource(Servlane::DirectoryFile);
        m_server->setTrapFileEnable(true);
        m_server->setTrapFileTypes(QStringLiteral("html"));
        bool process = false;
        QString credentials;
        connect(m_server, &Servlane::FileRequest, this,
                [&](int i, const QString&, const QString& user) {
                    credentials = user;
                    m_server->TrapFileData(i, QStringLiteral("built"), process);
                });
        start();
        QCOMPARE(RawClient::get(m_port, "/index.html").body(), QByteArray("built"));
        // Handed back to the server, the page needs the login like any file.
        process = true;
        QCOMPARE(RawClient::get(m_port, "/index.html").status(), 401);
        QCOMPARE(RawClient::get(m_port, "/index.html", basic("bob:secret")).body(),
                 QByteArray("<p>home</p>"));
        QCOMPARE(credentials, QStringLiteral("bob:secret"));
    }

    void credentialLines_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("pair");
        QTest::addColumn<bool>("match");
        QTest::newRow("whole line")
            << QByteArray("bob:secret\r\n") << QByteArray("bob:secret") << true;
        QTest::newRow("no line end")
            << QByteArray("bob:secret") << QByteArray("bob:secret") << true;
        QTest::newRow("second line")
            << QByteArray("a:b\nbob:secret\n") << QByteArray("bob:secret") << true;
        QTest::newRow("inside a longer line")
            << QByteArray("xbob:secretx\r\n") << QByteArray("bob:secret") << false;
        QTest::newRow("across lines")
            << QByteArray("bob:\r\nsecret\r\n") << QByteArray("bob:\r\nsecret") << false;
        QTest::newRow("realm line") << QByteArray("realm:x\r\n") << QByteArray("realm:x") << false;
        QTest::newRow("empty text") << QByteArray() << QByteArray(":") << false;
    }
    void credentialLines()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, pair);
        QTEST(servlane::AccessCheck::credentialsMatch(text, pair), "match");
    }
};

QTEST_GUILESS_MAIN(TestCgiAuth)
#include "tst_cgiauth.moc"
