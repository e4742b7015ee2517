#include "requestparser.h"

#include <QtTest>

using servlane::RequestLimits;
using servlane::RequestParser;
using State = RequestParser::State;

class TestRequestParser : public QObject {
    Q_OBJECT

private:
    static RequestParser::Result parse(const QByteArray& data, RequestLimits limits = {})
    {
        return RequestParser::parse(data, limits);
    }

private Q_SLOTS:
    void requestLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("plain") << QByteArray("GET /a/b.html HTTP/1.0") << "/a/b.html"
                               << "/a/b.html"
                               << ""
                               << "b.html";
        QTest::newRow("query") << QByteArray("GET /x.html?a=1&b=2 HTTP/1.0") << "/x.html?a=1&b=2"
                               << "/x.html"
                               << "a=1&b=2"
                               << "x.html";
        QTest::newRow("absolute http")
            << QByteArray("GET http://host/page.html HTTP/1.0") << "http://host/page.html"
            << "/page.html"
            << ""
            << "page.html";
        QTest::newRow("absolute https")
            << QByteArray("GET https://h:8/p/q.gif HTTP/1.0") << "https://h:8/p/q.gif"
            << "/p/q.gif"
            << ""
            << "q.gif";
        QTest::newRow("absolute without path")
            << QByteArray("GET http://host HTTP/1.0") << "http://host"
            << ""
            << ""
            << "";
        QTest::newRow("no space after target") << QByteArray("GET /x.html") << ""
                                               << ""
                                               << ""
                                               << "";
        QTest::newRow("no slash") << QByteArray("GET x HTTP/1.0") << "x"
                                  << ""
                                  << ""
                                  << "";
        QTest::newRow("root") << QByteArray("GET / HTTP/1.0") << "/"
                              << "/"
                              << ""
                              << "";
        QTest::newRow("double space") << QByteArray("GET  /d.htm HTTP/1.0") << "/d.htm"
                                      << "/d.htm"
                                      << ""
                                      << "d.htm";
    }
    void requestLine()
    {
        QFETCH(QByteArray, line);
        const auto r = parse(line + "\r\nHost: box\r\n\r\n");
        QCOMPARE(r.state, State::Complete);
        QCOMPARE(r.request.method, QStringLiteral("GET"));
        QFETCH(QString, target);
        QFETCH(QString, path);
        QFETCH(QString, query);
        QFETCH(QString, fileName);
        QCOMPARE(r.request.requestTarget, target);
        QCOMPARE(r.request.requestPath, path);
        QCOMPARE(r.request.queryData, query);
        QCOMPARE(r.request.fileName, fileName);
    }

    void headerFields()
    {
        const auto r = parse("GET / HTTP/1.0\r\n"
                             "X-User-Agent: not this\r\n"
                             "user-agent:  Mozilla/4.0 \r\n"
                             "User-Agent: second\r\n"
                             "REFERER: http://here/\r\n"
                             "Accept: text/html\r\n"
                             "accept: image/gif,\r\n"
                             "X-Authorization: Basic " +
                             QByteArray("Eve:guess").toBase64() +
                             "\r\n"
                             "AUTHORIZATION: basic " +
                             QByteArray("Bob : Sec:ret").toBase64() +
                             "\r\n"
                             "\r\n");
        QCOMPARE(r.state, State::Complete);
        QCOMPARE(r.request.userAgent, QStringLiteral("Mozilla/4.0"));
        QCOMPARE(r.request.referer, QStringLiteral("http://here/"));
        QCOMPARE(r.request.accept, QStringLiteral("text/html, image/gif"));
        QCOMPARE(r.request.userName, QStringLiteral("Bob"));
        QCOMPARE(r.request.password, QStringLiteral("Sec:ret"));
        QVERIFY(r.request.headerText.endsWith(QStringLiteral("\r\n\r\n")));
    }

    void methods()
    {
        auto r = parse("HEAD /x.html?q=1 HTTP/1.0\r\n\r\n");
        QCOMPARE(r.state, State::Complete);
        QCOMPARE(r.request.method, QStringLiteral("HEAD"));
        QCOMPARE(r.request.requestPath, QStringLiteral("/x.html"));
        QCOMPARE(r.request.queryData, QStringLiteral("q=1"));
        // A length named inside another header's name is no length.
        r = parse("POST /f HTTP/1.0\r\nX-Content-Length: 3\r\n\r\nabc");
        QCOMPARE(r.state, State::Rejected);
        QCOMPARE(r.status, 400);
    }

    void postBodyArrivesInChunks()
    {
        const QByteArray head = "POST /form.html HTTP/1.0\r\nContent-Length: 10\r\n\r\n";
        QCOMPARE(parse(head).state, State::NeedMore);
        QVERIFY(parse(head).headComplete);
        QCOMPARE(parse(head + "a=1&").state, State::NeedMore);
        QCOMPARE(parse(head + "a=1&b=").state, State::NeedMore);
        const auto r = parse(head + "a=1&b=2&c=3");
        QCOMPARE(r.state, State::Complete);
        QCOMPARE(r.request.method, QStringLiteral("POST"));
        QCOMPARE(r.request.queryData, QStringLiteral("a=1&b=2&c="));
        QCOMPARE(r.request.contentLength, QStringLiteral("10"));
        QCOMPARE(r.request.requestPath, QStringLiteral("/form.html"));
    }

    void postWithZeroLengthIsAGet()
    {
        const auto r = parse("POST /x.html?q=1 HTTP/1.0\r\nContent-Length: 0\r\n\r\n");
        QCOMPARE(r.state, State::Complete);
        QCOMPARE(r.request.method, QStringLiteral("GET"));
        QCOMPARE(r.request.queryData, QStringLiteral("q=1"));
    }

    void headNotCompleteYet()
    {
        QCOMPARE(parse("GET / HTTP/1.0\r\nHost: b").state, State::NeedMore);
        QCOMPARE(parse("GET / HT").state, State::NeedMore);
        QCOMPARE(parse("").state, State::NeedMore);
        // Bare LF line ends end the head too.
        QCOMPARE(parse("GET / HTTP/1.0\n\n").state, State::Complete);
    }

    void refused_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("refusal");
        const QByteArray longTarget(9000, 'a');
        QTest::newRow("post without length")
            << QByteArray("POST /f HTTP/1.0\r\nHost: b\r\n\r\n") << 400 << false;
        QTest::newRow("unknown method") << QByteArray("OPTIONS * HTTP/1.0\r\n\r\n") << 501 << true;
        QTest::newRow("unknown method with a body")
            << QByteArray("PUT /f HTTP/1.0\r\nContent-Length: 2\r\n\r\nab") << 501 << true;
        QTest::newRow("chunked without length")
            << QByteArray("POST /f HTTP/1.0\r\ntransfer-encoding: chunked\r\n\r\n0\r\n\r\n") << 411
            << true;
        QTest::newRow("chunked and a length")
            << QByteArray("POST /f HTTP/1.0\r\nTransfer-Encoding: chunked\r\n"
                          "Content-Length: 5\r\n\r\n0\r\n\r\n")
            << 400 << true;
        QTest::newRow("length not a number")
            << QByteArray("POST /f HTTP/1.0\r\nContent-Length: 1x\r\n\r\n") << 400 << true;
        QTest::newRow("negative length")
            << QByteArray("POST /f HTTP/1.0\r\nContent-Length: -5\r\n\r\n") << 400 << true;
        QTest::newRow("two lengths")
            << QByteArray("POST /f HTTP/1.0\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab")
            << 400 << true;
        QTest::newRow("body too large")
            << QByteArray("POST /f HTTP/1.0\r\nContent-Length: 2000000\r\n\r\n") << 413 << true;
        QTest::newRow("huge length digits")
            << QByteArray("POST /f HTTP/1.0\r\nContent-Length: 99999999999999999999999\r\n\r\n")
            << 413 << true;
        QTest::newRow("request line too long, unfinished")
            << QByteArray("GET /" + longTarget) << 414 << true;
        QTest::newRow("request line too long")
            << QByteArray("GET /" + longTarget + " HTTP/1.0\r\n\r\n") << 414 << true;
        QTest::newRow("header block too large")
            << QByteArray("GET / HTTP/1.0\r\nX: " + longTarget + "\r\n") << 431 << true;
        QByteArray many = "GET / HTTP/1.0\r\n";
        for (int i = 0; i < 65; ++i)
            many += "X-" + QByteArray::number(i) + ": y\r\n";
        QTest::newRow("too many headers") << many + "\r\n" << 431 << true;
        QTest::newRow("raw NUL in line")
            << QByteArray("GET /a") + '\0' + QByteArray("b HTTP/1.0\r\n\r\n") << 400 << true;
        QTest::newRow("encoded NUL in line")
            << QByteArray("GET /a%00.html HTTP/1.0\r\n\r\n") << 400 << true;
        QTest::newRow("encoded control in query")
            << QByteArray("GET /a.html?x=%0d%0a HTTP/1.0\r\n\r\n") << 400 << true;
        QTest::newRow("raw tab in line")
            << QByteArray("GET /a\t.html HTTP/1.0\r\n\r\n") << 400 << true;
        QTest::newRow("DEL in line") << QByteArray("GET /a\x7f HTTP/1.0\r\n\r\n") << 400 << true;
        QTest::newRow("NUL in header")
            << QByteArray("GET / HTTP/1.0\r\nX: a") + '\0' + QByteArray("b\r\n\r\n") << 400 << true;
    }
    void refused()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, status);
        QFETCH(bool, refusal);
        const auto r = parse(data);
        QCOMPARE(r.state, State::Rejected);
        QCOMPARE(r.status, status);
        QCOMPARE(r.refusal, refusal);
    }

    void limitsAreExact()
    {
        RequestLimits limits;
        limits.maxRequestLine = 20;
        // "GET /123456789012 HTTP/1.0" is 26 characters.
        QCOMPARE(parse("GET /1234567890 HTTP\r\n\r\n", limits).state, State::Complete); // 20
        QCOMPARE(parse("GET /12345678901 HTTP\r\n\r\n", limits).status, 414);           // 21
    }
};

QTEST_GUILESS_MAIN(TestRequestParser)
#include "tst_requestparser.moc"
