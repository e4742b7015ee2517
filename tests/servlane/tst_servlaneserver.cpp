#include "rawclient.h"
#include "requestlimits.h"
#include "servlane.h"
#include "testsite.h"

#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <vector>

namespace {

struct Trap {
    int index = 0;
    QString fileName;
    QString credentials;
};

} // namespace

// Real TCP clients against a server on 127.0.0.1 and an ephemeral port.
class TestServlaneServer : public SiteTestCase {
    Q_OBJECT

private:
    QStringList m_log;
    QStringList m_events;
    QList<Trap> m_traps;

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        m_log.clear();
        m_events.clear();
        m_traps.clear();
        servlane::RequestLimits limits;
        limits.headTimeoutMs = 600;
        limits.bodyTimeoutMs = 1500;
        limits.hostAnswerTimeoutMs = 800;
        limits.lingerMs = 300;
        m_site = std::make_unique<TestSite>(limits);
        m_server = m_site->server.get();
        writeFile(root() + QStringLiteral("/default.htm"), "<p>default</p>");
        writeFile(root() + QStringLiteral("/a.htm"), "<p>a</p>");
        writeFile(root() + QStringLiteral("/page.html"), "<p>page</p>");
        writeFile(root() + QStringLiteral("/Logo.GIF"), "GIF89a");
        writeFile(root() + QStringLiteral("/sub/file.txt"), QByteArray(500, 'x'));
        writeFile(m_site->file(QStringLiteral("secret.txt")), "outside");
        m_server->setServerName(QStringLiteral("box"));
        m_server->setIndexPageNames(QStringLiteral("index.html, default.htm"));
        m_server->setMaxConnections(8);
        connect(m_server, &Servlane::HTTPLog, this, [this](const QString& l) { m_log << l; });
        connect(m_server, &Servlane::LogEvent, this, [this](const QString& e) { m_events << e; });
        connect(m_server, &Servlane::FileRequest, this,
                [this](int i, const QString& f, const QString& c) {
                    m_traps << Trap{i, f, c};
                });
    }

    void cleanup()
    {
        m_site.reset();
        m_server = nullptr;
    }

    void servesFileWithTypeAndAccessLog()
    {
        start();
        const auto r =
            RawClient::get(m_port, "/logo.gif", "Referer: http://r/\r\nUser-Agent: T/1\r\n");
        QCOMPARE(r.status(), 200);
        QVERIFY(r.closedByServer);
        QCOMPARE(r.headerValue("Content-Type"), QByteArray("image/gif"));
        QCOMPARE(r.headerValue("Content-Length"), QByteArray("6"));
        QCOMPARE(r.headerValue("Server"), QByteArray("Orbrook Servlane/1.1"));
        QCOMPARE(r.body(), QByteArray("GIF89a"));
        const QString line = m_log.last();
        QVERIFY2(line.startsWith(QStringLiteral("127.0.0.1 - - [")), qPrintable(line));
        QVERIFY2(line.endsWith(QStringLiteral("] \"/logo.gif\" 200 ") +
                               QString::number(r.bytes.size()) +
                               QStringLiteral(" \"http://r/\" \"T/1\"")),
                 qPrintable(line));
        QCOMPARE(m_server->Stats_Requests(), QStringLiteral("1"));
    }

    // A property set while the server runs decides the very next answer.
    void propertyChangedWhileRunning_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QString>("property");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("ServerSoftware")
            << QByteArray("/logo.gif") << "ServerSoftware" << QVariant(QStringLiteral("Renamed/2"))
            << QByteArray("Server: Orbrook Servlane/1.1") << QByteArray("Server: Renamed/2");
        QTest::newRow("IndexPageNames")
            << QByteArray("/") << "IndexPageNames" << QVariant(QStringLiteral("a.htm"))
            << QByteArray("<p>default</p>") << QByteArray("<p>a</p>");
        QTest::newRow("DirectoryBrowseEnable")
            << QByteArray("/sub/") << "DirectoryBrowseEnable" << QVariant(true)
            << QByteArray("HTTP/1.0 403") << QByteArray("Directory Listing: box - /sub/");
        QTest::newRow("VerboseErrorsEnable")
            << QByteArray("/missing.html") << "VerboseErrorsEnable" << QVariant(false)
            << QByteArray("<title>HTTP Error 404</title>") << QByteArray("HTTP/1.0 404");
    }
    void propertyChangedWhileRunning()
    {
        QFETCH(QByteArray, target);
        QFETCH(QString, property);
        QFETCH(QVariant, value);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        start();
        QVERIFY(RawClient::get(m_port, target).bytes.contains(before));
        QVERIFY(m_server->setProperty(property.toLatin1().constData(), value));
        const QByteArray answer = RawClient::get(m_port, target).bytes;
        QVERIFY2(answer.contains(after), answer.constData());
        QVERIFY2(!answer.contains(before), answer.constData());
    }

    void indexPageFallsBackInOrder()
    {
        m_server->setTrapFileEnable(true);
        m_server->setTrapFileTypes(QStringLiteral("html,htm"));
        start();
        connect(m_server, &Servlane::FileRequest, this,
                [this](int i) { m_server->TrapFileData(i, QStringLiteral("hello"), false); });
        const auto r = RawClient::get(m_port, "/");
        QCOMPARE(m_traps.size(), 1);
        QCOMPARE(m_traps[0].fileName, QStringLiteral("/default.htm"));
        QCOMPARE(r.body(), QByteArray("hello"));
        // A page answered by the host writes no access-log line.
        QVERIFY(!m_log.last().contains(QStringLiteral("default.htm")));
    }

    void trapTest_data()
    {
        QTest::addColumn<QString>("types");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<bool>("trapped");
        QTest::newRow("html trapped") << "html,htm" << QByteArray("/page.html") << true;
        QTest::newRow("htm trapped") << "html, htm" << QByteArray("/A.HTM") << true;
        QTest::newRow("gif served") << "html,htm" << QByteArray("/logo.gif") << false;
        QTest::newRow("no dot served") << "html,htm" << QByteArray("/sub") << false;
        QTest::newRow("blank traps gif") << "" << QByteArray("/logo.gif") << true;
        QTest::newRow("blank traps missing") << " " << QByteArray("/none.png") << true;
    }
    void trapTest()
    {
        QFETCH(QString, types);
        QFETCH(QByteArray, target);
        QFETCH(bool, trapped);
        m_server->setTrapFileEnable(true);
        m_server->setTrapFileTypes(types);
        start();
        connect(m_server, &Servlane::FileRequest, this,
                [this](int i) { m_server->TrapFileData(i, QStringLiteral("host"), false); });
        const auto r = RawClient::get(m_port, target);
        QCOMPARE(m_traps.size(), trapped ? 1 : 0);
        QCOMPARE(r.body() == "host", trapped);
        if (trapped)
            QCOMPARE(m_traps[0].fileName, QString::fromLatin1(target));
    }

    void hostAnswers_data()
    {
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("header");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("header without line end")
            << "abc"
            << "201"
            << "X-Lamp: on"
            << QByteArray("HTTP/1.0 201 Created\r\nServer: Orbrook Servlane/1.1\r\nDate: D\r\n"
                          "Content-Type: text/plain\r\nX-Lamp: on\r\nContent-Length: 3\r\n\r\nabc");
        QTest::newRow("header with blank line, bad status")
            << "abc"
            << "2000"
            << "X-A: 1\r\nX-B: 2\r\n\r\n"
            << QByteArray("HTTP/1.0 200 OK\r\nServer: Orbrook Servlane/1.1\r\nDate: D\r\n"
                          "Content-Type: text/plain\r\nX-A: 1\r\nX-B: 2\r\nContent-Length: 3\r\n"
                          "\r\nabc");
        QTest::newRow("empty data has no length")
            << ""
            << "999"
            << ""
            << QByteArray("HTTP/1.0 999 Undefined Status Code\r\nServer: Orbrook Servlane/1.1\r\n"
                          "Date: D\r\nContent-Type: text/plain\r\n\r\n");
    }
    void hostAnswers()
    {
        QFETCH(QString, data);
        QFETCH(QString, status);
        QFETCH(QString, header);
        m_server->setTrapFileEnable(true);
        start();
        connect(m_server, &Servlane::FileRequest, this, [&](int i) {
            m_server->TrapFileDataEX(i, data, false, QStringLiteral("text/plain"), status, header);
        });
        const auto r = RawClient::get(m_port, "/x.html");
        const QByteArray bytes = QString::fromLatin1(r.bytes)
                                     .replace(QRegularExpression(QStringLiteral("Date: [^\\r]*")),
                                              QStringLiteral("Date: D"))
                                     .toLatin1();
        QTEST(bytes, "expected");
    }

    void hostAnswersLater()
    {
        m_server->setTrapFileEnable(true);
        m_server->setTrapFileTypes(QStringLiteral("html"));
        start();
        connect(m_server, &Servlane::FileRequest, this, [this](int i) {
            // The host awaits something first; the connection stays open.
            QTimer::singleShot(150, this, [this, i] {
                QCOMPARE(m_server->QueryString(i, QStringLiteral("room")), QStringLiteral("Den"));
                m_server->TrapFileData(i, QStringLiteral("later"), false);
            });
        });
        const auto r = RawClient::get(m_port, "/index.html?room=Den&x=1");
        QCOMPARE(r.status(), 200);
        QCOMPARE(r.body(), QByteArray("later"));
        // A second answer for the same index is ignored, the server stays up.
        m_server->TrapFileData(m_traps[0].index, QStringLiteral("again"), false);
        QCOMPARE(RawClient::get(m_port, "/logo.gif").status(), 200);
    }

    void hostHandsRequestBack()
    {
        m_server->setTrapFileEnable(true);
        start();
        connect(m_server, &Servlane::FileRequest, this,
                [this](int i) { m_server->TrapFileData(i, QString(), true); });
        const auto r = RawClient::get(m_port, "/page.html");
        QCOMPARE(r.body(), QByteArray("<p>page</p>"));
        QVERIFY(m_log.last().contains(QStringLiteral("\"/page.html\" 200")));
    }

    void hostThatNeverAnswersGets503()
    {
        m_server->setTrapFileEnable(true);
        start();
        const auto r = RawClient::get(m_port, "/x.html");
        QCOMPARE(r.status(), 503);
        QCOMPARE(m_events.size(), 1);
        QVERIFY(m_events[0].startsWith(QStringLiteral("Error - SendWebPage. [503] ")));
        QCOMPARE(m_server->Stats_Errors(), QStringLiteral("1"));
        // The late answer is dropped; the slot serves the next client.
        m_server->TrapFileData(m_traps[0].index, QStringLiteral("late"), false);
        m_server->setTrapFileEnable(false);
        QCOMPARE(RawClient::get(m_port, "/a.htm").body(), QByteArray("<p>a</p>"));
    }

    void requestInformation()
    {
        m_server->setTrapFileEnable(true);
        start();
        QString all, b, header, whole, agent, method;
        int count = -1;
        connect(m_server, &Servlane::FileRequest, this, [&](int i) {
            all = m_server->QueryString(i, QStringLiteral(" "));
            b = m_server->QueryString(i, QStringLiteral("b"));
            count = m_server->QueryStringCount(i, QStringLiteral("a"));
            header = m_server->HTTPHeader(i, QStringLiteral("host"));
            whole = m_server->HTTPHeader(i);
            agent = m_server->CGIValue(i, QStringLiteral("HTTP_USER_AGENT"));
            method = m_server->CGIValue(i, QStringLiteral("REQUEST_METHOD"));
            m_server->TrapFileData(i, QStringLiteral("ok"), false);
        });
        RawClient::exchange(m_port, {"GET /Host/x.html?a=1&b=2&ba=3 HTTP/1.0\r\n"
                                     "User-Agent: Agent/2\r\nHost: box\r\n\r\n"});
        QCOMPARE(all, QStringLiteral("a=1&b=2&ba=3"));
        QCOMPARE(b, QStringLiteral("2"));
        QCOMPARE(count, 2);
        QCOMPARE(header, QStringLiteral("box"));
        QVERIFY(whole.startsWith(QStringLiteral("GET /Host/x.html")));
        QVERIFY(whole.endsWith(QStringLiteral("Host: box\r\n\r\n")));
        QCOMPARE(agent, QStringLiteral("Agent/2"));
        QCOMPARE(method, QStringLiteral("GET"));
        QCOMPARE(m_traps[0].credentials, QString());
    }

    void postBodyInThreeChunks()
    {
        m_server->setTrapFileEnable(true);
        start();
        QString body, method;
        connect(m_server, &Servlane::FileRequest, this, [&](int i) {
            body = m_server->QueryString(i, QString());
            method = m_server->CGIValue(i, QStringLiteral("REQUEST_METHOD"));
            m_server->TrapFileData(i, QStringLiteral("ok"), false);
        });
        const auto r = RawClient::exchange(
            m_port,
            {"POST /form.html HTTP/1.0\r\nContent-Length: 17\r\n\r\nroom=", "Den&lam", "p=on\r\n"},
            50);
        QCOMPARE(r.body(), QByteArray("ok"));
        QCOMPARE(method, QStringLiteral("POST"));
        QCOMPARE(body, QStringLiteral("room=Den&lamp=on\r"));
    }

    // A client that holds its body until it is told to go on is told so
    // at once, then answered as usual.
    void postHoldingItsBodyIsToldToGoOn()
    {
        m_server->setTrapFileEnable(true);
        start();
        QString body;
        connect(m_server, &Servlane::FileRequest, this, [&](int i) {
            body = m_server->QueryString(i, QString());
            m_server->TrapFileData(i, QStringLiteral("ok"), false);
        });
        QTcpSocket client;
        QByteArray reply;
        connect(&client, &QTcpSocket::readyRead, this, [&] { reply += client.readAll(); });
        client.connectToHost(QHostAddress::LocalHost, m_port);
        client.write("POST /form.html HTTP/1.1\r\nHost: b\r\nContent-Length: 9\r\n"
                     "Expect: 100-continue\r\n\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(reply, QByteArray("HTTP/1.1 100 Continue\r\n\r\n"), 3000);
        client.write("lamp=on\r\n");
        QTRY_VERIFY(reply.endsWith("ok"));
        QCOMPARE(body, QStringLiteral("lamp=on\r\n"));
    }

    void postAnnouncingZeroIsAGet()
    {
        m_server->setTrapFileEnable(true);
        start();
        QString query;
        connect(m_server, &Servlane::FileRequest, this, [&](int i) {
            query = m_server->QueryString(i, QString());
            m_server->TrapFileData(i, QString(), true);
        });
        const auto r =
            RawClient::exchange(m_port, {"POST /a.htm?x=1 HTTP/1.0\r\nContent-Length: 0\r\n\r\n"});
        QCOMPARE(query, QStringLiteral("x=1"));
        QCOMPARE(r.body(), QByteArray("<p>a</p>"));
    }

    void postWithoutLengthGetsErrorPage()
    {
        start();
        const auto r = RawClient::exchange(m_port, {"POST /a.htm HTTP/1.0\r\nHost: b\r\n\r\n"});
        QCOMPARE(r.status(), 400);
        QVERIFY(r.body().contains("HTTP Error 400"));
    }

    void oddTargets()
    {
        start();
        // No "/" in the target: nothing is sent, and the slot is not held.
        auto r = RawClient::exchange(m_port, {"GET x HTTP/1.0\r\n\r\n"}, 0, 2000);
        QVERIFY(r.bytes.isEmpty());
        QVERIFY(r.closedByServer);
        // No space after the target: the target is empty, nothing is sent.
        r = RawClient::exchange(m_port, {"GET /a.htm\r\n\r\n"}, 0, 2000);
        QVERIFY(r.bytes.isEmpty());
        // An absolute target is served by its path.
        r = RawClient::get(m_port, "http://elsewhere/a.htm");
        QCOMPARE(r.body(), QByteArray("<p>a</p>"));
        QVERIFY(m_log.last().contains(QStringLiteral("\"http://elsewhere/a.htm\" 200")));
    }

    void missingPageIs404Page()
    {
        start();
        auto r = RawClient::get(m_port, "/nothing.html");
        QCOMPARE(r.status(), 404);
        QVERIFY(r.body().contains("HTTP 404: File Not Found"));
        QVERIFY(m_log.last().contains(QStringLiteral("\"/nothing.html\" 404 ")));
        // Without verbose errors: the header alone, with the real code.
        m_server->setVerboseErrorsEnable(false);
        r = RawClient::exchange(m_port, {"POST /a.htm HTTP/1.0\r\n\r\n"});
        QCOMPARE(r.status(), 400);
        QVERIFY(r.body().isEmpty());
    }

    void errorFiles()
    {
        writeFile(m_site->file(QStringLiteral("html/errors/http404.html")), "my 404");
        m_server->setErrorFilesEnable(true);
        start();
        const auto r = RawClient::get(m_port, "/nothing.html");
        QCOMPARE(r.status(), 404);
        QCOMPARE(r.body(), QByteArray("my 404"));
    }

    void directoryListing()
    {
        writeFile(root() + QStringLiteral("/sub/mid.bin"), QByteArray(1536, 'x'));
        writeFile(root() + QStringLiteral("/sub/inner dir/x.txt"), "x");
        {
            QFile big(root() + QStringLiteral("/sub/big.bin")); // sparse: no 5 MB written
            QVERIFY(big.open(QIODevice::WriteOnly));
            QVERIFY(big.resize(5 * 1024 * 1024));
        }
        m_server->setDirectoryBrowseEnable(true);
        start();
        // The root has an index page, so list a folder without one.
        auto r = RawClient::get(m_port, "/sub/");
        QCOMPARE(r.status(), 200);
        const QByteArray page = r.body();
        QVERIFY(page.startsWith("<html>\r\n<head>\r\n"));
        QVERIFY(page.contains("   <title>Directory Listing: box - /sub/</title>"));
        QVERIFY(page.contains("   <tr><td><a href = /"));
        QVERIFY(page.contains("       <td align=\"right\">500 bytes&nbsp;</td>"));
        QVERIFY(page.contains("       <td align=\"right\">1.50KB&nbsp;</td>"));
        QVERIFY(page.contains("       <td align=\"right\">5.00MB&nbsp;</td>"));
        QVERIFY(page.contains("<a href = /sub/inner%20dir>inner dir</a></td>\r\n"
                              "       <td align=\"right\">&lt;dir&gt;&nbsp;</td>"));
        QVERIFY(page.endsWith("</table>\r\n</html>"));
        // The listing's own links lead somewhere.
        QCOMPARE(RawClient::get(m_port, "/sub/inner%20dir/x.txt").body(), QByteArray("x"));

        // The root: no parent row, and the access file is never listed.
        QFile::remove(root() + QStringLiteral("/default.htm"));
        writeFile(root() + QStringLiteral("/htaccess.txt"), "bob:secret\r\n");
        m_server->setAuthenticationSource(Servlane::DirectoryFile);
        m_server->StopServer(); // a new access file counts from the next start at the latest
        start();
        r = RawClient::get(m_port, "/",
                           "Authorization: Basic " + QByteArray("bob:secret").toBase64() + "\r\n");
        QVERIFY(r.body().contains("Directory Listing: box - /<"));
        QVERIFY(!r.body().contains("[Parent Directory]"));
        QVERIFY(!r.body().contains("htaccess"));
        QVERIFY(r.body().contains("<a href = /sub>sub</a>"));
    }

    void functionTagsAskTheHost()
    {
        writeFile(root() + QStringLiteral("/f.html"),
                  "<b><%= Function Lamp %></b><!--#echo var=\"SERVER_NAME\"-->");
        m_server->setHTMLFunctionsEnable(true);
        m_server->setSSIEnable(true);
        start();
        connect(m_server, &Servlane::CallFunction, this, [this](int i, const QString& name) {
            m_server->ReturnData(i, name + QStringLiteral(" is on"));
        });
        QCOMPARE(RawClient::get(m_port, "/f.html").body(), QByteArray("<b>Lamp is on</b>box"));
    }

    void traversalIsRefused_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<int>("status");
        QTest::newRow("dotdot") << QByteArray("/../secret.txt") << 403;
        QTest::newRow("encoded dotdot") << QByteArray("/%2e%2e/secret.txt") << 403;
        QTest::newRow("backslash") << QByteArray("/..\\secret.txt") << 403;
        QTest::newRow("encoded slash") << QByteArray("/sub%2f..%2f..%2fsecret.txt") << 403;
        QTest::newRow("half escapes") << QByteArray("/%2.%2./secret.txt") << 400;
        QTest::newRow("absolute url dotdot") << QByteArray("http://h/../secret.txt") << 403;
        QTest::newRow("symlink out") << QByteArray("/out.txt") << 403;
        QTest::newRow("encoded NUL") << QByteArray("/a.htm%00.gif") << 400;
    }
    void traversalIsRefused()
    {
        QFETCH(QByteArray, target);
        QVERIFY(QFile::link(m_site->file(QStringLiteral("secret.txt")),
                            root() + QStringLiteral("/out.txt")));
        start();
        const auto r = RawClient::get(m_port, target);
        QTEST(r.status(), "status");
        QVERIFY(!r.bytes.contains("outside"));
        QVERIFY(m_log.last().contains(QString::number(r.status())));
    }

    void malformedRequestLines_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        QTest::newRow("raw control byte") << QByteArray("GET /a\x01.htm HTTP/1.0\r\n\r\n") << 400;
        QTest::newRow("raw NUL") << QByteArray("GET /a.htm") + QByteArray(1, '\0') +
                                        " HTTP/1.0\r\n\r\n"
                                 << 400;
        QTest::newRow("escaped DEL") << QByteArray("GET /a%7f.htm HTTP/1.0\r\n\r\n") << 400;
        QTest::newRow("70 header lines") << QByteArray("GET /a.htm HTTP/1.0\r\n") +
                                                QByteArray("X-A: 1\r\n").repeated(70) + "\r\n"
                                         << 431;
        QTest::newRow("9 KiB header block")
            << QByteArray("GET /a.htm HTTP/1.0\r\nX-Big: ") + QByteArray(9000, 'b') + "\r\n\r\n"
            << 431;
        QTest::newRow("two lengths")
            << QByteArray("POST /a.htm HTTP/1.0\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\n"
                          "abcd")
            << 400;
    }
    void malformedRequestLines()
    {
        QFETCH(QByteArray, request);
        start();
        const auto r = RawClient::exchange(m_port, {request});
        QTEST(r.status(), "status");
        QVERIFY(r.closedByServer);
        // The server is unharmed and answers the next client.
        QCOMPARE(RawClient::get(m_port, "/a.htm").body(), QByteArray("<p>a</p>"));
    }

    void absolutePathsStayInsideTheRoot()
    {
        writeFile(root() + QStringLiteral("/etc/passwd"), "inside");
        start();
        // "//etc/passwd" names the root's own etc folder, never the system's.
        QCOMPARE(RawClient::get(m_port, "//etc/passwd").body(), QByteArray("inside"));
        const auto r = RawClient::get(m_port, "/" + m_site->path().toLatin1() + "/secret.txt");
        QVERIFY(!r.bytes.contains("outside"));
        QVERIFY(r.body().contains("404"));
    }

    void refusedClientStillReadsItsAnswer()
    {
        start();
        // The client goes on sending a body the server refused: the server
        // half-closes and drains, so the 413 arrives instead of a reset.
        QList<QByteArray> chunks{"POST /a.htm HTTP/1.0\r\nContent-Length: 99999999\r\n\r\n"};
        for (int i = 0; i < 8; ++i)
            chunks << QByteArray(32 * 1024, 'z');
        const auto r = RawClient::exchange(m_port, chunks, 10);
        QCOMPARE(r.status(), 413);
    }

    void largeFileArrivesWhole()
    {
        QByteArray big;
        for (int i = 0; i < 300'000; ++i)
            big += char('a' + i % 26);
        big = big.repeated(10); // 3 MB, more than one write can take
        writeFile(root() + QStringLiteral("/big.txt"), big);
        start();
        const auto r = RawClient::exchange(m_port, {"GET /big.txt HTTP/1.0\r\n\r\n"}, 0, 10'000);
        QCOMPARE(r.headerValue("Content-Length"), QByteArray::number(big.size()));
        QCOMPARE(r.body().size(), big.size());
        QVERIFY(r.body() == big);
    }

    void accessFileIsNeverServed()
    {
        start();
        writeFile(root() + QStringLiteral("/htaccess.txt"), "bob:secret\r\n");
        for (const QByteArray t : {"/htaccess.txt", "/HTACCESS.TXT"}) {
            const auto r = RawClient::get(m_port, t);
            QVERIFY(!r.bytes.contains("secret"));
            QVERIFY(r.body().contains("404"));
        }
    }

    void limitsOverTheWire()
    {
        start();
        auto r = RawClient::get(m_port, "/" + QByteArray(9000, 'a'));
        QCOMPARE(r.status(), 414);
        r = RawClient::exchange(m_port,
                                {"POST /a.htm HTTP/1.0\r\nContent-Length: 99999999\r\n\r\n"});
        QCOMPARE(r.status(), 413);
        // A head trickled byte by byte is cut off by the total deadline.
        QElapsedTimer t;
        t.start();
        QList<QByteArray> trickle;
        for (const char c : QByteArray("GET /a.htm HTTP/1.0\r\nX-Slow: aaaaaaaaaaaaaaaaaaaa"))
            trickle << QByteArray(1, c);
        r = RawClient::exchange(m_port, trickle, 40, 4000);
        QVERIFY(r.closedByServer);
        QVERIFY(r.bytes.isEmpty());
        QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
    }

    void oneSlotServesOneClientAtATime()
    {
        m_server->setMaxConnections(2);
        m_server->setTrapFileEnable(true);
        start();
        QList<int> pending;
        connect(m_server, &Servlane::FileRequest, this, [&](int i) { pending << i; });
        QTcpSocket first, second;
        QByteArray firstReply, secondReply;
        connect(&first, &QTcpSocket::readyRead, this, [&] { firstReply += first.readAll(); });
        connect(&second, &QTcpSocket::readyRead, this, [&] { secondReply += second.readAll(); });
        first.connectToHost(QHostAddress::LocalHost, m_port);
        first.write("GET /one.html HTTP/1.0\r\n\r\n");
        QTRY_COMPARE(pending.size(), 1);
        second.connectToHost(QHostAddress::LocalHost, m_port);
        second.write("GET /two.html HTTP/1.0\r\n\r\n");
        QTest::qWait(200);
        QCOMPARE(pending.size(), 1); // the second waits for the only slot
        QCOMPARE(pending[0], 2);
        m_server->TrapFileData(2, QStringLiteral("first"), false);
        QTRY_COMPARE(pending.size(), 2);
        QCOMPARE(pending[1], 2); // served in the same slot once it was free
        m_server->TrapFileData(2, QStringLiteral("second"), false);
        QTRY_VERIFY(firstReply.endsWith("first") && secondReply.endsWith("second"));
    }

    void answerForALeftClientNeverReachesTheNext()
    {
        m_server->setMaxConnections(2);
        m_server->setTrapFileEnable(true);
        start();
        QList<int> pending;
        connect(m_server, &Servlane::FileRequest, this, [&](int i) { pending << i; });
        {
            QTcpSocket leaving;
            leaving.connectToHost(QHostAddress::LocalHost, m_port);
            leaving.write("GET /one.html HTTP/1.0\r\n\r\n");
            QTRY_COMPARE(pending.size(), 1);
            leaving.abort();
        }
        QTcpSocket next;
        QByteArray reply;
        connect(&next, &QTcpSocket::readyRead, this, [&] { reply += next.readAll(); });
        next.connectToHost(QHostAddress::LocalHost, m_port);
        next.write("GET /two.html HTTP/1.0\r\n\r\n");
        QTest::qWait(200);
        QCOMPARE(pending.size(), 1); // the slot is still owed an answer
        m_server->TrapFileData(2, QStringLiteral("for the first client"), false);
        QTRY_COMPARE(pending.size(), 2);
        m_server->TrapFileData(2, QStringLiteral("for the second"), false);
        QTRY_VERIFY(reply.endsWith("for the second"));
        QVERIFY(!reply.contains("first"));
    }

    void idleConnectionGivesWayToATalkingClient()
    {
        servlane::RequestLimits limits;
        limits.headTimeoutMs = 3000;
        m_server->setRequestLimits(limits);
        m_server->setMaxConnections(2);
        start();
        // The idle connection never takes the only slot: only a complete
        // request does. It is closed by its head deadline.
        QTcpSocket idle;
        idle.connectToHost(QHostAddress::LocalHost, m_port);
        QTRY_VERIFY(idle.state() == QAbstractSocket::ConnectedState);
        QTest::qWait(150);
        QElapsedTimer t;
        t.start();
        QCOMPARE(RawClient::get(m_port, "/a.htm").body(), QByteArray("<p>a</p>"));
        QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
        QTRY_VERIFY_WITH_TIMEOUT(idle.state() == QAbstractSocket::UnconnectedState, 8000);
    }

    void silentConnectionsWaitOutsideTheTable()
    {
        servlane::RequestLimits limits;
        limits.maxConnectionsPerAddress = 2;
        m_server->setRequestLimits(limits);
        start();
        // Connections that have sent nothing are left with the kernel for
        // their first second: with an address's worth of them just opened,
        // a talking client from that address is served and none of them is
        // closed to make room for it. (A slow machine that takes longer than the second
        // tries again.)
        for (int attempt = 0; attempt < 5; ++attempt) {
            QElapsedTimer t;
            t.start();
            std::vector<std::unique_ptr<QTcpSocket>> silent;
            for (int i = 0; i < 2; ++i) {
                silent.push_back(std::make_unique<QTcpSocket>());
                silent.back()->connectToHost(QHostAddress::LocalHost, m_port);
                QVERIFY(silent.back()->waitForConnected(5000));
            }
            QTest::qWait(100);
            QCOMPARE(RawClient::get(m_port, "/a.htm").body(), QByteArray("<p>a</p>"));
            QTest::qWait(100);
            if (t.elapsed() > 800)
                continue;
            for (auto& s : silent)
                QCOMPARE(s->state(), QAbstractSocket::ConnectedState);
            return;
        }
        QSKIP("the machine never managed the steps within a second");
    }

    void idleFloodCannotStarveTalkingClients()
    {
        servlane::RequestLimits limits;
        limits.headTimeoutMs = 20'000; // the deadline alone would take far too long
        m_server->setRequestLimits(limits);
        m_server->setMaxConnections(5); // four slots
        start();
        // One client is part way through its head when the flood comes.
        QTcpSocket partial;
        QByteArray partialReply;
        connect(&partial, &QTcpSocket::readyRead, this, [&] { partialReply += partial.readAll(); });
        partial.connectToHost(QHostAddress::LocalHost, m_port);
        partial.write("GET /a.htm HTTP/1.0\r\n");
        QTRY_VERIFY(partial.state() == QAbstractSocket::ConnectedState);
        QTest::qWait(50);
        // Far more silent connections than slots and waiting places.
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < 60; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->connectToHost(QHostAddress::LocalHost, m_port);
        }
        QTest::qWait(300);
        for (int round = 0; round < 5; ++round) {
            QElapsedTimer t;
            t.start();
            QCOMPARE(RawClient::get(m_port, "/page.html").body(), QByteArray("<p>page</p>"));
            QVERIFY2(t.elapsed() < limits.headTimeoutMs / 4, qPrintable(QString::number(t.elapsed())));
            // The flood goes on: the dropped ones come back at once.
            for (auto& s : idle) {
                if (s->state() == QAbstractSocket::UnconnectedState)
                    s->connectToHost(QHostAddress::LocalHost, m_port);
            }
            QTest::qWait(100);
        }
        // Those still waiting for a slot give up all at once.
        for (auto& s : idle)
            s->abort();
        QCOMPARE(RawClient::get(m_port, "/page.html").body(), QByteArray("<p>page</p>"));
        // The client that had started its request kept its slot throughout.
        QCOMPARE(partial.state(), QAbstractSocket::ConnectedState);
        partial.write("\r\n");
        QTRY_VERIFY(partialReply.endsWith("<p>a</p>"));
    }

    void clientsPartWayThroughTheirRequestAreNeverDropped()
    {
        servlane::RequestLimits limits;
        limits.headTimeoutMs = 5000;
        m_server->setRequestLimits(limits);
        m_server->setMaxConnections(3); // two slots
        start();
        QTcpSocket slow[2];
        QByteArray replies[2];
        for (int i = 0; i < 2; ++i) {
            connect(&slow[i], &QTcpSocket::readyRead, this,
                    [&, i] { replies[i] += slow[i].readAll(); });
            slow[i].connectToHost(QHostAddress::LocalHost, m_port);
            slow[i].write("G");
        }
        QTRY_VERIFY(slow[0].state() == QAbstractSocket::ConnectedState &&
                    slow[1].state() == QAbstractSocket::ConnectedState);
        QTest::qWait(100);
        // Clients part way through their request hold no slot, so a client
        // with its whole request is served at once, and neither of them is
        // pushed out for it.
        QTcpSocket next;
        QByteArray nextReply;
        connect(&next, &QTcpSocket::readyRead, this, [&] { nextReply += next.readAll(); });
        next.connectToHost(QHostAddress::LocalHost, m_port);
        next.write("GET /page.html HTTP/1.0\r\n\r\n");
        QTRY_VERIFY(nextReply.endsWith("<p>page</p>"));
        QTest::qWait(200);
        QCOMPARE(slow[0].state(), QAbstractSocket::ConnectedState);
        QCOMPARE(slow[1].state(), QAbstractSocket::ConnectedState);
        slow[1].write("ET /a.htm HTTP/1.0\r\n\r\n");
        QTRY_VERIFY(replies[1].endsWith("<p>a</p>"));
        slow[0].write("ET /a.htm HTTP/1.0\r\n\r\n");
        QTRY_VERIFY(replies[0].endsWith("<p>a</p>"));
    }

    void silentClientsTakeTurnsAfterTheirGrace()
    {
        servlane::RequestLimits limits;
        limits.headTimeoutMs = 5000;
        m_server->setRequestLimits(limits);
        m_server->setMaxConnections(2);
        start();
        // Two silent connections and one slot: neither has to give way to
        // the other, since neither holds the slot; each is served when it
        // speaks, within its own head deadline.
        QTcpSocket first;
        QByteArray firstReply;
        connect(&first, &QTcpSocket::readyRead, this, [&] { firstReply += first.readAll(); });
        first.connectToHost(QHostAddress::LocalHost, m_port);
        QTRY_VERIFY(first.state() == QAbstractSocket::ConnectedState);
        QTcpSocket second;
        QByteArray reply;
        connect(&second, &QTcpSocket::readyRead, this, [&] { reply += second.readAll(); });
        second.connectToHost(QHostAddress::LocalHost, m_port);
        QTRY_VERIFY(second.state() == QAbstractSocket::ConnectedState);
        QTest::qWait(500);
        QCOMPARE(first.state(), QAbstractSocket::ConnectedState);
        second.write("GET /a.htm HTTP/1.0\r\n\r\n");
        QTRY_VERIFY(reply.endsWith("<p>a</p>"));
        first.write("GET /page.html HTTP/1.0\r\n\r\n");
        QTRY_VERIFY(firstReply.endsWith("<p>page</p>"));
    }

    void closingSlotIsReused()
    {
        // A linger far longer than any wait here, so that being served is
        // proof of not waiting for it, however busy the machine.
        servlane::RequestLimits limits;
        limits.lingerMs = 60'000;
        m_server->setRequestLimits(limits);
        m_server->setMaxConnections(2);
        start();
        // The client reads its answer but keeps its side open: the slot
        // lingers in "closing" until a new client needs it.
        QTcpSocket idle;
        QByteArray reply;
        connect(&idle, &QTcpSocket::readyRead, this, [&] { reply += idle.readAll(); });
        idle.connectToHost(QHostAddress::LocalHost, m_port);
        idle.write("GET /a.htm HTTP/1.0\r\n\r\n");
        QTRY_VERIFY(reply.endsWith("<p>a</p>"));
        QElapsedTimer t;
        t.start();
        const auto r = RawClient::get(m_port, "/page.html");
        QCOMPARE(r.body(), QByteArray("<p>page</p>"));
        QVERIFY2(t.elapsed() < limits.lingerMs / 2, "served without waiting for the linger deadline");
    }

    void clientConnectingAcrossHousekeepingTicks()
    {
        start();
        // Several housekeeping ticks pass while clients keep connecting; none
        // may be refused or dropped.
        QElapsedTimer t;
        t.start();
        int served = 0;
        while (t.elapsed() < 4500) {
            served += RawClient::get(m_port, "/a.htm").body() == "<p>a</p>";
            QTest::qWait(20);
        }
        QVERIFY(served > 20);
        QCOMPARE(m_events, QStringList());
    }

    void listenerRetriedWhenPortWasTaken()
    {
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, 0));
        const quint16 port = squatter.serverPort();
        m_server->setServerPort(QString::number(port));
        QVERIFY(m_server->StartServer());
        QCOMPARE(m_events.size(), 1);
        QVERIFY(m_events[0].startsWith(QStringLiteral("Error - TCP::Listen. [")));
        squatter.close();
        QTRY_VERIFY_WITH_TIMEOUT(m_server->listeningPort() == port, 5000);
        QCOMPARE(RawClient::get(port, "/a.htm").body(), QByteArray("<p>a</p>"));
    }

    void curlAgrees()
    {
        const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
        if (curl.isEmpty())
            QSKIP("curl is not installed");
        start();
        QProcess p;
        p.start(curl, {QStringLiteral("-s"), QStringLiteral("-i"), QStringLiteral("--max-time"),
                       QStringLiteral("5"),
                       QStringLiteral("http://127.0.0.1:%1/sub/FILE.TXT?x=1").arg(m_port)});
        QTRY_VERIFY_WITH_TIMEOUT(p.state() == QProcess::NotRunning, 8000);
        const QByteArray out = p.readAllStandardOutput();
        QVERIFY2(out.startsWith("HTTP/1.0 200 OK\r\n"), out.constData());
        QVERIFY(out.contains("Content-Type: text/plain\r\n"));
        QVERIFY(out.endsWith(QByteArray(500, 'x')));

        p.start(curl,
                {QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                 QStringLiteral("-w"), QStringLiteral("%{http_code}"),
                 QStringLiteral("--path-as-is"), QStringLiteral("--max-time"), QStringLiteral("5"),
                 QStringLiteral("http://127.0.0.1:%1/../secret.txt").arg(m_port)});
        QTRY_VERIFY_WITH_TIMEOUT(p.state() == QProcess::NotRunning, 8000);
        QCOMPARE(p.readAllStandardOutput(), QByteArray("403"));
    }
};

QTEST_GUILESS_MAIN(TestServlaneServer)
#include "tst_servlaneserver.moc"
