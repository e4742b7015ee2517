#include "home/devicestatus.h"
#include "home/settingsstore.h"
#include "remote/pagebuilder.h"
#include "tempfolder.h"

#include <QtTest>

#include <chrono>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>

using namespace casalux;

namespace {

// Templates just big enough to hold every placeholder and attribute.
QByteArray mediaCenterTemplate()
{
    QByteArray t = "<body MCFocusStart=\"option1\">\r\n<h1><room></h1>\r\n";
    for (int i = 1; i <= 19; ++i)
        t += QStringLiteral("<td ID=\"option%1\" class=\"button2\" MCFocusable=\"true\"><room%1>|<url%1></td>\r\n")
                 .arg(i)
                 .toLatin1();
    for (int i = 1; i <= 10; ++i)
        t += QStringLiteral("<td ID=\"module%1\" class=\"imcl1\" MCFocusable=\"true\" href=\"<mrl%1>\"><dev%2></td>\r\n")
                 .arg(i)
                 .arg(i - 1)
                 .toLatin1();
    return t;
}

QByteArray standardTemplate()
{
    QByteArray t = "<h1><ROOM></h1>\r\n";
    for (int i = 1; i <= 19; ++i)
        t += QStringLiteral("<li><room%1></li>\r\n").arg(i).toLatin1();
    for (int i = 0; i <= 9; ++i)
        t += QStringLiteral("<td><dev%1></td>\r\n").arg(i).toLatin1();
    return t;
}

// Lets the file clock move past the files just written, so that what is
// read from them may be kept.
void settle()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
}

// Runs `edit` on a file and puts its modification time back, to the
// nanosecond: an edit that only the change time and the contents show.
void editKeepingTime(const QString& path, const std::function<void()>& edit)
{
    struct stat before {};
    QVERIFY(::stat(QFile::encodeName(path).constData(), &before) == 0);
    edit();
    const timespec times[2] = {before.st_atim, before.st_mtim};
    QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0);
}

} // namespace

class TestPageBuilder : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempFolder> m_folder;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<PageBuilder> m_builder;

    void setType(const char* key, const char* type)
    {
        m_settings->SaveSetting(QStringLiteral("Casalux"), QStringLiteral("type"),
                                QString::fromLatin1(key), QString::fromLatin1(type));
    }
    QString standardRoom(const QString& key) const
    {
        QString page;
        m_builder->loadnormhtml(page);
        m_builder->loadnormtree(page);
        m_builder->loadnormroom(page, key);
        return page;
    }
    QString mediaCenterRoom(const QString& key) const
    {
        QString page;
        m_builder->loadhtml(page);
        m_builder->loadtree(page);
        m_builder->loadroom(page, key);
        return page;
    }

private Q_SLOTS:
    void init()
    {
        m_folder = std::make_unique<test::TempFolder>();
        m_settings = std::make_unique<SettingsStore>(m_folder->file(QStringLiteral("machine.ini")),
                                                     m_folder->file(QStringLiteral("user")));
        m_builder = std::make_unique<PageBuilder>(m_folder->path(), *m_settings);
        m_folder->write(QStringLiteral("html/wmcindex.html"), mediaCenterTemplate());
        m_folder->write(QStringLiteral("html/Index.HTML"), standardTemplate());
        m_folder->write(QStringLiteral("rmlst.rvf"), "Living Room~~~\r\n"
                                                     "Living Room~Table Lamp~A~3\r\n"
                                                     "Hall~~~\r\n"
                                                     "Hallway~~~\r\n"
                                                     "Hallway~Light~B~12\r\n"
                                                     "Hall~Fan~C~1\r\n"
                                                     "Hall~Hall Radio~C~2\r\n");
    }

    void standardPage()
    {
        DeviceStatus(*m_settings).setstatus(QStringLiteral("Living Room Table Lamp"),
                                            QStringLiteral("on"), QString());
        setType("LivingRoomTableLamp", "bulb2");
        const QString page = standardRoom(QStringLiteral("LivingRoom"));
        QVERIFY(page.contains(QStringLiteral(
            "<li><a target=\"_top\" href=\"index.html?loadroomLivingRoom\"><font "
            "color=\"#FFFFFF\">Living Room</font></a></li>")));
        QVERIFY(page.contains(QStringLiteral("index.html?loadroomHallway")));
        QVERIFY(page.contains(QStringLiteral("<li><room4></li>"))); // left for unused slots
        QVERIFY(page.contains(QStringLiteral("<h1>Living Room</h1>")));
        const QString address = QStringLiteral("index.html?A~3~LivingRoomTableLamp~turnoff~LivingRoom");
        QVERIFY(page.contains(
            QStringLiteral("<td><font face=\"Verdana\" color=\"#FFFFFF\"><a href=\"%1\"><img border=\"2\" "
                           "src=bulb2on.gif></a><br><b><a target=\"_top\" href=\"%1\"><font "
                           "face=\"Verdana\" color=\"#FFFFFF\">Table Lamp</font></a></b></font></td>")
                .arg(address)));
        QVERIFY(page.contains(QStringLiteral("<td><dev1></td>")));
        QVERIFY(page.endsWith(QStringLiteral("\r\n")));
    }

    // Hall's page holds Hall's devices only: not Hallway's, though its key
    // occurs in theirs; a device off (or never switched) shows its off picture.
    void roomKeyMatchesWholeRoom()
    {
        const QString page = standardRoom(QStringLiteral("hall"));
        QVERIFY(page.contains(QStringLiteral("index.html?C~1~HallFan~turnon~Hall\"")));
        QVERIFY(page.contains(QStringLiteral("src=switchoff.gif")));
        QVERIFY(page.contains(QStringLiteral("index.html?C~2~HallHallRadio~turnon~Hall\"")));
        QVERIFY(!page.contains(QStringLiteral("B~12")));
        QVERIFY(page.contains(QStringLiteral("<h1>Hall</h1>")));
    }

    void firstTenDevicesOnly()
    {
        QByteArray list = "Den~~~\r\n";
        for (int u = 1; u <= 12; ++u)
            list += "Den~Lamp " + QByteArray::number(u) + "~D~" + QByteArray::number(u) + "\r\n";
        m_folder->write(QStringLiteral("rmlst.rvf"), list);
        const QString page = mediaCenterRoom(QStringLiteral("Den"));
        QVERIFY(page.contains(QStringLiteral(">Lamp 10</font>")));
        QVERIFY(!page.contains(QStringLiteral("Lamp 11")));
        QVERIFY(page.contains(QStringLiteral("wmcindex.html?D~10~DenLamp10~turnon~Den~9")));
        QVERIFY(page.contains(QStringLiteral("<h1>Den</h1>")));
    }

    // What pages are built from is kept between builds, but a change of any
    // of it shows on the very next page: the list file and the template
    // edited in place to the same size with their times put back, a
    // template saved under its exact name beside one in another case, and
    // device states and kinds written through another store.
    void keptInputsFollowTheFiles()
    {
        settle();
        const QString first = standardRoom(QStringLiteral("LivingRoom"));
        QVERIFY(first.contains(QStringLiteral(">Table Lamp</font>")));
        QVERIFY(first.contains(QStringLiteral("src=switchoff.gif")));
        QCOMPARE(standardRoom(QStringLiteral("LivingRoom")), first);

        const QString list = m_folder->file(QStringLiteral("rmlst.rvf"));
        editKeepingTime(list, [&] {
            QByteArray text = m_folder->read(QStringLiteral("rmlst.rvf"));
            text.replace("Table Lamp", "Table Lump");
            text.replace("Hallway~~~", "Hallwax~~~");
            m_folder->write(QStringLiteral("rmlst.rvf"), text);
        });
        QString page = standardRoom(QStringLiteral("LivingRoom"));
        QVERIFY(page.contains(QStringLiteral(">Table Lump</font>")));
        QVERIFY(page.contains(QStringLiteral("loadroomHallwax")));
        QVERIFY(!page.contains(QStringLiteral("Table Lamp")));

        editKeepingTime(m_folder->file(QStringLiteral("html/Index.HTML")), [&] {
            m_folder->write(QStringLiteral("html/Index.HTML"),
                            standardTemplate().replace("<h1>", "<h2>").replace("</h1>", "</h2>"));
        });
        QVERIFY(standardRoom(QStringLiteral("LivingRoom")).contains(QStringLiteral("<h2>Living Room</h2>")));
        m_folder->write(QStringLiteral("html/index.html"), "<title><room></title>\n<dev0>\n");
        page = standardRoom(QStringLiteral("LivingRoom"));
        QVERIFY(page.startsWith(QStringLiteral("<title>Living Room</title>\r\n<font ")));

        settle();
        QCOMPARE(standardRoom(QStringLiteral("LivingRoom")), page);
        SettingsStore other(m_settings->machineFile(), m_folder->file(QStringLiteral("user")));
        DeviceStatus(other).setstatus(QStringLiteral("LivingRoomTableLump"), QStringLiteral("on"),
                                      QString());
        QVERIFY(standardRoom(QStringLiteral("LivingRoom")).contains(QStringLiteral("src=switchon.gif")));
        settle();
        other.SaveSetting(QStringLiteral("Casalux"), QStringLiteral("type"),
                          QStringLiteral("LivingRoomTableLump"), QStringLiteral("fan"));
        QVERIFY(standardRoom(QStringLiteral("LivingRoom")).contains(QStringLiteral("src=fanon.gif")));

        QVERIFY(QFile::remove(list));
        QCOMPARE(standardRoom(QStringLiteral("LivingRoom")),
                 QStringLiteral("<title><room></title>\r\n<dev0>\r\n"));
    }

    void mediaCenterPage()
    {
        const QString page = mediaCenterRoom(QStringLiteral("Hall"));
        QVERIFY(page.contains(QStringLiteral(
            "<td ID=\"option1\" class=\"button2\" MCFocusable=\"true\"><a target=\"_top\" "
            "href=\"wmcindex.html?loadroomLivingRoom\"><font color=\"#FFFFFF\" face=\"Verdana\" "
            "size=\"6\">Living Room</font></a>|wmcindex.html?loadroomLivingRoom</td>")));
        // Three rooms: slots 4 to 19 lose their attributes and placeholders.
        QVERIFY(page.contains(QStringLiteral("<td>|<url4></td>")));
        QVERIFY(!page.contains(PageBuilder::roomButtonAttribute(4)));
        QVERIFY(!page.contains(PageBuilder::roomButtonAttribute(19)));
        // Two devices: modules 3 to 10 lose theirs.
        QVERIFY(page.contains(QStringLiteral("href=\"wmcindex.html?C~2~HallHallRadio~turnon~Hall~1\"")));
        QVERIFY(page.contains(PageBuilder::moduleAttribute(2)));
        QVERIFY(!page.contains(PageBuilder::moduleAttribute(3)));
        QVERIFY(!page.contains(QStringLiteral("<dev2>")));
        QVERIFY(page.contains(QStringLiteral("size=\"6\">Fan</font>")));
        QCOMPARE(m_settings->read(settingkeys::lastroom), QStringLiteral("Hall"));
        QVERIFY(page.contains(PageBuilder::focusStart()));
    }

    void focusFollowsLastDeviceInSameRoom()
    {
        m_settings->write(settingkeys::lastroom, QStringLiteral("Hall"));
        m_settings->write(settingkeys::lastdev, QStringLiteral("3"));
        QVERIFY(mediaCenterRoom(QStringLiteral("Hall")).contains(QStringLiteral("MCFocusStart=\"module3\"")));
        m_settings->write(settingkeys::lastroom, QStringLiteral("Hallway"));
        QVERIFY(mediaCenterRoom(QStringLiteral("Hall")).contains(PageBuilder::focusStart()));
    }

    // A room that is not in the list gets an empty page and is not
    // remembered, whatever its length; the room already remembered is not
    // written again.
    void unknownRoomClearsEveryModule()
    {
        m_settings->write(settingkeys::lastroom, QStringLiteral("Hall"));
        const QString page = mediaCenterRoom(QStringLiteral("Attic"));
        QVERIFY(page.contains(QStringLiteral("<h1></h1>")));
        for (int i = 1; i <= 10; ++i)
            QVERIFY(!page.contains(PageBuilder::moduleAttribute(i)));
        QVERIFY(!page.contains(QStringLiteral("<dev0>")));
        const quint64 rewrites = m_settings->rewrites();
        mediaCenterRoom(QString(8000, QLatin1Char('x')));
        mediaCenterRoom(QStringLiteral("Hall"));
        QCOMPARE(m_settings->rewrites(), rewrites);
        QCOMPARE(m_settings->read(settingkeys::lastroom), QStringLiteral("Hall"));
        mediaCenterRoom(QStringLiteral("livingroom"));
        QCOMPARE(m_settings->read(settingkeys::lastroom), QStringLiteral("livingroom"));
    }

    void missingFilesLeavePlaceholders()
    {
        QFile::remove(m_folder->file(QStringLiteral("rmlst.rvf")));
        const QString page = standardRoom(QStringLiteral("Hall"));
        QVERIFY(page.contains(QStringLiteral("<room1>")));
        QVERIFY(page.contains(QStringLiteral("<dev0>")));
        QFile::remove(m_folder->file(QStringLiteral("html/wmcindex.html")));
        QString empty;
        m_builder->loadhtml(empty);
        QVERIFY(empty.isEmpty());
    }

    void picturesByKind_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("on");
        QTest::addColumn<QString>("off");
        QTest::newRow("missing") << "" << "switchon.gif" << "switchoff.gif";
        QTest::newRow("bulb") << "bulb" << "bulbon.gif" << "bulboff.gif";
        QTest::newRow("fan") << "fan" << "fanon.gif" << "fanoff.gif";
        QTest::newRow("radio") << "radio" << "radioon.gif" << "radiooff.gif";
        QTest::newRow("bulb2") << "bulb2" << "bulb2on.gif" << "bulb2off.gif";
        QTest::newRow("wrong case") << "Bulb" << "switchon.gif" << "switchoff.gif";
    }
    void picturesByKind()
    {
        QFETCH(QString, kind);
        QFETCH(QString, on);
        QFETCH(QString, off);
        if (!kind.isEmpty())
            setType("HallFan", kind.toLatin1().constData());
        QCOMPARE(m_builder->getimageon(QStringLiteral("Hall Fan")), on);
        QCOMPARE(m_builder->getimageoff(QStringLiteral("HallFan")), off);
    }

    void namesAreEscaped()
    {
        m_folder->write(QStringLiteral("rmlst.rvf"), "Den~~~\r\nDen~Lamp & <dev1>~A~1\r\n");
        const QString page = standardRoom(QStringLiteral("Den"));
        QVERIFY(page.contains(QStringLiteral(">Lamp &amp; &lt;dev1&gt;</font>")));
        QVERIFY(page.contains(QStringLiteral("<td><dev1></td>")));
    }
};

QTEST_GUILESS_MAIN(TestPageBuilder)
#include "tst_pagebuilder.moc"
