#include "directorylisting.h"
#include "rawclient.h"
#include "requestlimits.h"
#include "servlane.h"
#include "testsite.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QStandardPaths>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

// Looks at the disk that name the watched file, counted: the server's calls
// to stat bind to this definition before the C library's.
std::atomic<const char*> statWatched{nullptr};
std::atomic<int> statCount{0};

} // namespace

extern "C" int stat(const char* path, struct stat* buf) noexcept
{
    const char* watched = statWatched;
    if (watched && std::strstr(path, watched))
        ++statCount;
    return ::fstatat(AT_FDCWD, path, buf, 0);
}

extern "C" int statx(int dirfd, const char* path, int flags, unsigned int mask,
                     struct statx* buf) noexcept
{
    const char* watched = statWatched;
    if (watched && std::strstr(path, watched))
        ++statCount;
    return int(::syscall(SYS_statx, dirfd, path, flags, mask, buf));
}

namespace {

QByteArray basic(const QByteArray& pair)
{
    return "Authorization: Basic " + pair.toBase64() + "\r\n";
}

void symlinkTo(const QByteArray& target, const QString& link)
{
    QDir().mkpath(QFileInfo(link).absolutePath());
    QVERIFY2(::symlink(target.constData(), QFile::encodeName(link).constData()) == 0,
             link.toLocal8Bit());
}

// Notices any open of a FIFO for reading: it keeps trying to open the
// writing end without waiting, which only succeeds while a reader has the
// FIFO open (or is blocked opening it). Its open also sets a blocked reader
// free, so a server that does open the FIFO fails the test, not hangs it.
class FifoWatch final {
public:
    explicit FifoWatch(const QString& path) : m_path(QFile::encodeName(path))
    {
        m_thread = std::thread([this] {
            while (!m_stop) {
                const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    m_opened = true;
                    ::close(fd);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    ~FifoWatch()
    {
        m_stop = true;
        m_thread.join();
    }
    bool opened() const { return m_opened; }

private:
    QByteArray m_path;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_opened{false};
    std::thread m_thread;
};

} // namespace

// What a request may reach on disk: the login of the folder that really
// holds what is served, whatever the spelling of the path; CGI chosen by
// the path alone; nothing but folders and regular files, no private names,
// bounded listings. Over real TCP connections.
class TestPaths : public SiteTestCase {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        servlane::RequestLimits limits;
        limits.lingerMs = 300;
        m_site = std::make_unique<TestSite>(limits);
        m_server = m_site->server.get();
        m_server->setServerName(QStringLiteral("box"));
        m_server->setMaxConnections(8);
        m_server->setVerboseErrorsEnable(false);
        m_server->setAuthenticationSource(Servlane::DirectoryFile);
        m_server->setDirectoryBrowseEnable(true);
        writeFile(root() + QStringLiteral("/index.html"), "<p>home</p>");
        writeFile(root() + QStringLiteral("/locked/htaccess.txt"), "bob:secret\r\n");
        writeFile(root() + QStringLiteral("/locked/index.html"), "LOCKED index");
        writeFile(root() + QStringLiteral("/locked/x.txt"), "LOCKED x");
        writeFile(root() + QStringLiteral("/locked/list/HTACCESS.TXT"), "bob:secret\r\n");
        writeFile(root() + QStringLiteral("/locked/list/y.txt"), "LOCKED y");
        writeFile(root() + QStringLiteral("/open/a.txt"), "open a");
        symlinkTo("../locked/x.txt", root() + QStringLiteral("/open/filelink"));
        symlinkTo("../locked", root() + QStringLiteral("/open/dirlink"));
        symlinkTo("../locked/list", root() + QStringLiteral("/open/listlink"));
    }

    void cleanup()
    {
        m_site.reset();
        m_server = nullptr;
    }

    // Every spelling of a path to a protected file or folder: without the
    // login never its content, with it the same answer as the plain path.
    // Each row is asked directly and once more handed back by a host
    // (TrapFileData with Process), which must get the very same answers.
    void oneLoginForEverySpelling_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<int>("without");
        QTest::addColumn<int>("with");
        QTest::addColumn<QByteArray>("shows"); // in the answer with the login when 200

        const QByteArray x = "LOCKED x";
        const QByteArray index = "LOCKED index";
        const QByteArray listing = "y.txt</a>";
        QTest::newRow("plain") << QByteArray("/locked/x.txt") << 401 << 200 << x;
        QTest::newRow("slash after the file") << QByteArray("/locked/x.txt/") << 404 << 404 << x;
        QTest::newRow("two slashes after the file")
            << QByteArray("/locked/x.txt//") << 404 << 404 << x;
        QTest::newRow("upper case") << QByteArray("/LOCKED/X.TXT") << 401 << 200 << x;
        QTest::newRow("upper case, slash after") << QByteArray("/LOCKED/X.TXT/") << 404 << 404 << x;
        QTest::newRow("backslash") << QByteArray("/locked\\x.txt") << 401 << 200 << x;
        QTest::newRow("backslash after") << QByteArray("/locked\\x.txt\\") << 404 << 404 << x;
        QTest::newRow("backslashes only") << QByteArray("/\\locked\\x.txt") << 401 << 200 << x;
        QTest::newRow("doubled slash") << QByteArray("/locked//x.txt") << 401 << 200 << x;
        QTest::newRow("doubled slashes") << QByteArray("//locked//x.txt") << 401 << 200 << x;
        QTest::newRow("dot segment") << QByteArray("/locked/./x.txt") << 403 << 403 << x;
        QTest::newRow("dot segment first") << QByteArray("/./locked/x.txt") << 403 << 403 << x;
        QTest::newRow("escaped dot segment") << QByteArray("/locked/%2e/x.txt") << 403 << 403 << x;
        QTest::newRow("escaped letter") << QByteArray("/locked/%78.txt") << 401 << 200 << x;
        QTest::newRow("escaped folder letter") << QByteArray("/%6Cocked/x.txt") << 401 << 200 << x;
        QTest::newRow("escaped, upper case")
            << QByteArray("/%4C%4F%43%4B%45%44/x%2etxt") << 401 << 200 << x;
        QTest::newRow("escaped slash after") << QByteArray("/locked/x.txt%2f") << 403 << 403 << x;
        QTest::newRow("escaped backslash after")
            << QByteArray("/locked/x.txt%5C") << 403 << 403 << x;
        QTest::newRow("trailing dot") << QByteArray("/locked/x.txt.") << 404 << 404 << x;
        QTest::newRow("folder with trailing dot")
            << QByteArray("/locked./x.txt") << 404 << 404 << x;
        QTest::newRow("trailing escaped space")
            << QByteArray("/locked/x.txt%20") << 404 << 404 << x;
        QTest::newRow("query with slashes") << QByteArray("/locked/x.txt?a=/b/") << 401 << 200 << x;
        QTest::newRow("absolute URL, backslash")
            << QByteArray("http://box/locked\\x.txt") << 401 << 200 << x;
        QTest::newRow("folder: index page") << QByteArray("/locked") << 401 << 200 << index;
        QTest::newRow("folder with slash") << QByteArray("/locked/") << 401 << 200 << index;
        QTest::newRow("folder, upper case, two slashes")
            << QByteArray("/LOCKED//") << 401 << 200 << index;
        QTest::newRow("index page, slash after")
            << QByteArray("/locked/index.html/") << 404 << 404 << index;
        QTest::newRow("index page, upper case, slash after")
            << QByteArray("/LOCKED/INDEX.HTML/") << 404 << 404 << index;
        QTest::newRow("index page, backslashes")
            << QByteArray("/locked\\index.html\\") << 404 << 404 << index;
        QTest::newRow("listing") << QByteArray("/locked/list/") << 401 << 200 << listing;
        QTest::newRow("listing without slash")
            << QByteArray("/locked/list") << 401 << 200 << listing;
        QTest::newRow("file link") << QByteArray("/open/filelink") << 401 << 200 << x;
        QTest::newRow("file link, upper case") << QByteArray("/OPEN/FILELINK") << 401 << 200 << x;
        QTest::newRow("file link, slash after") << QByteArray("/open/filelink/") << 404 << 404 << x;
        QTest::newRow("folder link") << QByteArray("/open/dirlink/x.txt") << 401 << 200 << x;
        QTest::newRow("folder link, backslash, upper case")
            << QByteArray("/open/dirlink\\X.TXT") << 401 << 200 << x;
        QTest::newRow("folder link: index page")
            << QByteArray("/open/dirlink") << 401 << 200 << index;
        QTest::newRow("folder link with slash")
            << QByteArray("/open/dirlink/") << 401 << 200 << index;
        QTest::newRow("folder link: listing")
            << QByteArray("/open/listlink/") << 401 << 200 << listing;
        QTest::newRow("open file stays open")
            << QByteArray("/open/a.txt") << 200 << 200 << QByteArray("open a");
    }
    void oneLoginForEverySpelling()
    {
        QFETCH(QByteArray, target);
        QFETCH(int, without);
        QFETCH(int, with);
        QFETCH(QByteArray, shows);
        int handedBack = 0;
        connect(m_server, &Servlane::FileRequest, this, [&](int i, const QString&, const QString&) {
            ++handedBack;
            m_server->TrapFileData(i, QString(), true);
        });
        start();
        for (const bool trapped : {false, true}) {
            m_server->setTrapFileEnable(trapped);
            const auto anonymous = RawClient::get(m_port, target);
            QCOMPARE(anonymous.status(), without);
            if (without != 200) {
                QVERIFY2(!anonymous.bytes.contains("LOCKED") && !anonymous.bytes.contains("y.txt"),
                         anonymous.bytes);
            }
            const auto known = RawClient::get(m_port, target, basic("bob:secret"));
            QCOMPARE(known.status(), with);
            if (with == 200)
                QVERIFY2(known.body().contains(shows), known.bytes);
        }
        // Refused before the host is asked: a path that climbs or hides a
        // separator.
        QCOMPARE(handedBack, without == 403 ? 0 : 2);
    }

    // The root is "www"; a sibling whose name begins with it is outside.
    void siblingOfTheRootStaysOutside_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("file link") << QByteArray("/x");
        QTest::newRow("file link, upper case") << QByteArray("/X");
        QTest::newRow("file link, slash after") << QByteArray("/x/");
        QTest::newRow("file through folder link") << QByteArray("/privdir/secret.txt");
        QTest::newRow("folder link") << QByteArray("/privdir/");
        QTest::newRow("folder link without slash") << QByteArray("/privdir");
        QTest::newRow("folder link, backslash") << QByteArray("/privdir\\secret.txt");
    }
    void siblingOfTheRootStaysOutside()
    {
        QFETCH(QByteArray, target);
        writeFile(m_site->file(QStringLiteral("www-private/secret.txt")), "PRIVATE");
        symlinkTo("../www-private/secret.txt", root() + QStringLiteral("/x"));
        symlinkTo("../www-private", root() + QStringLiteral("/privdir"));
        writeFile(root() + QStringLiteral("/shown/visible.txt"), "v");
        symlinkTo("../../www-private", root() + QStringLiteral("/shown/privdir"));
        symlinkTo("../../www-private/secret.txt", root() + QStringLiteral("/shown/x"));
        start();
        const auto r = RawClient::get(m_port, target);
        QVERIFY2(r.status() == 403 || r.status() == 404, r.bytes);
        QVERIFY(!r.bytes.contains("PRIVATE"));
        const auto listing = RawClient::get(m_port, "/shown/");
        QVERIFY2(listing.body().contains("visible.txt"), listing.bytes);
        QVERIFY2(!listing.body().contains("privdir") && !listing.body().contains(">x<"),
                 listing.bytes);
    }

    // What runs is decided by the path alone: a query that merely mentions
    // ".exe?" never makes a program of a file.
    void queryNeverMakesAProgram_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("body");
        const QByteArray script = "#!/bin/sh\nprintf '%s-%s' ran output\n";
        QTest::newRow("query .exe?") << QByteArray("/run.sh?x=.exe?") << script;
        QTest::newRow("query .EXE?") << QByteArray("/run.sh?.EXE?") << script;
        QTest::newRow("query .exe? twice") << QByteArray("/run.sh?a.exe?b.exe?") << script;
        QTest::newRow("in a folder, query .exe?") << QByteArray("/bin/run.sh?x=.exe?") << script;
        QTest::newRow("program by its path")
            << QByteArray("/run.exe?x=1") << QByteArray("ran-output");
        QTest::newRow("program, upper case") << QByteArray("/RUN.EXE") << QByteArray("ran-output");
    }
    void queryNeverMakesAProgram()
    {
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, body);
        const QByteArray script = "#!/bin/sh\nprintf '%s-%s' ran output\n";
        writeFile(root() + QStringLiteral("/run.sh"), script, true);
        writeFile(root() + QStringLiteral("/run.exe"), script, true);
        writeFile(root() + QStringLiteral("/bin/run.sh"), script, true);
        m_server->setCGIEnable(true);
        start();
        const auto r = RawClient::get(m_port, target);
        QCOMPARE(r.status(), 200);
        QCOMPARE(r.body(), body);
    }

    // A program of the CGI folder has no folder in the root: the folder its
    // path names guards it, and the root when that folder does not exist,
    // so a made-up folder name does not get round the root's login.
    void programOfTheScriptFolderIsGuarded_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<int>("without");
        QTest::addColumn<QByteArray>("login");
        const QByteArray root = "ann:pw";
        const QByteArray locked = "bob:secret";
        QTest::newRow("at the root") << QByteArray("/tool.exe") << 401 << root;
        QTest::newRow("made-up folder") << QByteArray("/nothere/tool.exe") << 401 << root;
        QTest::newRow("made-up folders") << QByteArray("//no/where/TOOL.EXE") << 401 << root;
        QTest::newRow("protected folder") << QByteArray("/LOCKED/tool.exe") << 401 << locked;
        QTest::newRow("open folder") << QByteArray("/open/tool.exe") << 200 << root;
    }
    void programOfTheScriptFolderIsGuarded()
    {
        QFETCH(QByteArray, target);
        QFETCH(int, without);
        QFETCH(QByteArray, login);
        writeFile(root() + QStringLiteral("/htaccess.txt"), "ann:pw\r\n");
        writeFile(m_site->file(QStringLiteral("scripts/tool.exe")), "#!/bin/sh\necho tool\n", true);
        m_server->setCGIDirectory(m_site->file(QStringLiteral("scripts")));
        m_server->setCGIEnable(true);
        start();
        auto r = RawClient::get(m_port, target);
        QCOMPARE(r.status(), without);
        QCOMPARE(r.body() == "tool\n", without == 200);
        r = RawClient::get(m_port, target, basic(login));
        QCOMPARE(r.status(), 200);
        QCOMPARE(r.body(), QByteArray("tool\n"));
    }

    // A FIFO, a socket: never opened, whatever reaches them (a request, an
    // include, a listing).
    void onlyFoldersAndRegularFiles()
    {
        const QString fifo = root() + QStringLiteral("/odd/pipe");
        QDir().mkpath(QFileInfo(fifo).absolutePath());
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QLocalServer socketFile;
        QVERIFY(socketFile.listen(root() + QStringLiteral("/odd/sock")));
        symlinkTo("pipe", root() + QStringLiteral("/odd/pipelink"));
        writeFile(root() + QStringLiteral("/odd/ok.txt"), "ok");
        writeFile(root() + QStringLiteral("/page.html"),
                  "a<!--#include file=\"odd/pipe\"-->b<!--#include virtual=\"/odd/pipelink\"-->"
                  "c<!--#include virtual=\"/odd/sock\"-->d<!--#include file=\"odd/ok.txt\"-->");
        m_server->setSSIEnable(true);
        const FifoWatch watch(fifo);
        start();
        for (const QByteArray target :
             {"/odd/pipe", "/ODD/PIPE", "/odd/pipelink", "/odd/sock", "/odd\\pipe", "/odd/pipe/"}) {
            const auto r = RawClient::get(m_port, target);
            QVERIFY2(r.status() == 404, target);
        }
        const QByteArray page = RawClient::get(m_port, "/page.html").body();
        // Tags that include nothing stay (in their plain form).
        QCOMPARE(page,
                 QByteArray("a<!--#includefile=odd/pipe-->b<!--#includevirtual=/odd/pipelink-->"
                            "c<!--#includevirtual=/odd/sock-->dok"));
        const QByteArray listing = RawClient::get(m_port, "/odd/").body();
        QVERIFY2(listing.contains("ok.txt</a>"), listing);
        QVERIFY2(!listing.contains("pipe") && !listing.contains("sock"), listing);
        QVERIFY2(!watch.opened(), "the server opened the FIFO");
        QCOMPARE(RawClient::get(m_port, "/odd/ok.txt").body(), QByteArray("ok"));

        // A file the look-up has just found, and so still remembers, is
        // replaced by a FIFO: it is checked again before it is opened.
        const QString swapped = root() + QStringLiteral("/odd/swap.txt");
        writeFile(swapped, "file");
        QCOMPARE(RawClient::get(m_port, "/odd/swap.txt").body(), QByteArray("file"));
        QVERIFY(QFile::remove(swapped));
        QVERIFY(::mkfifo(QFile::encodeName(swapped).constData(), 0600) == 0);
        const FifoWatch swapWatch(swapped);
        QCOMPARE(RawClient::get(m_port, "/odd/swap.txt").status(), 404);
        QVERIFY2(!swapWatch.opened(), "the server opened the FIFO");
        // The same for an include.
        const QString included = root() + QStringLiteral("/odd/part.txt");
        writeFile(included, "part");
        writeFile(root() + QStringLiteral("/whole.html"), "<!--#include file=\"odd/part.txt\"-->!");
        QCOMPARE(RawClient::get(m_port, "/whole.html").body(), QByteArray("part!"));
        QVERIFY(QFile::remove(included));
        QVERIFY(::mkfifo(QFile::encodeName(included).constData(), 0600) == 0);
        const FifoWatch partWatch(included);
        QCOMPARE(RawClient::get(m_port, "/whole.html").body(),
                 QByteArray("<!--#includefile=odd/part.txt-->!"));
        QVERIFY2(!partWatch.opened(), "the server opened the FIFO");
    }

    // A file answered again and again is looked at once per request: the
    // check that it is still a regular file and the file cache's check that
    // its copy is current share one stat.
    void oneLookAtTheDiskPerRequest()
    {
        writeFile(root() + QStringLiteral("/open/often.txt"), "often");
        start();
        QCOMPARE(RawClient::get(m_port, "/open/often.txt").body(), QByteArray("often"));
        constexpr int requests = 20;
        statCount = 0;
        statWatched = "/open/often.txt";
        for (int i = 0; i < requests; ++i)
            QCOMPARE(RawClient::get(m_port, "/open/often.txt").body(), QByteArray("often"));
        statWatched = nullptr;
        // At least one a request: the file is checked afresh each time.
        // Beyond one: the look-ups made afresh when the look-up's memory of
        // the file runs out (a few on a slow machine).
        QVERIFY2(statCount >= requests && statCount <= requests + 6,
                 qPrintable(QString::number(statCount)));
    }

    // Dot-files and anything named after the access file (the copy a login
    // change writes) are neither served, included nor listed, however
    // spelt or reached.
    void privateNamesAreNeverServed_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("dot-file") << QByteArray("/.hidden");
        QTest::newRow("escaped dot") << QByteArray("/%2Ehidden");
        QTest::newRow("in a dot-folder") << QByteArray("/.secrets/a.txt");
        QTest::newRow("dot-folder") << QByteArray("/.secrets/");
        QTest::newRow("link to a dot-file") << QByteArray("/open/dotlink");
        QTest::newRow("link into a dot-folder") << QByteArray("/open/secretslink/a.txt");
        QTest::newRow("login copy") << QByteArray("/open/htaccess.txt.tmp");
        QTest::newRow("login copy, upper case") << QByteArray("/OPEN/HTACCESS.TXT.TMP");
        QTest::newRow("login copy, backslash") << QByteArray("/open\\Htaccess.Txt.Tmp");
        QTest::newRow("login backup") << QByteArray("/open/htaccess.txt~");
        QTest::newRow("access file") << QByteArray("/locked/HTACCESS.TXT");
        QTest::newRow("access file, slash after") << QByteArray("/locked/htaccess.txt/");
    }
    void privateNamesAreNeverServed()
    {
        QFETCH(QByteArray, target);
        writeFile(root() + QStringLiteral("/.hidden"), "SECRET dot");
        writeFile(root() + QStringLiteral("/.secrets/a.txt"), "SECRET a");
        writeFile(root() + QStringLiteral("/open/htaccess.txt.tmp"), "SECRET:tmp\r\n");
        writeFile(root() + QStringLiteral("/open/htaccess.txt~"), "SECRET:old\r\n");
        symlinkTo("../.hidden", root() + QStringLiteral("/open/dotlink"));
        symlinkTo("../.secrets", root() + QStringLiteral("/open/secretslink"));
        writeFile(
            root() + QStringLiteral("/inc.html"),
            "<!--#include virtual=\"/.hidden\"--><!--#include file=\"open/htaccess.txt.tmp\"-->"
            "<!--#include virtual=\"/open/dotlink\"-->");
        m_server->setSSIEnable(true);
        start();
        const auto r = RawClient::get(m_port, target, basic("bob:secret"));
        QCOMPARE(r.status(), 404);
        QVERIFY(!r.bytes.contains("SECRET") && !r.bytes.contains("bob:"));
        QVERIFY(!RawClient::get(m_port, "/inc.html").bytes.contains("SECRET"));
        const QByteArray listing = RawClient::get(m_port, "/open/").body();
        QVERIFY2(listing.contains("a.txt</a>"), listing);
        QVERIFY2(!listing.contains("htaccess") && !listing.contains("dotlink") &&
                     !listing.contains("secretslink"),
                 listing);
    }

    // A listing shows at most DirectoryListing::kMaxEntries entries, and
    // says when it stopped.
    void listingsAreCapped()
    {
        const QString folder = root() + QStringLiteral("/many");
        QVERIFY(QDir().mkpath(folder));
        const int cap = servlane::DirectoryListing::kMaxEntries;
        for (int i = 0; i <= cap; ++i) {
            QFile f(folder + QStringLiteral("/f%1.txt").arg(i, 5, 10, QLatin1Char('0')));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        writeFile(folder + QStringLiteral("/.dot"), "hidden"); // not counted
        start();
        const auto rows = [this] {
            const QByteArray page = RawClient::get(m_port, "/many/").body();
            return std::make_pair(page.count("<a href = /many/f"),
                                  page.contains("Listing stopped after 10000 entries"));
        };
        QCOMPARE(rows(), std::make_pair(qsizetype(cap), true));
        QVERIFY(QFile::remove(folder + QStringLiteral("/f00000.txt")));
        QCOMPARE(rows(), std::make_pair(qsizetype(cap), false));
    }
};

QTEST_GUILESS_MAIN(TestPaths)
#include "tst_paths.moc"
