#include "brokerprocess.h"
#include "enginerig.h"
#include "headlessbrowser.h"
#include "home/settingsstore.h"
#include "httpget.h"
#include "mqttclient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
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

    // An open page follows changes made elsewhere, within 2 s and without a
    // navigation: a wall switch on the power line, a hub's MQTT set. Its
    // slider dims a lamp; the TV page keeps its focus through an update;
    // the page says so when the engine is gone.
    void openPageStaysTrue()
    {
        if (test::HeadlessBrowser::executable().isEmpty())
            QSKIP("Chromium is not installed (Debian package chromium)");
        if (!test::BrokerProcess::installed())
            QSKIP(test::BrokerProcess::missing());
        Rig rig;
        test::BrokerProcess broker;
        test::MqttClient hub;
        QVERIFY(broker.start() && hub.connectTo(broker.port()));
        rig.settings.write(settingkeys::mqtthost, QStringLiteral("127.0.0.1"));
        rig.settings.write(settingkeys::mqttport, QString::number(broker.port()));
        rig.throughLink = true; // so the interface can be lost and found again
        QVERIFY(rig.start());
        QTRY_VERIFY_WITH_TIMEOUT(listening(rig.webPort), 15000);
        test::HeadlessBrowser browser;
        if (const QString why = browser.start(390, 844); !why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("Chromium cannot run here: ") + why));

        const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(rig.webPort);
        QVERIFY(browser.navigate(base + QStringLiteral("index.html?loadroomLivingRoom")));
        const QString lamp = pictureOf(QStringLiteral("Table Lamp"));
        QVERIFY2(browser.waitFor(QStringLiteral("document.readyState === 'complete' && "
                                                "%1.alt === 'Table Lamp: Off'").arg(lamp),
                                 15000),
                 qPrintable(browser.lastError()));
        QVERIFY(browser.evaluate(QStringLiteral("window.samePage = true")));
        // What a screen reader gets: the pictures' names and the slider's.
        const auto tree = browser.call(QStringLiteral("Accessibility.getFullAXTree"));
        QVERIFY2(tree, qPrintable(browser.lastError()));
        const QByteArray names = QJsonDocument(tree->value(QStringLiteral("nodes")).toArray()).toJson();
        QVERIFY(names.contains("\"Table Lamp: Off\""));
        QVERIFY(names.contains("\"Level of Ceiling Light\""));
        QVERIFY(names.contains("\"slider\""));

        const auto changesWithin2s = [&](const QString& condition) {
            QElapsedTimer clock;
            clock.start();
            const bool seen = browser.waitFor(condition + QStringLiteral(" && window.samePage"), 2000);
            qInfo("shown after %lld ms", clock.elapsed());
            return seen;
        };
        // A wall switch.
        rig.sim.command(QStringLiteral("A3 ON"));
        QVERIFY2(changesWithin2s(QStringLiteral("%1.getAttribute('src') === 'bulbon.gif' && "
                                                "%1.alt === 'Table Lamp: On'").arg(lamp)),
                 qPrintable(rig.simLog()));
        // A hub's set.
        hub.publish(QStringLiteral("casalux/LivingRoomFan/set"), "ON");
        QVERIFY2(changesWithin2s(pictureOf(QStringLiteral("Fan")) +
                                 QStringLiteral(".getAttribute('src') === 'fanon.gif'")),
                 qPrintable(broker.log()));
        keep(browser.screenshot(), QStringLiteral("remote-phone-light.png"));
        const auto scheme = [&](const char* value) {
            return browser.call(
                QStringLiteral("Emulation.setEmulatedMedia"),
                {{QStringLiteral("features"),
                  QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("prefers-color-scheme")},
                                         {QStringLiteral("value"), QString::fromLatin1(value)}}}}});
        };
        QVERIFY(scheme("dark"));
        keep(browser.screenshot(), QStringLiteral("remote-phone-dark.png"));

        // The slider: one dim when let go, recorded at that level.
        const QString slider = QStringLiteral("document.querySelector('input[aria-label=\"Level of "
                                              "Ceiling Light\"]')");
        QVERIFY(browser.evaluate(QStringLiteral("(s => { s.value = 40; s.dispatchEvent(new "
                                                "Event('change')); return true; })(%1)")
                                     .arg(slider)));
        QTRY_VERIFY2_WITH_TIMEOUT(rig.simLog().contains(QRegularExpression(
                                      QStringLiteral("A4 DIM \\d+/22 LEVEL \\d+"))),
                                  qPrintable(rig.simLog()), 15000);
        QVERIFY2(browser.waitFor(QStringLiteral("document.readyState === 'complete' && "
                                                "%1 && %1.value === '40' && "
                                                "%1.closest('.cell').querySelector('.state')"
                                                ".textContent === 'On 40 %'")
                                     .arg(slider),
                                 15000),
                 qPrintable(browser.lastError()));
        // As the engine wrote it (read afresh: this process's store keeps what it read).
        QCOMPARE(SettingsStore(rig.folder.file(QStringLiteral("machine.ini")), QString())
                     .GetString(SettingsStore::Root::LocalMachine,
                                        QString::fromLatin1(settingkeys::casaluxPath),
                                        QStringLiteral("dimLivingRoomCeilingLight")),
                 QStringLiteral("40"));

        // The TV page: the focused tile stays focused while another changes.
        QVERIFY(browser.navigate(base + QStringLiteral("wmcindex.html?loadroomLivingRoom")));
        QVERIFY2(browser.waitFor(QStringLiteral("document.readyState === 'complete' && "
                                                "document.getElementById('module1') !== null"),
                                 15000),
                 qPrintable(browser.lastError()));
        QVERIFY(browser.evaluate(QStringLiteral(
            "document.getElementById('module3').focus(), window.samePage = true")));
        rig.sim.command(QStringLiteral("A3 OFF"));
        QVERIFY(changesWithin2s(QStringLiteral(
            "document.querySelector('#module1 img').getAttribute('src') === 'bulboff.gif' && "
            "document.activeElement.id === 'module3'")));
        QVERIFY(browser.call(QStringLiteral("Emulation.setDeviceMetricsOverride"),
                             {{QStringLiteral("width"), 1280},
                              {QStringLiteral("height"), 720},
                              {QStringLiteral("deviceScaleFactor"), 1},
                              {QStringLiteral("mobile"), false}}));
        keep(browser.screenshot(), QStringLiteral("remote-tv.png"));

        // The installability check of the browser accepts the manifest.
        QVERIFY(browser.navigate(base + QStringLiteral("index.html?loadroomLivingRoom")));
        QVERIFY(browser.waitFor(QStringLiteral("document.readyState === 'complete'"), 15000));
        const auto install = browser.call(QStringLiteral("Page.getInstallabilityErrors"));
        QVERIFY2(install, qPrintable(browser.lastError()));
        QVERIFY2(install->value(QStringLiteral("installabilityErrors")).toArray().isEmpty(),
                 QJsonDocument(*install).toJson().constData());

        // The interface lost: the notice comes to the open page; a click
        // leaves the tile as it was and says why; the notice goes once the
        // interface is found again.
        const QString notice = QStringLiteral("document.getElementById('livenotice')");
        QVERIFY(browser.evaluate(QStringLiteral("window.samePage = true")));
        rig.sim.kill();
        QVERIFY(browser.waitFor(QStringLiteral("window.samePage && %1 && %1.textContent.includes("
                                               "'interface is not connected')").arg(notice),
                                10000));
        QVERIFY(browser.click(pictureOf(QStringLiteral("Radio"))));
        QVERIFY2(browser.waitFor(QStringLiteral("document.readyState === 'complete' && "
                                                "location.search.includes('~turnon~') && "
                                                "document.body.textContent.includes('Not switched:') && "
                                                "%1.getAttribute('src') === 'radiooff.gif'")
                                     .arg(pictureOf(QStringLiteral("Radio"))),
                                 15000),
                 qPrintable(browser.lastError()));
        QVERIFY(browser.evaluate(QStringLiteral("window.samePage = true")));
        test::SimProcess back;
        QVERIFY(back.start({}, 0));
        QVERIFY(rig.relink(back));
        QVERIFY(browser.waitFor(QStringLiteral("window.samePage && ![...document.querySelectorAll("
                                               "'p.notice')].some(p => p.textContent.includes("
                                               "'interface is not connected'))"),
                                15000));

        // The engine gone: the page says so rather than showing old states.
        rig.engine.kill();
        QVERIFY(browser.waitFor(QStringLiteral("window.samePage && document.body.classList."
                                               "contains('stale') && document.getElementById("
                                               "'livenotice').textContent.includes('cannot be "
                                               "reached')"),
                                5000));
    }
};

QTEST_GUILESS_MAIN(TestRemoteBrowser)
#include "tst_remotebrowser.moc"
