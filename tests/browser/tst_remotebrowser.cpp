#include "enginerig.h"
#include "headlessbrowser.h"
#include "home/settingsstore.h"
#include "httpget.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using namespace casalux;

namespace {

bool listening(quint16 port)
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    return probe.waitForConnected(200);
}

// A PNG of the expected size: signature, then the IHDR chunk's width and height.
bool isPng(const QByteArray& png, int width, int height)
{
    const auto number = [&](int at) {
        return (quint32(quint8(png[at])) << 24) | (quint32(quint8(png[at + 1])) << 16) |
               (quint32(quint8(png[at + 2])) << 8) | quint32(quint8(png[at + 3]));
    };
    return png.size() > 24 && png.startsWith("\x89PNG\r\n\x1a\n") && png.mid(12, 4) == "IHDR" &&
           number(16) == quint32(width) && number(20) == quint32(height);
}

// The JavaScript for the link that holds a text, as a user sees it.
QString linkWithText(const QString& text)
{
    return QStringLiteral("[...document.querySelectorAll('a')].find(a => a.textContent.trim() === '%1')")
        .arg(text);
}

QString pictureOf(const QString& device)
{
    return QStringLiteral("(%1 || {closest: () => null}).closest('.cell')?.querySelector('img')")
        .arg(linkWithText(device));
}

constexpr int width = 1000;
constexpr int height = 640;

} // namespace

// A user in a real browser: the standard remote-control page served by the
// real hearthcore program, which drives the simulated CM11A interface.
class TestRemoteBrowser : public QObject {
    Q_OBJECT

    struct Rig : test::EngineRig {
        Rig()
        {
            // The shipped templates and pictures.
            QDir().mkpath(folder.file(QStringLiteral("html")));
            const QDir shipped(QStringLiteral(CASALUX_HTML_DIR));
            const QStringList files = shipped.entryList(QDir::Files);
            for (const QString& name : files)
                QFile::copy(shipped.filePath(name), folder.file(QStringLiteral("html/") + name));
            folder.write(QStringLiteral("rmlst.rvf"), "Living Room~~~\r\n"
                                                      "Living Room~Table Lamp~A~3\r\n"
                                                      "Living Room~Ceiling Light~A~4\r\n"
                                                      "Living Room~Fan~A~5\r\n"
                                                      "Living Room~Radio~A~6\r\n"
                                                      "Living Room~Aquarium~A~7\r\n"
                                                      "Kitchen~~~\r\n"
                                                      "Kitchen~Worktop Light~B~1\r\n"
                                                      "Kitchen~Kettle~B~2\r\n"
                                                      "Bedroom~~~\r\n"
                                                      "Bedroom~Bedside Lamp~C~1\r\n"
                                                      "Garden~~~\r\n"
                                                      "Garden~Path Lights~D~1\r\n");
            for (const auto& [key, kind] : {std::pair{"LivingRoomTableLamp", "bulb"},
                                            {"LivingRoomCeilingLight", "bulb2"},
                                            {"LivingRoomFan", "fan"},
                                            {"LivingRoomRadio", "radio"}})
                settings.SaveSetting(QStringLiteral("Casalux"), QStringLiteral("type"),
                                     QString::fromLatin1(key), QString::fromLatin1(kind));
        }
    };

    // Screenshots go to CASALUX_SCREENSHOT_DIR when it is set (to refresh
    // the ones in docs/screenshots), else nowhere.
    static void keep(const QByteArray& png, const QString& name)
    {
        const QString dir = qEnvironmentVariable("CASALUX_SCREENSHOT_DIR");
        if (dir.isEmpty())
            return;
        QDir().mkpath(dir);
        QFile file(QDir(dir).filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(png) == png.size());
    }

private Q_SLOTS:
    void clickRoomThenDevice()
    {
        if (test::HeadlessBrowser::executable().isEmpty())
            QSKIP("Chromium is not installed (Debian package chromium)");
        Rig rig;
        QVERIFY(rig.start());
        QTRY_VERIFY_WITH_TIMEOUT(listening(rig.webPort), 15000);

        test::HeadlessBrowser browser;
        if (const QString why = browser.start(width, height); !why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("Chromium cannot run here: ") + why));

        // The start page: every room, no room chosen yet.
        const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(rig.webPort);
        QVERIFY(browser.navigate(base + QStringLiteral("index.html")));
        QVERIFY2(browser.waitFor(QStringLiteral("document.readyState === 'complete' && "
                                                "document.querySelectorAll('nav a').length === 4"),
                                 15000),
                 qPrintable(browser.lastError()));
        QCOMPARE(browser.evaluate(QStringLiteral("document.querySelector('h1').textContent"))->toString(),
                 QStringLiteral("Please Select A Room From The List On The Left"));
        const QByteArray start = browser.screenshot();
        QVERIFY(isPng(start, width, height));
        keep(start, QStringLiteral("remote-start.png"));

        // A room: its devices, each with the off picture of its kind.
        QVERIFY2(browser.click(linkWithText(QStringLiteral("Living Room"))), qPrintable(browser.lastError()));
        QVERIFY2(browser.waitFor(QStringLiteral("location.search === '?loadroomLivingRoom' && "
                                                "document.readyState === 'complete'"),
                                 15000),
                 qPrintable(browser.lastError()));
        QCOMPARE(browser.evaluate(QStringLiteral("document.querySelector('h1').textContent"))->toString(),
                 QStringLiteral("Living Room"));
        QCOMPARE(browser.evaluate(pictureOf(QStringLiteral("Table Lamp")) + QStringLiteral(".getAttribute('src')"))
                     ->toString(),
                 QStringLiteral("bulboff.gif"));
        QCOMPARE(browser.evaluate(QStringLiteral("document.querySelectorAll('.cell img').length"))->toInt(), 5);

        // A device: the interface switches it and the page shows it on.
        QVERIFY2(browser.click(pictureOf(QStringLiteral("Table Lamp"))), qPrintable(browser.lastError()));
        QTRY_VERIFY2_WITH_TIMEOUT(rig.simLog().contains(QLatin1String("A3 ON LEVEL 100")),
                                  qPrintable(rig.simLog()), 15000);
        const QString onPicture = pictureOf(QStringLiteral("Table Lamp"));
        QVERIFY2(browser.waitFor(QStringLiteral("location.search.includes('~turnon~') && "
                                                "document.readyState === 'complete' && "
                                                "%1.getAttribute('src') === 'bulbon.gif' && "
                                                "%1.complete && %1.naturalWidth > 0")
                                     .arg(onPicture),
                                 15000),
                 qPrintable(browser.lastError()));
        QCOMPARE(browser.evaluate(QStringLiteral("document.querySelector('h1').textContent"))->toString(),
                 QStringLiteral("Living Room"));
        // Another device of the room is still off.
        QCOMPARE(browser.evaluate(pictureOf(QStringLiteral("Fan")) + QStringLiteral(".getAttribute('src')"))
                     ->toString(),
                 QStringLiteral("fanoff.gif"));
        const QByteArray room = browser.screenshot();
        QVERIFY(isPng(room, width, height));
        keep(room, QStringLiteral("remote-room.png"));

        // The same link now switches it off again.
        QVERIFY(browser.click(onPicture));
        QTRY_VERIFY2_WITH_TIMEOUT(rig.simLog().contains(QLatin1String("A3 OFF LEVEL 0")),
                                  qPrintable(rig.simLog()), 15000);
        QVERIFY2(browser.waitFor(QStringLiteral("location.search.includes('~turnoff~') && "
                                                "document.readyState === 'complete' && "
                                                "%1.getAttribute('src') === 'bulboff.gif'")
                                     .arg(onPicture),
                                 15000),
                 qPrintable(browser.lastError()));

        // A page of another site (another loopback address is another site)
        // that makes the browser ask for a command link without naming
        // itself: nothing is switched.
        QTcpServer foreign;
        QVERIFY(foreign.listen(QHostAddress(QStringLiteral("127.0.0.2")), 0));
        connect(&foreign, &QTcpServer::newConnection, this, [&] {
            QTcpSocket* client = foreign.nextPendingConnection();
            connect(client, &QTcpSocket::readyRead, client, [client, base] {
                if (!client->readAll().contains("\r\n\r\n") || !client->isOpen())
                    return; // the whole head first
                client->write(QStringLiteral(
                              "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n"
                              "<html><body><img src=\"%1index.html?A~4~LivingRoomCeilingLight~"
                              "turnon~LivingRoom\" referrerpolicy=\"no-referrer\" "
                              "onload=\"window.asked = true\" onerror=\"window.asked = true\">"
                              "</body></html>")
                              .arg(base)
                              .toLatin1());
                client->disconnectFromHost();
            });
        });
        QVERIFY(browser.navigate(
            QStringLiteral("http://127.0.0.2:%1/").arg(foreign.serverPort())));
        QVERIFY2(browser.waitFor(QStringLiteral("window.asked === true"), 15000),
                 qPrintable(browser.lastError()));
        QVERIFY(listening(rig.webPort));
        QVERIFY2(!rig.simLog().contains(QLatin1String("A4 ")), qPrintable(rig.simLog()));
    }
};

QTEST_GUILESS_MAIN(TestRemoteBrowser)
#include "tst_remotebrowser.moc"
