#include "corefixture.h"
#include "filesizelimit.h"
#include "home/settingsstore.h"
#include "home/textlistfile.h"
#include "httpget.h"
#include "platform/clock.h"
#include "remote/remoteserver.h"
#include "remote/weboptions.h"
#include "scriptedprompts.h"
#include "servlane.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QtTest>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace casalux;

// The remote-control pages served for real over TCP, with a recording
// interface standing in for the power line.
class TestRemoteServer : public QObject {
    Q_OBJECT

    // The core serving its pages on a free port, for a living room of three
    // devices.
    struct Serving : test::CoreFixture {
        quint16 port = 0;

        Serving()
        {
            folder.write(QStringLiteral("html/index.html"),
                         "<h1><room></h1>\r\n<li><room1></li><li><room2></li>\r\n"
                         "<p><dev0></p><p><dev1></p><p><dev2></p>\r\n");
            folder.write(
                QStringLiteral("html/wmcindex.html"),
                "<body MCFocusStart=\"option1\"><h1><room></h1>\r\n"
                "<div ID=\"option1\" class=\"button2\" MCFocusable=\"true\"><room1></div>\r\n"
                "<div ID=\"module1\" class=\"imcl1\" MCFocusable=\"true\"><dev0></div>\r\n"
                "<div ID=\"module2\" class=\"imcl1\" MCFocusable=\"true\"><dev1></div>\r\n"
                "<div ID=\"module3\" class=\"imcl1\" MCFocusable=\"true\"><dev2></div>\r\n");
            folder.write(QStringLiteral("html/bulbon.gif"), "GIF89a-picture");
            folder.write(QStringLiteral("html/switchon.gif"), "GIF89a-switch");
            writeList("Living Room~~~\r\n"
                      "Living Room~Lamp~A~3\r\n"
                      "Living Room~Fan~A~4\r\n"
                      "Living Room~Table Lamp~A~5\r\n");
            port = test::freePort();
            settings.write(settingkeys::webport, QString::number(port));
            core.server.startserver();
        }
        QByteArray get(const QString& target, const QString& auth = {})
        {
            return QCoro::waitFor(test::httpGet(port, target, auth));
        }
    };

private Q_SLOTS:
    void init() { Clock::instance().freeze(QDateTime(QDate(2026, 3, 5), QTime(14, 5, 9)), 200); }
    void cleanup() { Clock::instance().useSystemTime(); }

    void mediaCenterStartPageWithoutLastRoom()
    {
        Serving rig;
        QVERIFY(rig.core.server.web().ServerRunning());
        const QByteArray page = rig.get(QStringLiteral("/wmcindex.html"));
        QVERIFY2(page.startsWith("HTTP/1."), page.constData());
        QVERIFY(page.contains("<h1>Please Select A Room From The List On The Left</h1>"));
        QVERIFY(page.contains("<div>&nbsp</div>"));
        QVERIFY(page.contains("wmcindex.html?loadroomLivingRoom"));
        QVERIFY(!page.contains("module1"));
        QVERIFY(!rig.core.server.serving());
    }

    void mediaCenterStartPageShowsLastRoom()
    {
        Serving rig;
        rig.settings.write(settingkeys::lastroom, QStringLiteral("LivingRoom"));
        const QByteArray page = rig.get(QStringLiteral("/wmcindex.html"));
        QVERIFY2(page.contains("<h1>Living Room</h1>"), page.constData());
        QVERIFY(page.contains("wmcindex.html?A~4~LivingRoomFan~turnon~LivingRoom~1"));
        QVERIFY(page.contains(PageBuilder::moduleAttribute(3).toLatin1()));
        QVERIFY(!page.contains("Please Select"));
    }

    void standardStartPageShowsLastRoom()
    {
        Serving rig;
        rig.settings.write(settingkeys::lastroom, QStringLiteral("LivingRoom"));
        const QByteArray page = rig.get(QStringLiteral("/index.html"));
        QVERIFY(page.contains("<h1>Living Room</h1>"));
        QVERIFY(page.contains("index.html?A~3~LivingRoomLamp~turnon~LivingRoom"));
    }

    void standardCommandSwitchesDevice()
    {
        Serving rig;
        rig.view.room = QStringLiteral("Living Room");
        rig.view.names = {QStringLiteral("Table Lamp"), QStringLiteral("Lamp")};
        const QByteArray page =
            rig.get(QStringLiteral("/index.html?A~3~LivingRoomLamp~turnon~LivingRoom"));
        QCOMPARE(rig.control.sent.size(), 1);
        QCOMPARE(rig.control.sent[0].text(), QStringLiteral("A3 2 20"));
        QCOMPARE(rig.machineValue(QStringLiteral("LivingRoomLamp")), QStringLiteral("True"));
        QCOMPARE(rig.machineValue(QStringLiteral("dimLivingRoomLamp")), QStringLiteral("100"));
        QCOMPARE(rig.status.activity.last(),
                 QStringLiteral("Internet Turned ON device with housecode A3 at 14:05:09"));
        // The page comes back with the lamp on, offering to turn it off.
        QVERIFY(page.contains("index.html?A~3~LivingRoomLamp~turnoff~LivingRoom"));

        rig.get(QStringLiteral("/index.html?A~3~LivingRoomLamp~turnoff~LivingRoom"));
        QCOMPARE(rig.control.sent.last().text(), QStringLiteral("A3 3 20"));
        QCOMPARE(rig.machineValue(QStringLiteral("dimLivingRoomLamp")), QStringLiteral("20"));
        // The window on the same program shows it too.
        QCOMPARE(rig.view.changes, (QStringList{"on 1 LivingRoomLamp", "slider 1 100",
                                                "off 1 LivingRoomLamp", "slider 1 20"}));
    }

    // HEAD changes nothing: it gets the page's headers, and no command runs
    // and no setting is written.
    void headRunsNoCommand_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("standard command") << "/index.html?A~3~LivingRoomLamp~turnon~LivingRoom";
        QTest::newRow("TV command") << "/wmcindex.html?A~3~LivingRoomLamp~turnon~LivingRoom~2";
        QTest::newRow("TV room") << "/wmcindex.html?loadroomLivingRoom";
    }
    void headRunsNoCommand()
    {
        QFETCH(QString, target);
        Serving rig;
        const QByteArray answer = QCoro::waitFor(test::httpRequest(rig.port, "HEAD", target));
        QVERIFY2(answer.startsWith("HTTP/1.") && answer.contains(" 200 "), answer.constData());
        QVERIFY2(answer.endsWith("\r\n\r\n"), answer.constData());
        QVERIFY(rig.control.sent.isEmpty());
        QCOMPARE(rig.machineValue(QStringLiteral("LivingRoomLamp")), QString());
        QCOMPARE(rig.settings.read(settingkeys::lastroom), QString());
        QCOMPARE(rig.settings.read(settingkeys::lastdev), QString());
        QVERIFY(!rig.status.activity.join(QLatin1Char('|')).contains(QLatin1String("Internet")));
    }

    void mediaCenterCommandRemembersSlot()
    {
        Serving rig;
        const QByteArray page =
            rig.get(QStringLiteral("/wmcindex.html?A~4~LivingRoomFan~turnon~LivingRoom~3"));
        QCOMPARE(rig.control.sent.last().text(), QStringLiteral("A4 2 20"));
        QCOMPARE(rig.settings.read(settingkeys::lastdev), QStringLiteral("4"));
        QCOMPARE(rig.settings.read(settingkeys::lastroom), QStringLiteral("LivingRoom"));
        QVERIFY(page.contains("wmcindex.html?A~4~LivingRoomFan~turnoff~LivingRoom~1"));
        // The TV page adds no text of its own to the status bar.
        QVERIFY(!rig.status.activity.join(QLatin1Char('|')).contains(QLatin1String("Internet")));
    }

    // A command the interface could not carry out changes nothing: the page
    // comes back with the lamp's picture as it was and the reason under it,
    // on both page families.
    void commandNotSentLeavesThePictureAndSaysWhy()
    {
        Serving rig;
        rig.control.setSendResult(false, QStringLiteral("the adapter <is> unplugged"));
        const QByteArray page =
            rig.get(QStringLiteral("/index.html?A~3~LivingRoomLamp~turnon~LivingRoom"));
        QCOMPARE(rig.control.sent.size(), 1);
        QCOMPARE(rig.machineValue(QStringLiteral("LivingRoomLamp")), QString());
        QVERIFY(page.contains("<h1>Living Room</h1>"));
        // Still offering to turn it on, and the notice in the lamp's cell.
        const qsizetype lamp = page.indexOf("LivingRoomLamp~turnon~LivingRoom");
        const qsizetype notice =
            page.indexOf("Not switched: the adapter &lt;is&gt; unplugged.</span>");
        const qsizetype fan = page.indexOf("LivingRoomFan~turnon~");
        QVERIFY2(lamp > 0 && notice > lamp && fan > notice, page.constData());
        QVERIFY(!rig.status.activity.join(QLatin1Char('|')).contains(QLatin1String("Turned")));
        QVERIFY(rig.status.activity.last().startsWith(QLatin1String("Could not send ON")));

        const QByteArray tv =
            rig.get(QStringLiteral("/wmcindex.html?A~4~LivingRoomFan~turnon~LivingRoom~1"));
        QCOMPARE(rig.machineValue(QStringLiteral("LivingRoomFan")), QString());
        QVERIFY2(tv.contains("Not switched: the adapter"), tv.constData());
        QVERIFY(tv.contains("wmcindex.html?A~4~LivingRoomFan~turnon~LivingRoom~1"));
    }

    // An open page asks for its room's states: the same answer again costs a
    // 304; any recorded change, a level or a notice, gives a new one.
    void statesFollowEveryRecord()
    {
        Serving rig;
        rig.settings.SaveSetting(QStringLiteral("Casalux"), QStringLiteral("type"),
                                 QStringLiteral("LivingRoomLamp"), QStringLiteral("bulb"));
        const auto body = [](const QByteArray& answer) {
            return QJsonDocument::fromJson(answer.mid(answer.indexOf("\r\n\r\n") + 4)).object();
        };
        const auto tagOf = [](const QByteArray& answer) {
            const qsizetype at = answer.indexOf("\r\nETag: ") + 8;
            return QString::fromLatin1(answer.mid(at, answer.indexOf("\r\n", at) - at));
        };
        QByteArray first = rig.get(QStringLiteral("/states.json?LivingRoom"));
        QVERIFY2(first.startsWith("HTTP/1.0 200") && first.contains("application/json"),
                 first.constData());
        QJsonArray devices = body(first)[QStringLiteral("devices")].toArray();
        QCOMPARE(devices.size(), 3);
        QCOMPARE(devices[0][QStringLiteral("head")].toString(), QStringLiteral("A~3~LivingRoomLamp"));
        QCOMPARE(devices[0][QStringLiteral("text")].toString(), QStringLiteral("Off"));
        QCOMPARE(devices[0][QStringLiteral("picture")].toString(), QStringLiteral("bulboff.gif"));
        QVERIFY(devices[0][QStringLiteral("dimmable")].toBool());
        QVERIFY(!devices[1][QStringLiteral("dimmable")].toBool());
        const QString tag = tagOf(first);
        QVERIFY(tag.startsWith(QLatin1Char('"')));
        const QByteArray same = QCoro::waitFor(test::httpGetWith(
            rig.port, QStringLiteral("/states.json?LivingRoom"), {QStringLiteral("If-None-Match: ") + tag}));
        QVERIFY2(same.startsWith("HTTP/1.0 304"), same.constData());
        QVERIFY(same.endsWith("\r\n\r\n"));

        rig.core.deviceStatus.setlevel(QStringLiteral("LivingRoomLamp"), 40);
        const QByteArray changed = QCoro::waitFor(test::httpGetWith(
            rig.port, QStringLiteral("/states.json?LivingRoom"), {QStringLiteral("If-None-Match: ") + tag}));
        QVERIFY2(changed.startsWith("HTTP/1.0 200"), changed.constData());
        QVERIFY(tagOf(changed) != tag);
        devices = body(changed)[QStringLiteral("devices")].toArray();
        QCOMPARE(devices[0][QStringLiteral("text")].toString(), QStringLiteral("On 40 %"));
        QCOMPARE(devices[0][QStringLiteral("level")].toInt(), 40);
        QCOMPARE(devices[0][QStringLiteral("picture")].toString(), QStringLiteral("bulbon.gif"));

        rig.core.server.setPageNotice([] { return QStringLiteral("Interface lost"); });
        QCOMPARE(body(rig.get(QStringLiteral("/states.json?LivingRoom")))[QStringLiteral("notice")]
                     .toString(),
                 QStringLiteral("Interface lost"));
        // The page's own copy is the one its script keeps up to date.
        QVERIFY(rig.get(QStringLiteral("/index.html")).contains("id=\"livenotice\""));
        QVERIFY(!rig.core.server.serving());
        QVERIFY(rig.control.sent.isEmpty());
    }

    // A level from a page's slider dims the lamp through the same checked
    // path as a click and records that level; 0 switches it off.
    void dimFromThePage_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("stored"); // the state recorded
        QTest::addColumn<QString>("level");
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("40") << "/index.html?A~3~LivingRoomLamp~dim40~LivingRoom" << "True"
                            << "40" << QByteArray("On 40 %");
        QTest::newRow("TV page") << "/wmcindex.html?A~3~LivingRoomLamp~dim65~LivingRoom~0"
                                 << "True" << "65"
                                 << QByteArray("A~3~LivingRoomLamp~turnoff~LivingRoom~0");
        QTest::newRow("100") << "/index.html?A~3~LivingRoomLamp~dim100~LivingRoom" << "True"
                             << "100" << QByteArray(">On<");
        QTest::newRow("0") << "/index.html?A~3~LivingRoomLamp~dim0~LivingRoom" << "False" << "20"
                           << QByteArray(">Off<");
        QTest::newRow("over 100") << "/index.html?A~3~LivingRoomLamp~dim140~LivingRoom" << ""
                                  << "" << QByteArray("<h1><room></h1>");
    }
    void dimFromThePage()
    {
        QFETCH(QString, target);
        QFETCH(QString, stored);
        QFETCH(QString, level);
        QFETCH(QByteArray, shown);
        Serving rig;
        rig.folder.write(QStringLiteral("html/index.html"),
                         "<h1><room></h1><p><dev0><state0></p><p><dev1><state1></p>\r\n");
        rig.settings.SaveSetting(QStringLiteral("Casalux"), QStringLiteral("type"),
                                 QStringLiteral("LivingRoomLamp"), QStringLiteral("bulb"));
        const QByteArray page = rig.get(target);
        QVERIFY2(page.contains(shown), page.constData());
        QCOMPARE(rig.machineValue(QStringLiteral("LivingRoomLamp")), stored);
        QCOMPARE(rig.machineValue(QStringLiteral("dimLivingRoomLamp")), level);
        QCOMPARE(rig.control.sent.isEmpty(), stored.isEmpty());
        if (!stored.isEmpty() && target.startsWith(QLatin1String("/index"))) // the TV page says nothing
            QVERIFY(rig.status.activity.last().contains(stored == QLatin1String("True") ? "Turned ON"
                                                                                       : "Turned OFF"));
        QVERIFY(!rig.core.server.serving());
    }

    // A dim the interface could not send records nothing and says why.
    void dimNotSentRecordsNothing()
    {
        Serving rig;
        rig.settings.SaveSetting(QStringLiteral("Casalux"), QStringLiteral("type"),
                                 QStringLiteral("LivingRoomLamp"), QStringLiteral("bulb"));
        rig.control.setSendResult(false, QStringLiteral("no interface"));
        const QByteArray page =
            rig.get(QStringLiteral("/index.html?A~3~LivingRoomLamp~dim40~LivingRoom"));
        QVERIFY2(page.contains("Not switched: no interface."), page.constData());
        QCOMPARE(rig.machineValue(QStringLiteral("LivingRoomLamp")), QString());
        QCOMPARE(rig.machineValue(QStringLiteral("dimLivingRoomLamp")), QString());
    }

    // Hand-made queries never reach the power line or the settings.
    void badCommandsSendNothing_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("too few fields") << "/index.html?A~3~turnon";
        QTest::newRow("media center too few")
            << "/wmcindex.html?A~3~LivingRoomLamp~turnon~LivingRoom";
        QTest::newRow("unknown device") << "/index.html?A~3~port~turnon~LivingRoom";
        QTest::newRow("bad house") << "/index.html?Q~3~LivingRoomLamp~turnon~LivingRoom";
        QTest::newRow("bad unit") << "/index.html?A~17~LivingRoomLamp~turnon~LivingRoom";
        QTest::newRow("dim, not a lamp") << "/index.html?A~4~LivingRoomFan~dim40~LivingRoom";
    }
    void badCommandsSendNothing()
    {
        QFETCH(QString, target);
        Serving rig;
        const QByteArray page = rig.get(target);
        QVERIFY(rig.control.sent.isEmpty());
        QVERIFY(page.contains("Please Select A Room From The List On The Left"));
        QCOMPARE(rig.machineValue(QStringLiteral("port")), QString());
        QVERIFY(!rig.core.server.serving());
    }

    // A command switches the device it names only at that device's own
    // address: a link edited to another address, or to a name the list does
    // not hold, switches and records nothing.
    void commandNeedsTheNamedDevicesAddress_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("another house") << "/index.html?P~3~LivingRoomLamp~turnon~LivingRoom";
        QTest::newRow("another unit, a device of the list")
            << "/index.html?A~4~LivingRoomLamp~turnon~LivingRoom";
        QTest::newRow("another house and unit")
            << "/index.html?P~16~LivingRoomLamp~turnon~LivingRoom";
        QTest::newRow("house in lower case, another unit")
            << "/index.html?a~5~LivingRoomLamp~turnoff~LivingRoom";
        QTest::newRow("TV page, another unit")
            << "/wmcindex.html?A~5~LivingRoomLamp~turnon~LivingRoom~0";
        QTest::newRow("device not in the list") << "/index.html?A~3~KitchenLamp~turnon~LivingRoom";
    }
    void commandNeedsTheNamedDevicesAddress()
    {
        QFETCH(QString, target);
        Serving rig;
        const QByteArray page = rig.get(target);
        QVERIFY(rig.control.sent.isEmpty());
        for (const char* key :
             {"LivingRoomLamp", "LivingRoomFan", "LivingRoomTableLamp", "KitchenLamp"})
            QCOMPARE(rig.machineValue(QString::fromLatin1(key)), QString());
        QCOMPARE(rig.settings.read(settingkeys::lastdev), QString());
        QVERIFY2(page.contains("Please Select A Room From The List On The Left"), page.constData());
        QVERIFY(!rig.core.server.serving());
    }

    // The action is read from its own field: a name holding "loadroom",
    // "turnon" or "turnoff" is only a name, on both pages.
    void actionWordsInNamesAreOnlyNames()
    {
        Serving rig;
        rig.folder.write(QStringLiteral("rmlst.rvf"), "Loadroom~~~\r\n"
                                                      "Turnon Den~~~\r\n"
                                                      "Loadroom~Turnoff Switch~B~7\r\n"
                                                      "Turnon Den~Lamp~B~8\r\n");
        const QByteArray room = rig.get(QStringLiteral("/index.html?loadroomLoadroom"));
        QVERIFY2(room.contains("<h1>Loadroom</h1>"), room.constData());
        QVERIFY(room.contains("index.html?B~7~LoadroomTurnoffSwitch~turnon~Loadroom"));

        rig.get(QStringLiteral("/index.html?B~7~LoadroomTurnoffSwitch~turnon~Loadroom"));
        QCOMPARE(rig.control.sent.size(), 1);
        QCOMPARE(rig.control.sent.last().text(), QStringLiteral("B7 2 20"));
        QCOMPARE(rig.machineValue(QStringLiteral("LoadroomTurnoffSwitch")), QStringLiteral("True"));

        rig.core.deviceStatus.setstatus(QStringLiteral("TurnonDenLamp"), QStringLiteral("on"),
                                   QStringLiteral("100"));
        const QByteArray off =
            rig.get(QStringLiteral("/index.html?B~8~TurnonDenLamp~turnoff~TurnonDen"));
        QCOMPARE(rig.control.sent.size(), 2);
        QCOMPARE(rig.control.sent.last().text(), QStringLiteral("B8 3 20"));
        QCOMPARE(rig.machineValue(QStringLiteral("TurnonDenLamp")), QStringLiteral("False"));
        QVERIFY(off.contains("<h1>Turnon Den</h1>"));

        // The TV page's six fields, the slot after the room.
        const QByteArray tv =
            rig.get(QStringLiteral("/wmcindex.html?B~8~TurnonDenLamp~TURNON~TurnonDen~0"));
        QCOMPARE(rig.control.sent.size(), 3);
        QCOMPARE(rig.control.sent.last().text(), QStringLiteral("B8 2 20"));
        QCOMPARE(rig.machineValue(QStringLiteral("TurnonDenLamp")), QStringLiteral("True"));
        QCOMPARE(rig.settings.read(settingkeys::lastdev), QStringLiteral("1"));
        QVERIFY(tv.contains("wmcindex.html?B~8~TurnonDenLamp~turnoff~TurnonDen~0"));
    }

    void otherRequestsPassThrough_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("picture") << "/bulbon.gif" << QByteArray("GIF89a-picture");
        QTest::newRow("no keyword") << "/index.html?hello" << QByteArray("<li><room1></li>");
        QTest::newRow("no keyword, TV page") << "/wmcindex.html?hello" << QByteArray("<room1>");
    }
    void otherRequestsPassThrough()
    {
        QFETCH(QString, target);
        QFETCH(QByteArray, expected);
        Serving rig;
        const QByteArray page = rig.get(target);
        QVERIFY2(page.contains(expected), page.constData());
        QVERIFY(!rig.core.server.serving());
    }

    // Names with spaces travel as keys without them; the labels keep them.
    // The TV page's focus then starts on the module last switched in the room.
    void roomPagesFollowTheLinks()
    {
        Serving rig;
        const QByteArray switched =
            rig.get(QStringLiteral("/wmcindex.html?A~5~LivingRoomTableLamp~turnon~LivingRoom~2"));
        QCOMPARE(rig.control.sent.last().text(), QStringLiteral("A5 2 20"));
        QCOMPARE(rig.machineValue(QStringLiteral("LivingRoomTableLamp")), QStringLiteral("True"));
        QCOMPARE(rig.settings.read(settingkeys::lastdev), QStringLiteral("3"));
        QVERIFY(switched.contains("size=\"6\">Table Lamp</font>"));
        QVERIFY(switched.contains(
            "href=\"wmcindex.html?A~5~LivingRoomTableLamp~turnoff~LivingRoom~2\""));
        QVERIFY(switched.contains("MCFocusStart=\"option1\"")); // first visit of the room

        const QByteArray again = rig.get(QStringLiteral("/wmcindex.html?loadroomLivingRoom"));
        QVERIFY(again.contains("<body MCFocusStart=\"module3\">"));
        const QByteArray standard = rig.get(QStringLiteral("/index.html?LOADROOMLivingRoom"));
        QVERIFY(
            standard.contains("<p><font face=\"Verdana\" color=\"#FFFFFF\"><a "
                              "href=\"index.html?A~5~LivingRoomTableLamp~turnoff~LivingRoom\">"));
    }

    // Names with quotes or accented letters: the links carry them
    // percent-encoded, and following the links finds the room and switches
    // the device.
    void linksCarryAnyNameSafely()
    {
        Serving rig;
        rig.folder.write(QStringLiteral("rmlst.rvf"), "Salle \xE0 manger~~~\r\n"
                                                      "Salle \xE0 manger~Lampe \"ronde\"~B~2\r\n");
        const QByteArray start = rig.get(QStringLiteral("/index.html"));
        QVERIFY(start.contains("href=\"index.html?loadroomSalle%E0manger\">"));

        const QByteArray room = rig.get(QStringLiteral("/index.html?loadroomSalle%E0manger"));
        QVERIFY(room.contains("Lampe &quot;ronde&quot;</font>"));
        const QString link =
            QStringLiteral("index.html?B~2~Salle%E0mangerLampe%22ronde%22~turnon~Salle%E0manger");
        QVERIFY(room.contains("href=\"" + link.toLatin1() + "\""));

        const QByteArray switched = rig.get(QLatin1Char('/') + link);
        QCOMPARE(rig.control.sent.last().text(), QStringLiteral("B2 2 20"));
        QCOMPARE(rig.machineValue(QString::fromLatin1("Salle\xE0mangerLampe\"ronde\"")),
                 QStringLiteral("True"));
        QVERIFY(switched.contains("~turnoff~Salle%E0manger\""));
    }

    // "loadroom" with nothing after it names no room: an empty room page,
    // nothing switched, and the TV start page shows the room prompt again.
    void emptyRoomKey()
    {
        Serving rig;
        const QByteArray standard = rig.get(QStringLiteral("/index.html?loadroom"));
        QVERIFY2(standard.contains("<h1></h1>"), standard.constData());
        QVERIFY(standard.contains("index.html?loadroomLivingRoom"));
        QVERIFY(!standard.contains("~turnon~"));
        const QByteArray tv = rig.get(QStringLiteral("/wmcindex.html?loadroom"));
        QVERIFY(!tv.contains("MCFocusable=\"true\"><dev") && !tv.contains("module1"));
        QCOMPARE(rig.settings.read(settingkeys::lastroom), QString());
        QVERIFY(rig.get(QStringLiteral("/wmcindex.html")).contains("Please Select A Room"));
        QVERIFY(rig.control.sent.isEmpty());
    }

    // A second request that arrives during the first one's command pause is
    // answered after it, each with its own complete page.
    void requestsAnsweredOneAtATime()
    {
        Serving rig;
        QList<QByteArray> order;
        auto first = [&]() -> QCoro::Task<> {
            order.append(co_await test::httpGet(
                rig.port, QStringLiteral("/index.html?A~3~LivingRoomLamp~turnon~LivingRoom")));
        };
        auto second = [&]() -> QCoro::Task<> {
            co_await Clock::instance().sleep(0.2); // arrives while the first is in its pause
            order.append(
                co_await test::httpGet(rig.port, QStringLiteral("/index.html?loadroomLivingRoom")));
        };
        auto a = first();
        auto b = second();
        QCoro::waitFor(a);
        QCoro::waitFor(b);
        QCOMPARE(order.size(), 2);
        QVERIFY(order[0].contains("~turnoff~"));
        QVERIFY(order[1].contains("<h1>Living Room</h1>"));
        QVERIFY(order[1].contains("LivingRoomLamp~turnoff~")); // sees the first one's change
    }

    // Only device commands take turns. A picture never waits for them, and
    // a page that switches nothing waits only for the command on the line
    // when it came, not for the ones queued behind it.
    void onlyCommandsTakeTurns()
    {
        Serving rig;
        rig.control.setSendSeconds(100); // half a second of real time each
        std::vector<QCoro::Task<QByteArray>> commands;
        for (const char* target : {"/index.html?A~3~LivingRoomLamp~turnon~LivingRoom",
                                   "/index.html?A~4~LivingRoomFan~turnon~LivingRoom",
                                   "/index.html?A~5~LivingRoomTableLamp~turnon~LivingRoom"})
            commands.push_back(test::httpGet(rig.port, QString::fromLatin1(target)));
        QTRY_COMPARE(rig.control.sent.size(), 1);
        QVERIFY(rig.get(QStringLiteral("/bulbon.gif")).endsWith("GIF89a-picture"));
        QCOMPARE(rig.control.sent.size(), 1);
        const QByteArray room = rig.get(QStringLiteral("/index.html?loadroomLivingRoom"));
        QVERIFY(room.contains("LivingRoomLamp~turnoff~")); // the first command's result
        QVERIFY(rig.control.sent.size() < 3);
        for (auto& command : commands)
            QVERIFY(QCoro::waitFor(std::move(command)).contains("<h1>Living Room</h1>"));
        QCOMPARE(rig.control.sent.size(), 3);
    }

    // A page's command waits for one of another part of the program (a
    // timed event's dimming here) that is on the line, and never cuts into it.
    void pageCommandWaitsForTheLine()
    {
        Serving rig;
        rig.control.setSendSeconds(100); // half a second of real time each
        auto timed = rig.core.commands.turnon(QStringLiteral("A"), QStringLiteral("5"), 50);
        QCOMPARE(rig.control.sent.size(), 1);
        QVERIFY(rig.get(QStringLiteral("/index.html?A~3~LivingRoomLamp~turnon~LivingRoom"))
                    .contains("LivingRoomLamp~turnoff~"));
        QVERIFY(QCoro::waitFor(std::move(timed)).isDone());
        QStringList sent;
        for (const auto& command : rig.control.sent)
            sent.append(command.text());
        QCOMPARE(sent, (QStringList{"A5 2 0", "A5 5 100", "A5 4 50", "A3 2 20"}));
    }

    // A flood of commands: the ones beyond the queue's bound are refused at
    // once, and a picture asked for meanwhile still finds a slot.
    void floodOfCommandsLeavesRoomForPictures()
    {
        Serving rig;
        rig.control.setSendSeconds(600); // three seconds of real time
        std::vector<QCoro::Task<QByteArray>> commands;
        const int flood = RemoteServer::maxWaitingCommands + 2;
        for (int i = 0; i < flood; ++i)
            commands.push_back(test::httpGet(
                rig.port, QStringLiteral("/index.html?A~3~LivingRoomLamp~turnon~LivingRoom")));
        const auto answered = [&] {
            return std::count_if(commands.begin(), commands.end(),
                                 [](const auto& c) { return c.isReady(); });
        };
        QTRY_COMPARE(answered(), 2);
        QVERIFY(rig.get(QStringLiteral("/bulbon.gif")).endsWith("GIF89a-picture"));
        QCOMPARE(rig.control.sent.size(), 1);
        rig.control.setSendSeconds(0);
        int refused = 0;
        for (auto& command : commands)
            refused += QCoro::waitFor(std::move(command)).contains("too many commands are waiting");
        QCOMPARE(refused, 2);
        QCOMPARE(rig.control.sent.size(), flood - 2);
    }

    // A request whose client hangs up while it waits its turn is dropped
    // before anything is built or switched for it, and its slot is freed.
    void clientGoneBeforeItsTurnSwitchesNothing()
    {
        Serving rig;
        rig.control.setSendSeconds(100); // half a second of real time
        auto first = [&]() -> QCoro::Task<QByteArray> {
            co_return co_await test::httpGet(
                rig.port, QStringLiteral("/index.html?A~3~LivingRoomLamp~turnon~LivingRoom"));
        };
        auto a = first();
        QTRY_COMPARE(rig.control.sent.size(), 1);
        {
            QTcpSocket leaving;
            leaving.connectToHost(QHostAddress::LocalHost, rig.port);
            QVERIFY(leaving.waitForConnected(2000));
            leaving.write("GET /index.html?A~4~LivingRoomFan~turnon~LivingRoom HTTP/1.0\r\n\r\n");
            QVERIFY(leaving.waitForBytesWritten(2000));
            QTest::qWait(100);
            leaving.abort();
        }
        QVERIFY(QCoro::waitFor(a).contains("LivingRoomLamp~turnoff~"));
        QTest::qWait(300); // the second request's turn comes and goes
        QCOMPARE(rig.control.sent.size(), 1);
        QCOMPARE(rig.machineValue(QStringLiteral("LivingRoomFan")), QString());
        QVERIFY(!rig.core.server.serving());
        rig.control.setSendSeconds(0);
        QVERIFY(rig.get(QStringLiteral("/index.html?loadroomLivingRoom"))
                    .contains("<h1>Living Room</h1>"));
    }

    // The server goes away with a command on the line and others waiting
    // their turn or for it: each ends without touching what is gone, and
    // nothing more is switched.
    void serverDestroyedWhileCommandsWait()
    {
        Serving rig;
        rig.control.setSendSeconds(100); // half a second of real time
        auto server = std::make_unique<RemoteServer>(RemoteServer::Parts{
            rig.folder.path(), rig.settings, rig.core.commands, rig.core.deviceStatus, rig.status});
        const quint16 port = test::freePort();
        rig.settings.write(settingkeys::webport, QString::number(port));
        server->startserver();
        QSignalSpy handed(&server->web(), &Servlane::FileRequest);
        std::vector<QCoro::Task<QByteArray>> requests;
        for (const char* target : {"/index.html?A~3~LivingRoomLamp~turnon~LivingRoom",
                                   "/index.html?A~4~LivingRoomFan~turnon~LivingRoom",
                                   "/index.html?loadroomLivingRoom"})
            requests.push_back(test::httpGet(port, QString::fromLatin1(target)));
        QTRY_COMPARE(handed.size(), 3);
        QTRY_COMPARE(rig.control.sent.size(), 1);
        server.reset();
        for (auto& request : requests)
            QCoro::waitFor(std::move(request)); // each ends, answered or cut off
        QTRY_VERIFY(!rig.core.commands.commandInProgress());
        QCoreApplication::sendPostedEvents(); // any wake-up still queued
        QCOMPARE(rig.control.sent.size(), 1);
    }

    void gateClosedSendsNothingAndSaysWhy()
    {
        Serving rig;
        rig.core.server.setCommandGate(
            [] { return QStringLiteral("The X10 interface has been handed over"); });
        const QByteArray page =
            rig.get(QStringLiteral("/wmcindex.html?A~3~LivingRoomLamp~turnon~LivingRoom~0"));
        QVERIFY(rig.control.sent.isEmpty());
        QVERIFY(page.contains("<body MCFocusStart=\"option1\"><p class=\"notice\""));
        QVERIFY(page.contains("The X10 interface has been handed over</p>"));
        QVERIFY(page.contains("LivingRoomLamp~turnon~")); // still off
        QCOMPARE(rig.machineValue(QStringLiteral("LivingRoomLamp")), QString());
    }

    // A command that a page of another site makes the browser send is
    // refused with a notice; clicks on the server's own pages and clients
    // that name no page switch as before. "%1" stands for the server's port.
    void crossSiteCommandsRefused_data()
    {
        QTest::addColumn<QStringList>("headers");
        QTest::addColumn<bool>("switched");
        const auto row = [](const char* name, QStringList headers, bool switched) {
            QTest::newRow(name) << headers << switched;
        };
        row("foreign Origin", {"Host: 127.0.0.1:%1", "Origin: http://evil.example"}, false);
        row("foreign Referer", {"Host: 127.0.0.1:%1", "Referer: http://evil.example/x.html"},
            false);
        row("same host, another port",
            {"Host: 127.0.0.1:%1", "Referer: http://127.0.0.1:1/index.html"}, false);
        row("https page of the host on the plain port",
            {"Host: casa.example", "Origin: https://casa.example"}, false);
        row("Origin null", {"Host: 127.0.0.1:%1", "Origin: null"}, false);
        row("Referer that names no site", {"Host: 127.0.0.1:%1", "Referer: index.html"}, false);
        row("own Origin, foreign Referer",
            {"Host: 127.0.0.1:%1", "Origin: http://127.0.0.1:%1", "Referer: http://evil.example/"},
            false);
        row("Host with a user part",
            {"Host: evil.example@127.0.0.1:%1", "Referer: http://127.0.0.1:%1/"}, false);
        row("Host without the port asked", {"Host: 127.0.0.1", "Referer: http://127.0.0.1:%1/"},
            false);
        row("same-host Referer",
            {"Host: 127.0.0.1:%1", "Referer: http://127.0.0.1:%1/index.html?loadroomLivingRoom"},
            true);
        row("same-host Origin, other letter case",
            {"Host: LocalHost:%1", "Origin: http://LOCALHOST:%1"}, true);
        row("default port written or not",
            {"Host: casa.example", "Referer: http://Casa.Example:80/index.html"}, true);
        row("cross-site fetch without Referer",
            {"Host: 127.0.0.1:%1", "Sec-Fetch-Site: cross-site"}, false);
        row("cross-site fetch, own Referer",
            {"Host: 127.0.0.1:%1", "Sec-Fetch-Site: cross-site", "Referer: http://127.0.0.1:%1/"},
            false);
        row("same-site fetch (another server of the domain)",
            {"Host: 127.0.0.1:%1", "Sec-Fetch-Site: same-site"}, false);
        row("same-origin fetch, foreign Origin",
            {"Host: 127.0.0.1:%1", "Sec-Fetch-Site: same-origin", "Origin: http://evil.example"},
            false);
        row("same-origin fetch",
            {"Host: 127.0.0.1:%1", "Sec-Fetch-Site: same-origin",
             "Referer: http://127.0.0.1:%1/index.html"},
            true);
        row("address typed by the user", {"Host: 127.0.0.1:%1", "Sec-Fetch-Site: none"}, true);
        row("neither header", {"Host: 127.0.0.1:%1"}, true);
        row("neither header, Host without its port", {}, true);
    }
    void crossSiteCommandsRefused()
    {
        QFETCH(QStringList, headers);
        QFETCH(bool, switched);
        Serving rig;
        for (QString& line : headers)
            line.replace(QLatin1String("%1"), QString::number(rig.port));
        for (const char* target : {"/index.html?A~3~LivingRoomLamp~turnon~LivingRoom",
                                   "/wmcindex.html?A~3~LivingRoomLamp~turnon~LivingRoom~0"}) {
            const QByteArray page =
                QCoro::waitFor(test::httpGetWith(rig.port, QString::fromLatin1(target), headers));
            QVERIFY2(page.contains("<h1>Living Room</h1>"), page.constData());
            QCOMPARE(page.contains("the command came from a page of another web site"), !switched);
            QCOMPARE(page.contains("~LivingRoomLamp~turnoff~"), switched);
        }
        QCOMPARE(rig.control.sent.size(), switched ? 2 : 0);
        QCOMPARE(rig.machineValue(QStringLiteral("LivingRoomLamp")),
                 switched ? QStringLiteral("True") : QString());
        QCOMPARE(rig.settings.read(settingkeys::lastdev),
                 switched ? QStringLiteral("1") : QString());
        QCOMPARE(rig.status.activity.join(QLatin1Char('|')).contains(QLatin1String("Internet")),
                 switched);

        // Choosing a room switches nothing, so a link from anywhere shows it.
        const QByteArray room = QCoro::waitFor(
            test::httpGetWith(rig.port, QStringLiteral("/index.html?loadroomLivingRoom"),
                              {QStringLiteral("Referer: http://evil.example/")}));
        QVERIFY(room.contains("<h1>Living Room</h1>"));
        QVERIFY(!room.contains("another web site"));
    }

    // With a login file, a page request is refused exactly as the server
    // refuses any protected file (401 with its realm once the server checks
    // credentials), never built and never switching a device.
    void loginProtectsThePages()
    {
        Serving rig;
        rig.folder.write(QStringLiteral("html/htaccess.txt"), "admin:secret\r\n");
        rig.core.server.stopserver();
        rig.core.server.startserver(); // the login file counts from the next start
        const auto statusLine = [](const QByteArray& answer) {
            return answer.left(answer.indexOf("\r\n"));
        };
        const auto realm = [](const QByteArray& answer) {
            return answer.contains("\r\nWWW-Authenticate:") ||
                   answer.contains("\r\nwww-authenticate:");
        };
        const QByteArray protectedFile = rig.get(QStringLiteral("/bulbon.gif"));
        QVERIFY(protectedFile.startsWith("HTTP/1."));
        const QString command = QStringLiteral("/index.html?A~3~LivingRoomLamp~turnon~LivingRoom");
        for (const QString& auth :
             {QString(), QStringLiteral("admin:sec"), QStringLiteral("admin:"),
              QStringLiteral("admin:secret\r\nx")}) {
            const QByteArray refused = rig.get(command, auth);
            QCOMPARE(statusLine(refused), statusLine(protectedFile));
            QCOMPARE(realm(refused), realm(protectedFile));
            QVERIFY2(!refused.contains("~turnoff~") && !refused.contains("?loadroomLivingRoom"),
                     refused.constData());
            QVERIFY(rig.control.sent.isEmpty());
            QVERIFY(!rig.core.server.serving());
        }
        QCOMPARE(rig.machineValue(QStringLiteral("LivingRoomLamp")), QString());
        const QByteArray page = rig.get(command, QStringLiteral("ADMIN:SECRET"));
        QVERIFY(page.startsWith("HTTP/1.0 200") || page.startsWith("HTTP/1.1 200"));
        QCOMPARE(rig.control.sent.size(), 1);
        QVERIFY(page.contains("~turnoff~"));
    }

    // A page is named by its file at the top of html/, whatever the letter
    // case; the same name in a folder, or with a separator after it, is not
    // the page (the server answers it like any other path).
    void pageNames_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QByteArray>("expected"); // empty: no page at all
        QTest::newRow("TV page, upper case") << "/WMCINDEX.HTML" << QByteArray("MCFocusStart");
        QTest::newRow("page, mixed case") << "/Index.Html" << QByteArray("Please Select A Room");
        QTest::newRow("page, backslash") << "/\\index.html" << QByteArray("Please Select A Room");
        QTest::newRow("in a folder") << "/sub/index.html" << QByteArray();
        QTest::newRow("slash after") << "/index.html/" << QByteArray();
        QTest::newRow("slash after, room") << "/index.html/?loadroomLivingRoom" << QByteArray();
    }
    void pageNames()
    {
        QFETCH(QString, target);
        QFETCH(QByteArray, expected);
        Serving rig;
        const QByteArray page = rig.get(target);
        if (expected.isEmpty()) {
            QVERIFY2(!page.contains("Please Select") && !page.contains("<room1>") &&
                         !page.contains("Living Room"),
                     page.constData());
        } else {
            QVERIFY2(page.contains(expected), page.constData());
            QVERIFY(page.contains("loadroomLivingRoom"));
        }
        QVERIFY(!rig.core.server.serving());
    }

    // With a login file, no spelling of a page's or a picture's name gets
    // the template, the page or a picture without the login: a name the
    // pages answer to is checked by them, any other goes back to the
    // server, which checks the folder that holds what it would serve.
    void everySpellingNeedsTheLogin_data()
    {
        QTest::addColumn<QString>("target");
        for (const char* t : {"/index.html",
                              "/INDEX.HTML",
                              "/index.html/",
                              "/INDEX.HTML/",
                              "/index.html//",
                              "/index.html\\",
                              "/\\INDEX.HTML",
                              "/INDEX.HTML\\",
                              "/%69ndex.html",
                              "/%69ndex.html/",
                              "/wmcindex.html/",
                              "/WMCINDEX.HTML\\",
                              "/",
                              "/index.html/?loadroomLivingRoom",
                              "/INDEX.HTML/?A~3~LivingRoomLamp~turnon~LivingRoom",
                              "/switchon.gif",
                              "/switchon.gif/",
                              "/SWITCHON.GIF/",
                              "/switchon.gif\\",
                              "/\\switchon.gif",
                              "/SwitchOn.Gif",
                              "/switchon.gif//",
                              "/switchon.gif?x=.exe?",
                              "/states.json?LivingRoom",
                              "/STATES.JSON?LivingRoom"})
            QTest::newRow(t) << QString::fromLatin1(t);
    }
    void everySpellingNeedsTheLogin()
    {
        QFETCH(QString, target);
        Serving rig;
        rig.folder.write(QStringLiteral("html/htaccess.txt"), "admin:secret\r\n");
        rig.core.server.stopserver();
        rig.core.server.startserver();
        const QByteArray answer = rig.get(target);
        QVERIFY2(answer.startsWith("HTTP/1.0 401") || answer.startsWith("HTTP/1.0 404") ||
                     answer.startsWith("HTTP/1.0 403") || answer.contains("HTTP 404") ||
                     answer.isEmpty(),
                 answer.constData());
        for (const char* content :
             {"<room1>", "<room>", "Please Select", "Living Room", "GIF89a", "LivingRoomLamp"})
            QVERIFY2(!answer.contains(content), answer.constData());
        QVERIFY(rig.control.sent.isEmpty());
        QVERIFY(!rig.core.server.serving());
        // The plain names still work with the login.
        QVERIFY(rig.get(QStringLiteral("/index.html"), QStringLiteral("admin:secret"))
                    .contains("Please Select A Room"));
        QVERIFY(rig.get(QStringLiteral("/switchon.gif"), QStringLiteral("admin:secret"))
                    .contains("GIF89a-switch"));
    }

    // The login file is kept between requests, yet a change counts from the
    // very next one: a new password written in place to the same size with
    // the file's time put back, and the file's removal.
    // A login set while the server runs guards the pictures with that same
    // login at once, without a restart, and never locks its owner out.
    void loginSetWhileRunningGuardsEverythingWithIt()
    {
        Serving rig;
        // As on a new installation: the server's stored settings say nothing yet.
        rig.core.server.stopserver();
        rig.core.server.web().setAuthenticationSource(Servlane::GolbalFile);
        rig.core.server.startserver();
        QVERIFY(rig.get(QStringLiteral("/bulbon.gif")).endsWith("GIF89a-picture"));
        rig.folder.write(QStringLiteral("html/htaccess.txt"), "admin:secret\r\n");
        QTest::qWait(1100); // the server remembers a folder's access file for a second
        QVERIFY(rig.get(QStringLiteral("/bulbon.gif")).startsWith("HTTP/1.0 401"));
        const QByteArray picture =
            rig.get(QStringLiteral("/bulbon.gif"), QStringLiteral("admin:secret"));
        QVERIFY2(picture.endsWith("GIF89a-picture"), picture.constData());
        QVERIFY(rig.get(QStringLiteral("/index.html?loadroomLivingRoom"),
                        QStringLiteral("admin:secret"))
                    .contains("~turnon~LivingRoom"));
    }

    void loginFileChangeCountsAtOnce()
    {
        Serving rig;
        const QString name = QStringLiteral("html/htaccess.txt");
        rig.folder.write(name, "admin:secret\r\n");
        rig.core.server.stopserver();
        rig.core.server.startserver();
        std::this_thread::sleep_for(std::chrono::milliseconds(150)); // past the file clock's tick
        const QString room = QStringLiteral("/index.html?loadroomLivingRoom");
        const auto built = [](const QByteArray& answer) {
            return answer.contains("~turnon~LivingRoom");
        };
        QVERIFY(built(rig.get(room, QStringLiteral("admin:secret"))));
        QVERIFY(built(rig.get(room, QStringLiteral("admin:secret"))));
        QVERIFY(!built(rig.get(room, QStringLiteral("admin:sesame"))));

        const QByteArray path = QFile::encodeName(rig.folder.file(name));
        struct stat before {};
        QVERIFY(::stat(path.constData(), &before) == 0);
        rig.folder.write(name, "admin:sesame\r\n");
        const timespec times[2] = {before.st_atim, before.st_mtim};
        QVERIFY(::utimensat(AT_FDCWD, path.constData(), times, 0) == 0);
        QVERIFY(!built(rig.get(room, QStringLiteral("admin:secret"))));
        QVERIFY(built(rig.get(room, QStringLiteral("admin:sesame"))));

        QVERIFY(QFile::remove(rig.folder.file(name)));
        QVERIFY(built(rig.get(room)));
    }

    // The login file counts whatever the letter case of its name.
    void loginFileInAnyCase()
    {
        Serving rig;
        rig.folder.write(QStringLiteral("html/HTAccess.TXT"), "admin:secret\r\n");
        const QString command = QStringLiteral("/index.html?A~3~LivingRoomLamp~turnon~LivingRoom");
        QVERIFY(!rig.get(command).contains("~turnoff~"));
        QVERIFY(rig.control.sent.isEmpty());
        QVERIFY(rig.get(command, QStringLiteral("admin:secret")).contains("~turnoff~"));
        QCOMPARE(rig.control.sent.size(), 1);
    }

    void webPortOption_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("diskFull");
        QTest::newRow("8") << "8" << false << false;
        QTest::newRow("empty") << "" << false << false;
        QTest::newRow("not a number") << "80a" << false << false;
        QTest::newRow("past 65535") << "70000" << false << false;
        QTest::newRow("free port") << "free" << true << false;
        QTest::newRow("cannot be saved") << "free" << false << true;
    }
    void webPortOption()
    {
        QFETCH(QString, entry);
        QFETCH(bool, accepted);
        QFETCH(bool, diskFull);
        Serving rig;
        test::ScriptedPrompts prompts;
        WebOptions options(rig.folder.path(), rig.settings, rig.core.server, prompts);
        if (entry == QLatin1String("free"))
            entry = QString::number(test::freePort());
        std::optional<QString> caption;
        {
            std::optional<test::FileSizeLimit> full;
            if (diskFull)
                full.emplace(1);
            caption = QCoro::waitFor(options.savePort(entry));
        }
        QCOMPARE(caption.has_value(), accepted);
        if (!accepted) {
            QCOMPARE(prompts.shown[0].text,
                     diskFull ? QStringLiteral("The web server port could not be saved; nothing "
                                               "was changed.\n\nCannot write ") +
                                    rig.settings.machineFile()
                              : QStringLiteral("Please enter a valid port number of at "
                                               "least 80 in to the port text entry box"));
            QCOMPARE(rig.settings.read(settingkeys::webport), QString::number(rig.port));
            QVERIFY(rig.get(QStringLiteral("/index.html")).startsWith("HTTP/1."));
            return;
        }
        QCOMPARE(*caption,
                 QStringLiteral("The web server is currently set to run on port ") + entry);
        QCOMPARE(prompts.shown[0].title, QStringLiteral("Saved"));
        QCOMPARE(rig.settings.read(settingkeys::webport), entry);
        QVERIFY(QCoro::waitFor(test::httpGet(entry.toUShort(), QStringLiteral("/index.html")))
                    .startsWith("HTTP/1."));
    }

    void loginOption()
    {
        Serving rig;
        test::ScriptedPrompts prompts;
        WebOptions options(rig.folder.path(), rig.settings, rig.core.server, prompts);
        const QString file = QStringLiteral("html/htaccess.txt");
        rig.folder.write(file, "old:login\r\n");

        for (const char* a : {"admin", "secret", "secrets"})
            prompts.queueInput(QString::fromLatin1(a));
        QVERIFY(!QCoro::waitFor(options.setLogin()));
        QCOMPARE(prompts.shown.last().text, QStringLiteral("Sorry, your password did not match"));
        QCOMPARE(rig.folder.read(file), QByteArray("old:login\r\n"));

        prompts.queueInput(QStringLiteral("admin"));
        prompts.queueInput(QString()); // an empty answer ends it silently
        QVERIFY(!QCoro::waitFor(options.setLogin()));
        QCOMPARE(rig.folder.read(file), QByteArray("old:login\r\n"));

        // The new file is written outside the served folder, then renamed
        // over the old one: at the moment of the rename html/ holds nothing
        // but what was there before.
        const QStringList before =
            QDir(rig.folder.file(QStringLiteral("html")))
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        QStringList during;
        QString from;
        TextListFile::setRenameForTesting([&](const QString& source, const QString& target) {
            from = source;
            during = QDir(rig.folder.file(QStringLiteral("html")))
                         .entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                    QDir::NoDotAndDotDot);
            return ::rename(QFile::encodeName(source).constData(),
                            QFile::encodeName(target).constData()) == 0;
        });
        for (const char* a : {"admin", "secret", "secret"})
            prompts.queueInput(QString::fromLatin1(a));
        const bool set = QCoro::waitFor(options.setLogin());
        TextListFile::setRenameForTesting({});
        QVERIFY(set);
        QCOMPARE(during, before);
        QCOMPARE(QFileInfo(from).absolutePath(), QFileInfo(rig.folder.path()).canonicalFilePath());
        QVERIFY(!QFileInfo::exists(from));
        QCOMPARE(rig.folder.read(file), QByteArray("admin:secret\r\n"));
        QCOMPARE(prompts.shown.last().text, QStringLiteral("Your password has been set"));

        prompts.queueAnswer(Prompts::Answer::No);
        QVERIFY(!QCoro::waitFor(options.clearLogin()));
        QVERIFY(rig.folder.exists(file));
        QVERIFY(QCoro::waitFor(options.clearLogin()));
        QVERIFY(!rig.folder.exists(file));
        QCOMPARE(prompts.shown.last().title, QStringLiteral("Cleared"));
    }

    // The server takes the login file in any letter case, so "Clear Login"
    // removes every spelling; one it cannot remove is reported, not passed
    // off as cleared.
    void clearLoginInAnyCase()
    {
        Serving rig;
        test::ScriptedPrompts prompts;
        WebOptions options(rig.folder.path(), rig.settings, rig.core.server, prompts);
        const QString room = QStringLiteral("/index.html?loadroomLivingRoom");
        rig.folder.write(QStringLiteral("html/HTACCESS.TXT"), "admin:secret\r\n");
        rig.folder.write(QStringLiteral("html/HtAccess.txt"), "other:login\r\n");
        QVERIFY(!rig.get(room).contains("<h1>Living Room</h1>"));

        QVERIFY(QCoro::waitFor(options.clearLogin()));
        QCOMPARE(prompts.shown.last().title, QStringLiteral("Cleared"));
        QVERIFY(!rig.folder.exists(QStringLiteral("html/HTACCESS.TXT")));
        QVERIFY(!rig.folder.exists(QStringLiteral("html/HtAccess.txt")));
        QVERIFY(rig.folder.exists(QStringLiteral("html/index.html")));
        QVERIFY(rig.get(room).contains("<h1>Living Room</h1>"));

        // A folder of that name locks the pages and cannot be removed as a file.
        QVERIFY(QDir(rig.folder.path()).mkpath(QStringLiteral("html/htaccess.TXT")));
        QVERIFY(!QCoro::waitFor(options.clearLogin()));
        QCOMPARE(prompts.shown.last().title, QStringLiteral("Error"));
        QVERIFY(prompts.shown.last().text.startsWith(
            QStringLiteral("The password could not be cleared.")));
        QVERIFY(prompts.shown.last().text.contains(QStringLiteral("htaccess.TXT")));
    }

    // The engine's service runs with the program folder as its home: the
    // server must leave no settings file of its own there.
    void serverKeepsNoSettingsFile()
    {
        const QString defaultFile = QSettings().fileName();
        QFile::remove(defaultFile);
        {
            Serving rig;
            QVERIFY(rig.get(QStringLiteral("/index.html")).contains("<h1>"));
            rig.core.server.stopserver();
        }
        QVERIFY2(!QFile::exists(defaultFile), qPrintable(defaultFile));
    }

    void portTakenFallsBackTo8080()
    {
        {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::Any, 8080))
                QSKIP("port 8080 is in use on this machine");
        }
        QTcpServer squatter;
        const quint16 taken = test::freePort();
        QVERIFY(squatter.listen(QHostAddress::Any, taken));
        test::CoreFixture fx;
        fx.settings.write(settingkeys::webport, QString::number(taken));
        fx.core.server.startserver();
        QCOMPARE(fx.settings.read(settingkeys::webport), QStringLiteral("8080"));
        QCOMPARE(fx.core.server.web().ServerPort(), QStringLiteral("8080"));
        fx.core.server.stopserver();
    }
};

QTEST_GUILESS_MAIN(TestRemoteServer)
#include "tst_remoteserver.moc"
