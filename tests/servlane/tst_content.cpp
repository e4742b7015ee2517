#include "accesscheck.h"
#include "directorylisting.h"
#include "errorpages.h"
#include "filecache.h"
#include "filelookup.h"
#include "httpformat.h"
#include "mimetable.h"
#include "openfile.h"
#include "pageprocessor.h"
#include "percentcodec.h"
#include "querystringparser.h"
#include "testsite.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace servlane;

class TestContent : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void statusText_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("reason");
        QTest::newRow("200") << "200"
                             << "OK";
        QTest::newRow("302") << "302"
                             << "Moved Temporarily";
        QTest::newRow("404") << "404"
                             << "Not Found";
        QTest::newRow("503") << "503"
                             << "Service Unavailable";
        QTest::newRow("999") << "999"
                             << "Undefined Status Code";
        QTest::newRow("empty") << ""
                               << "Undefined Status Code";
    }
    void statusText()
    {
        QFETCH(QString, code);
        QFETCH(QString, reason);
        QCOMPARE(QString(HttpStatus::fromText(code).reason()), reason);
    }

    void statusCodeFromReason()
    {
        QCOMPARE(HttpStatus::fromReason(u"Not Found").code(), QStringLiteral("404"));
        QCOMPARE(HttpStatus::fromReason(u"Teapot").code(), QStringLiteral("299"));
    }

    void headerOrderAndOptionalLines()
    {
        const QDateTime at(QDate(2026, 3, 5), QTime(7, 29, 55), Qt::UTC);
        QCOMPARE(HttpFormat::buildHeader(QStringLiteral("S/1"), HttpStatus(200), 12,
                                         QStringLiteral("text/html"), true,
                                         QStringLiteral("X-One: 1\r\n"), at),
                 QByteArray("HTTP/1.0 200 OK\r\nServer: S/1\r\n"
                            "Date: Thu, 05 Mar 2026 07:29:55 GMT\r\n"
                            "Content-Type: text/html\r\nX-One: 1\r\nContent-Length: 12\r\n\r\n"));
        // No type, no length, no blank line.
        QCOMPARE(HttpFormat::buildHeader(QStringLiteral("S"), HttpStatus(999), 0,
                                         QStringLiteral("  "), false, QString(), at),
                 QByteArray("HTTP/1.0 999 Undefined Status Code\r\nServer: S\r\n"
                            "Date: Thu, 05 Mar 2026 07:29:55 GMT\r\n"));
    }

    void httpDateUsesEnglishNamesInUtc()
    {
        const QDateTime at(QDate(2026, 12, 27), QTime(23, 5, 9), Qt::UTC);
        QCOMPARE(HttpFormat::formatHttpDate(at), QStringLiteral("Sun, 27 Dec 2026 23:05:09 GMT"));
    }

    void logTimeShape()
    {
        const QString t = HttpFormat::formatLogTime(QDateTime::currentDateTime());
        QVERIFY2(
            QRegularExpression(QStringLiteral(R"(^\[\d\d/\d\d/\d{4}:\d\d:\d\d:\d\d [+-]\d\d00\]$)"))
                .match(t)
                .hasMatch(),
            qPrintable(t));
    }

    void queryString_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("item");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("count");
        QTest::newRow("substring key") << "a=1&ba=2"
                                       << "a" << 1 << "1" << 2;
        QTest::newRow("second item") << "a=1&a=2"
                                     << "a" << 2 << "2" << 2;
        QTest::newRow("missing item") << "a=1&a=2"
                                      << "a" << 3 << "" << 2;
        QTest::newRow("plus kept") << "name=John+Smith"
                                   << "name" << 1 << "John+Smith" << 1;
        QTest::newRow("case-insensitive") << "Room=Den"
                                          << "room" << 1 << "Den" << 1;
        QTest::newRow("blank text") << "  "
                                    << "a" << 1 << "" << 0;
        QTest::newRow("encoded kept") << "x=%41%20b"
                                      << "x" << 1 << "%41%20b" << 1;
    }
    void queryString()
    {
        QFETCH(QString, text);
        QFETCH(QString, name);
        QFETCH(int, item);
        QueryStringParser q;
        q.setText(text);
        QTEST(q.value(name, item), "value");
        QTEST(q.count(name), "count");
        q.setText(QStringLiteral("a=1"));
        QCOMPARE(q.count(QStringLiteral("a")), 1); // the cache follows the text
    }

    void mimeTypes_data()
    {
        QTest::addColumn<int>("source");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("type");
        const int internal = int(MimeTable::Source::Internal);
        const int registry = int(MimeTable::Source::MimeDatabase);
        QTest::newRow("png internal") << internal << "a.png"
                                      << "image/x-png";
        QTest::newRow("bmp first of three") << internal << "a.BMP"
                                            << "image/bmp";
        QTest::newRow("mpa first entry") << internal << "a.mpa"
                                         << "audio/x-mpeg";
        QTest::newRow("js") << internal << "x.js"
                            << "application/x-javascript";
        QTest::newRow("no dot") << internal << "README"
                                << "application/octet-stream";
        QTest::newRow("dotted folder") << internal << "/a.b/README"
                                       << "application/octet-stream";
        QTest::newRow("unknown") << internal << "a.qqq"
                                 << "application/octet-stream";
        QTest::newRow("registry html") << registry << "a.html"
                                       << "text/html";
        QTest::newRow("registry no dot") << registry << "README"
                                         << "application/octet-stream";
    }
    void mimeTypes()
    {
        QFETCH(int, source);
        QFETCH(QString, file);
        MimeTable table;
        table.load(MimeTable::Source(source));
        QTEST(table.typeForExtension(MimeTable::extensionOf(file)), "type");
    }

    void mimeTableOrderAndFileSource()
    {
        const auto& t = MimeTable::internalTable();
        QCOMPARE(t.first().first, QStringLiteral("text"));
        QCOMPARE(t.last(), qMakePair(QStringLiteral("java"), QStringLiteral("application/java")));
        QVERIFY(t.size() <= 175);
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("mime.txt")),
                  "html,text/x-mine\r\nnocomma\r\nHTML,text/second\r\n");
        MimeTable table;
        table.load(MimeTable::Source::File, dir.filePath(QStringLiteral("mime.txt")));
        QCOMPARE(table.typeForExtension(QStringLiteral("Html")), QStringLiteral("text/x-mine"));
    }

    void strictPercentDecoding_data()
    {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("plain") << QByteArray("/a/b") << true << QByteArray("/a/b");
        QTest::newRow("dots") << QByteArray("%2e%2E") << true << QByteArray("..");
        QTest::newRow("half escape") << QByteArray("%2.%2.") << false << QByteArray();
        QTest::newRow("not hex") << QByteArray("%zz") << false << QByteArray();
        QTest::newRow("trailing") << QByteArray("/a%2") << false << QByteArray();
        QTest::newRow("lone percent") << QByteArray("%") << false << QByteArray();
    }
    void strictPercentDecoding()
    {
        QFETCH(QByteArray, in);
        QFETCH(bool, valid);
        const auto out = PercentCodec::decodeStrict(in);
        QCOMPARE(out.has_value(), valid);
        if (valid)
            QTEST(*out, "out");
    }

    void nameEncoding()
    {
        QCOMPARE(PercentCodec::encodeName(QStringLiteral("My Dir-1.x")),
                 QStringLiteral("My%20Dir%2D1%2Ex"));
    }

    void requestPathChecks_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("check");
        const int ok = int(FileLookup::Check::Ok);
        const int bad = int(FileLookup::Check::BadRequest);
        const int forbidden = int(FileLookup::Check::Forbidden);
        QTest::newRow("plain") << "/a/b.html" << ok;
        QTest::newRow("space") << "/my%20page.html" << ok;
        QTest::newRow("dotdot") << "/../etc/passwd" << forbidden;
        QTest::newRow("inner dotdot") << "/a/../../b" << forbidden;
        QTest::newRow("encoded dotdot") << "/%2e%2e/%2E%2e/etc/passwd" << forbidden;
        QTest::newRow("backslashes") << "/..\\..\\etc" << forbidden;
        QTest::newRow("encoded slash") << "/a%2f..%2fb" << forbidden;
        QTest::newRow("encoded backslash") << "/a%5c..%5cb" << forbidden;
        QTest::newRow("dot segment") << "/./a" << forbidden;
        QTest::newRow("bad escape") << "/%2.%2./etc" << bad;
        QTest::newRow("encoded NUL") << "/a%00.html" << bad;
        QTest::newRow("dots in a name") << "/a..b/c...d" << ok;
    }
    void requestPathChecks()
    {
        QFETCH(QString, path);
        QTEST(int(FileLookup::checkRequestPath(path)), "check");
    }

    void lookupIgnoresCasePrefersExactAndStaysInside()
    {
        QTemporaryDir outer;
        const QString root = outer.filePath(QStringLiteral("root"));
        writeFile(root + QStringLiteral("/Pics/Lamp.GIF"), "gif");
        writeFile(root + QStringLiteral("/case.txt"), "lower");
        writeFile(root + QStringLiteral("/CASE.txt"), "upper");
        writeFile(root + QStringLiteral("/my page.html"), "space");
        writeFile(outer.filePath(QStringLiteral("secret.txt")), "secret");
        QVERIFY(QFile::link(outer.filePath(QStringLiteral("secret.txt")),
                            root + QStringLiteral("/link.txt")));
        QVERIFY(QFile::link(outer.path(), root + QStringLiteral("/up")));
        FileLookup lookup(root);

        auto found = lookup.resolve(QStringLiteral("/pics/lamp.gif"));
        QVERIFY(found.exists);
        QVERIFY(found.localPath.endsWith(QStringLiteral("/Pics/Lamp.GIF")));
        QVERIFY(lookup.resolve(QStringLiteral("/CASE.txt"))
                    .localPath.endsWith(QStringLiteral("/CASE.txt")));
        QVERIFY(lookup.resolve(QStringLiteral("/case.txt"))
                    .localPath.endsWith(QStringLiteral("/case.txt")));
        QVERIFY(lookup.resolve(QStringLiteral("/My%20Page.html")).exists);
        QVERIFY(lookup.resolve(QStringLiteral("/Pics")).isDirectory);

        for (const char* outside : {"/link.txt", "/up/secret.txt", "/UP/Secret.txt"}) {
            const auto r = lookup.resolve(QString::fromLatin1(outside));
            QVERIFY2(!r.exists && r.outside, outside);
        }
        QVERIFY(!lookup.resolve(QStringLiteral("/../secret.txt")).exists);
        QVERIFY(!lookup.resolve(QStringLiteral("/missing.txt")).exists);
    }

    // Every read of a file opens what is there now and takes only a regular
    // file: a FIFO that took a file's place after the look-up is refused at
    // once, never waited on (the server has one thread).
    void filesAreReadWithoutEverWaitingOnAFifo()
    {
        QTemporaryDir dir;
        const QString fifo = dir.filePath(QStringLiteral("pipe.html"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        // Should a read wait for a writer after all, this one frees it every
        // few seconds, late enough that the wait shows.
        std::atomic<bool> done = false;
        std::thread writer([&fifo, &done] {
            while (!done) {
                for (int i = 0; i < 80 && !done; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0)
                    ::close(fd);
            }
        });
        QElapsedTimer took;
        took.start();
        QString error;
        QVERIFY(!OpenFile::readWhole(fifo, 1024, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!OpenFile::open(fifo));
        QByteArray content;
        FileCache cache;
        QVERIFY(!cache.read(fifo, content, error));
        QVERIFY(AccessCheck::readCredentials(fifo).isEmpty());
        const qint64 ms = took.elapsed();
        done = true;
        writer.join();
        QVERIFY2(ms < 3000, qPrintable(QString::number(ms)));
        // A regular file reads whole, and not beyond the bound.
        writeFile(dir.filePath(QStringLiteral("a.txt")), "abc");
        QCOMPARE(OpenFile::readWhole(dir.filePath(QStringLiteral("a.txt")), 3), QByteArray("abc"));
        QVERIFY(!OpenFile::readWhole(dir.filePath(QStringLiteral("a.txt")), 2));
    }

    void fileCacheNeverServesAChangedFile()
    {
        // Kept contents must follow every change, also one that keeps the
        // size and puts the modification time back (copies with preserved
        // times do that), and a file replaced under the same name.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("kept.txt"));
        const QDateTime old = QDateTime::currentDateTimeUtc().addSecs(-3600);
        const auto put = [&](const QByteArray& bytes) {
            QTest::qWait(30); // past the clock tick of the file times
            writeFile(path + QStringLiteral(".tmp"), bytes);
            QFile::remove(path);
            QFile::rename(path + QStringLiteral(".tmp"), path);
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(old, QFileDevice::FileModificationTime));
        };
        const auto rewrite = [&](const QByteArray& bytes) {
            QTest::qWait(30);
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QCOMPARE(f.write(bytes), bytes.size());
            f.close();
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(old, QFileDevice::FileModificationTime));
        };
        servlane::FileCache cache(0); // keeps files however fresh
        QByteArray got;
        QString error;
        put(QByteArray(70'000, 'a'));
        for (int i = 0; i < 2; ++i) {
            QVERIFY(cache.read(path, got, error));
            QVERIFY(got == QByteArray(70'000, 'a'));
        }
        rewrite(QByteArray(70'000, 'b'));
        QVERIFY(cache.read(path, got, error));
        QVERIFY(got == QByteArray(70'000, 'b'));
        put(QByteArray(70'000, 'c'));
        QVERIFY(cache.read(path, got, error));
        QVERIFY(got == QByteArray(70'000, 'c'));
        QVERIFY(QFile::remove(path));
        QVERIFY(!cache.read(path, got, error));
        QVERIFY(!error.isEmpty());

        // A file changed a moment ago is not kept at all: two changes in
        // the same tick of the file clock could not be told apart.
        servlane::FileCache settling;
        writeFile(path, "one");
        QVERIFY(settling.read(path, got, error));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.write("two");
        f.close();
        QVERIFY(settling.read(path, got, error));
        QCOMPARE(got, QByteArray("two"));
    }

    void sizeTexts_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("500") << qint64(500) << "500 bytes";
        QTest::newRow("1000") << qint64(1000) << "1,000 bytes";
        QTest::newRow("1536") << qint64(1536) << "1.50KB";
        QTest::newRow("20 KB") << qint64(20 * 1024 + 512) << "20.5KB";
        QTest::newRow("500 KB") << qint64(500 * 1024) << "500KB";
        QTest::newRow("5 MB") << qint64(5 * 1024 * 1024) << "5.00MB";
        QTest::newRow("50 MB") << qint64(50 * 1024 * 1024) << "50.0MB";
        QTest::newRow("2 GB") << qint64(2) * 1024 * 1024 * 1024 << "2.00GB";
    }
    void sizeTexts()
    {
        QFETCH(qint64, bytes);
        QTEST(DirectoryListing::sizeText(bytes), "text");
    }

    void errorPages()
    {
        const QString p404 = ErrorPages::page(HttpStatus(404));
        QVERIFY(p404.startsWith(QStringLiteral("<html><head><meta http-equiv=\"Content-Type\"")));
        QVERIFY(p404.contains(QStringLiteral("<title>HTTP Error 404</title>")));
        QVERIFY(p404.contains(QStringLiteral("<strong>HTTP 404: File Not Found</strong>")));
        QVERIFY(!p404.contains(QLatin1Char('\n')));
        // Codes without a page of their own get the 501 page.
        QVERIFY(ErrorPages::page(HttpStatus(401))
                    .contains(QStringLiteral("HTPP 501: Not Implemented")));
        QVERIFY(ErrorPages::page(HttpStatus(401))
                    .contains(QStringLiteral("<title>HTTP Error 401</title>")));
    }

    void serverSideIncludesAndFunctions()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("inc/part.htm")),
                  "[part <!--#echo var=\"SERVER_PROTOCOL\" -->]");
        writeFile(dir.filePath(QStringLiteral("inc/self.htm")),
                  "<!--#include virtual=\"/inc/self.htm\" -->");
        FileLookup lookup(dir.path());
        QStringList called;
        PageProcessor::Context c;
        c.ssi = true;
        c.functions = true;
        c.lookup = &lookup;
        c.variable = [](const QString& n) {
            return n == QLatin1String("SERVER_PROTOCOL") ? QStringLiteral("HTTP/1.0") : QString();
        };
        c.queryValue = [](const QString& n) { return QStringLiteral("q:") + n; };
        c.callFunction = [&called](const QString& n) {
            called << n;
            return QStringLiteral("<") + n + QStringLiteral(">");
        };
        c.mimeType = [](const QString& p) {
            return p.endsWith(QLatin1String(".htm")) ? QStringLiteral("text/html") : QString();
        };
        const QString page = dir.filePath(QStringLiteral("inc/page.htm"));
        const QByteArray in = "A<!--#include file=\"part.htm\" -->"
                              "B<!--#include virtual=\"../inc/part.htm\" -->"
                              "C<!--#include file=\"missing.htm\" -->"
                              "D<%=Request.QueryString(\"room\")%>"
                              "E<%= Function Lamp %><%=FunctionLamp%><%=function Fan%>"
                              "F<!--#include virtual=\"/inc/self.htm\" -->"
                              "G<!--#include file=\"../../etc/passwd\" -->";
        const QByteArray out = PageProcessor::process(in, page, c);
        QCOMPARE(out, QByteArray("A[part HTTP/1.0]B[part HTTP/1.0]C<!--#includefile=missing.htm-->"
                                 "Dq:roomE<Lamp><Lamp><Fan>F<!--#includevirtual=/inc/self.htm-->"
                                 "G<!--#includefile=../../etc/passwd-->"));
        QCOMPARE(called, (QStringList{QStringLiteral("Lamp"), QStringLiteral("Fan")}));

        c.ssi = c.functions = false;
        QCOMPARE(PageProcessor::process(in, page, c), in); // untouched when both are off
    }
};

QTEST_GUILESS_MAIN(TestContent)
#include "tst_content.moc"
