#include "platform/programfolder.h"

#include <QtTest>

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
};

QTEST_GUILESS_MAIN(TestProgramFolder)
#include "tst_programfolder.moc"
