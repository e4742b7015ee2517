#include "home/settingsstore.h"
#include "home/textlistfile.h"
#include "platform/programfolder.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace casalux;

// Which folder a program runs on, from where it was started.
class TestProgramFolder : public QObject {
    Q_OBJECT

    const QString bindir = QStringLiteral(CASALUX_INSTALL_BINDIR);
    const QStringList noArgs{QStringLiteral("hearthcore")};

private Q_SLOTS:
    void init() { qunsetenv("CASALUX_HOME"); }
    void cleanup() { qunsetenv("CASALUX_HOME"); }

    void installedProgramsShareTheInstalledFolder()
    {
        QCOMPARE(ProgramFolder::installedFolder(), QStringLiteral("/var/lib/casalux"));
        QCOMPARE(ProgramFolder::resolve(noArgs, bindir), ProgramFolder::installedFolder());
        QCOMPARE(ProgramFolder::resolve(noArgs, bindir + QStringLiteral("/")),
                 ProgramFolder::installedFolder());
    }

    void homeAndEnvironmentStillWinWhenInstalled()
    {
        QCOMPARE(ProgramFolder::resolve({QStringLiteral("hearthcore"), QStringLiteral("--home"),
                                         QStringLiteral("/srv/casa/")},
                                        bindir),
                 QStringLiteral("/srv/casa"));
        QCOMPARE(ProgramFolder::resolve(
                     {QStringLiteral("hearthcore"), QStringLiteral("--home=/srv/b")}, bindir),
                 QStringLiteral("/srv/b"));
        qputenv("CASALUX_HOME", "/srv/env");
        QCOMPARE(ProgramFolder::resolve(noArgs, bindir), QStringLiteral("/srv/env"));
    }

    // A build tree or an unpacked copy elsewhere keeps its own folder.
    void otherProgramsUseTheirOwnFolder()
    {
        QCOMPARE(ProgramFolder::resolve(noArgs, QStringLiteral("/tmp/root/usr/bin")),
                 QStringLiteral("/tmp/root/usr/bin"));
        QCOMPARE(
            ProgramFolder::resolve(noArgs, QStringLiteral("/home/me/casalux/build/src/engine")),
            QStringLiteral("/home/me/casalux/build/src/engine"));
    }

    // The folder is shared with group casalux and holds the MQTT password
    // and the web login: what a program writes there is closed to others,
    // whatever the umask of the user who started it.
    void newFilesClosedToOthers()
    {
        const mode_t before = ::umask(0022);
        ProgramFolder::closeNewFilesToOthers();
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        SettingsStore settings(dir.filePath(QStringLiteral("machine.ini")),
                               dir.filePath(QStringLiteral("user")));
        QVERIFY(settings.write(settingkeys::mqttpassword, QStringLiteral("secret")));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("html")));
        const QString login = dir.filePath(QStringLiteral("html/htaccess.txt"));
        QVERIFY(TextListFile::replace(login, dir.filePath(QStringLiteral("htaccess.tmp")),
                                      {QStringLiteral("admin:secret")}));
        QVERIFY(TextListFile::append(dir.filePath(QStringLiteral("log.txt")), QStringLiteral("x")));
        ::umask(before);
        const auto groupOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser |
                               QFile::WriteUser | QFile::ReadGroup | QFile::WriteGroup;
        for (const char* name : {"machine.ini", "html/htaccess.txt", "log.txt"})
            QCOMPARE(QFileInfo(dir.filePath(QLatin1String(name))).permissions(), groupOnly);
        QCOMPARE(QFileInfo(dir.filePath(QStringLiteral("html"))).permissions() & QFile::ReadOther,
                 QFile::Permissions());
    }
};

QTEST_GUILESS_MAIN(TestProgramFolder)
#include "tst_programfolder.moc"
