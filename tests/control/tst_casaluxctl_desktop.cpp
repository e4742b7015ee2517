#include "ctlrun.h"
#include "windowrig.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace casalux;

// casaluxctl, the real program, against the desktop program's main window
// built in this process (on a scripted interface): the window serves the
// socket while it holds the port.
class TestCasaluxCtlDesktop : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void againstTheDesktopProgram()
    {
        test::WindowRig rig("Lounge~~~\r\nLounge~Lamp~A~3\r\n");
        const QString path = rig.folder.file(QStringLiteral("control"));
        qputenv("CASALUX_CONTROL_SOCKET", path.toLocal8Bit());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CASALUX_HOME"), rig.folder.path());
        // Nothing serves before the window has the interface.
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(rig.connectInterface());
        QVERIFY(QFileInfo::exists(path));

        test::CtlRun run =
            test::CtlRun::run({QStringLiteral("on"), QStringLiteral("Lounge Lamp")}, env);
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        QCOMPARE(rig.sentTexts().size(), 1);
        QVERIFY2(rig.sentTexts().constFirst().startsWith(QLatin1String("A3 2 ")),
                 qPrintable(rig.sentTexts().join(QLatin1Char('|'))));
        QCOMPARE(rig.machineValue(QStringLiteral("LoungeLamp")), QStringLiteral("True"));

        run = test::CtlRun::run({QStringLiteral("status"), QStringLiteral("--json")}, env);
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        const QJsonObject face = QJsonDocument::fromJson(run.out.toUtf8())
                                     .object()
                                     .value(QLatin1String("interface"))
                                     .toObject();
        QCOMPARE(face.value(QLatin1String("holder")).toString(), QStringLiteral("desktop"));
        QCOMPARE(face.value(QLatin1String("state")).toString(), QStringLiteral("ready"));

        // The interface did not take it: exit 1 with the reason, nothing recorded.
        rig.control.setSendResult(false, QStringLiteral("the X10 interface did not answer"));
        run = test::CtlRun::run({QStringLiteral("off"), QStringLiteral("A3")}, env);
        QVERIFY2(run.exitCode == 1, qPrintable(run.describe()));
        QCOMPARE(run.err, QStringLiteral("casaluxctl: the X10 interface did not answer\n"));
        QCOMPARE(rig.machineValue(QStringLiteral("LoungeLamp")), QStringLiteral("True"));

        // Renamed from the shell while the window runs: the window switches
        // it by its new name, records it so, and its macro still queues its
        // target.
        rig.control.setSendResult(true, {});
        rig.folder.write(QStringLiteral("macs.hlk"),
                         "When~A3~Lounge~Lamp~turns~on~Turn~On~A4~Lounge~Fan\r\n");
        run = test::CtlRun::run({QStringLiteral("device"), QStringLiteral("rename"),
                                 QStringLiteral("Lounge"), QStringLiteral("Lamp"),
                                 QStringLiteral("Reading Lamp")},
                                env);
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        run = test::CtlRun::run({QStringLiteral("on"), QStringLiteral("Lounge Reading Lamp")}, env);
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        QCOMPARE(rig.machineValue(QStringLiteral("LoungeReadingLamp")), QStringLiteral("True"));
        QCOMPARE(rig.folder.read(QStringLiteral("macs.hlk")),
                 QByteArray("When~A3~Lounge~Reading~Lamp~turns~on~Turn~On~A4~Lounge~Fan\r\n"));
        QCOMPARE(rig.window.core().traffic.queue().text(), QStringLiteral("2A4~"));

        // Closing hands the port to the engine: the window stops serving.
        rig.window.close();
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(path), 10000);
        qunsetenv("CASALUX_CONTROL_SOCKET");
    }
};

QTEST_MAIN(TestCasaluxCtlDesktop)
#include "tst_casaluxctl_desktop.moc"
