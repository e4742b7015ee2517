#include "ctlrun.h"
#include "deadsocket.h"
#include "enginerig.h"
#include "control/controlprotocol.h"
#include "control/controlserver.h"
#include "home/settingkeys.h"
#include "httpget.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTcpSocket>
#include <algorithm>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <QtTest>

using namespace casalux;

// casaluxctl, the real program, against the real engine on the simulator,
// and with no program running (it then opens the interface itself).
class TestCasaluxCtl : public QObject {
    Q_OBJECT

    struct Rig : test::EngineRig {
        QString socketPath = folder.file(QStringLiteral("control"));
        Rig()
        {
            folder.write(QStringLiteral("rmlst.rvf"), "Den~~~\r\nDen~Lamp~A~3\r\nDen~Fan~A~4\r\n");
            folder.write(QStringLiteral("evelst.rvf"), "Den Lamp~A~3~60~07:30~on~daily~mtwuf\r\n"
                                                       "Den Fan~A~4~ ~22:00~off~once~s\r\n");
            settings.SaveSetting(QString::fromLatin1(settingkeys::appName),
                                 QString::fromLatin1(settingkeys::typeSection),
                                 QStringLiteral("DenLamp"), QStringLiteral("bulb2"));
            // The engine inherits the test's environment.
            qputenv("CASALUX_CONTROL_SOCKET", socketPath.toLocal8Bit());
        }
        ~Rig() { qunsetenv("CASALUX_CONTROL_SOCKET"); }
        // casaluxctl reaches the port through a by-id style link, which
        // goes with the adapter when it is pulled.
        bool throughLink = false;
        QProcessEnvironment ctlEnvironment() const
        {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("CASALUX_HOME"), folder.path());
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), folder.file(QStringLiteral("config")));
            env.insert(QStringLiteral("CASALUX_SERIAL_1"),
                       throughLink ? linkPath() : sim.devicePath());
            env.insert(QStringLiteral("CASALUX_CONTROL_SOCKET"), socketPath);
            return env;
        }
        test::CtlRun ctl(const QStringList& arguments, const QByteArray& input = {}) const
        {
            return test::CtlRun::run(arguments, ctlEnvironment(), 60000, input);
        }
        QString state(const QString& key)
        {
            settings.sync();
            return settings.GetString(SettingsStore::Root::LocalMachine,
                                      QString::fromLatin1(settingkeys::casaluxPath), key);
        }
        static QJsonObject json(const test::CtlRun& run)
        {
            return QJsonDocument::fromJson(run.out.toUtf8()).object();
        }
    };

    // A page request from 127.0.0.2, an address of no interface of this
    // machine: the engine takes it for a client on another machine.
    static QByteArray fromElsewhere(quint16 port, const QString& target,
                                    const QByteArray& authorization = {})
    {
        QTcpSocket socket;
        if (!socket.bind(QHostAddress(QStringLiteral("127.0.0.2"))))
            return "bind failed";
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(5000))
            return "no connection";
        QByteArray request = "GET " + target.toLatin1() + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
        if (!authorization.isEmpty())
            request += "Authorization: Basic " + authorization.toBase64() + "\r\n";
        socket.write(request + "\r\n");
        QByteArray answer;
        while (socket.waitForReadyRead(10000))
            answer += socket.readAll();
        return answer + socket.readAll();
    }

    static bool oneLine(const QString& text)
    {
        return text.endsWith(QLatin1Char('\n')) && text.count(QLatin1Char('\n')) == 1;
    }

private Q_SLOTS:
    // The engine serves the socket once it holds the port (replacing a file
    // a dead program left there); commands reach the line through it,
    // status says who holds the interface, and a lost interface is exit 1.
    void againstTheRunningEngine()
    {
        Rig rig;
        QVERIFY(test::leaveDeadSocket(rig.socketPath));
        QVERIFY(rig.start());
        QTRY_VERIFY_WITH_TIMEOUT(rig.ctl({QStringLiteral("status"), QStringLiteral("--json")})
                                     .out.contains(QLatin1String("\"engine\"")),
                                 15000);

        test::CtlRun run = rig.ctl({QStringLiteral("on"), QStringLiteral("Den Lamp")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        QTRY_VERIFY2_WITH_TIMEOUT(rig.simLog().contains(QLatin1String("A3 ON")),
                                  qPrintable(rig.simLog()), 5000);
        // The engine recorded it, as it records a click on a page.
        QCOMPARE(rig.state(QStringLiteral("DenLamp")), QStringLiteral("True"));

        run = rig.ctl({QStringLiteral("dim"), QStringLiteral("a3"), QStringLiteral("40")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        QCOMPARE(rig.state(QStringLiteral("dimDenLamp")), QStringLiteral("40"));

        run = rig.ctl({QStringLiteral("status"), QStringLiteral("--json")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        const QJsonObject report = Rig::json(run);
        const QJsonObject face = report.value(QLatin1String("interface")).toObject();
        QCOMPARE(face.value(QLatin1String("holder")).toString(), QStringLiteral("engine"));
        QCOMPARE(face.value(QLatin1String("state")).toString(), QStringLiteral("ready"));
        QCOMPARE(face.value(QLatin1String("port")).toInt(), 1);
        const QJsonArray devices = report.value(QLatin1String("devices")).toArray();
        QCOMPARE(devices.size(), 2);
        const QJsonObject lamp = devices[0].toObject();
        QCOMPARE(lamp.value(QLatin1String("address")).toString(), QStringLiteral("A3"));
        QCOMPARE(lamp.value(QLatin1String("on")).toBool(), true);
        QCOMPARE(lamp.value(QLatin1String("level")).toInt(), 40);
        QCOMPARE(lamp.value(QLatin1String("dimmable")).toBool(), true);
        QCOMPARE(devices[1].toObject().value(QLatin1String("on")).toBool(), false);

        run = rig.ctl({QStringLiteral("status")});
        QVERIFY2(run.out.contains(QLatin1String("held by the engine")), qPrintable(run.describe()));
        QVERIFY2(run.out.contains(QLatin1String("A3   Den Lamp: on 40%")), qPrintable(run.out));

        run = rig.ctl({QStringLiteral("events"), QStringLiteral("--json")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        const QJsonArray events = Rig::json(run).value(QLatin1String("events")).toArray();
        QCOMPARE(events.size(), 2);
        QCOMPARE(events[0].toObject().value(QLatin1String("time")).toString(),
                 QStringLiteral("07:30"));
        QCOMPARE(events[1].toObject().value(QLatin1String("freq")).toString(),
                 QStringLiteral("once"));

        // An unknown device is the caller's error, whoever answers.
        run = rig.ctl({QStringLiteral("on"), QStringLiteral("Kitchen Lamp")});
        QVERIFY2(run.exitCode == 2 && oneLine(run.err), qPrintable(run.describe()));
        // So is a name longer than any request may be.
        run = rig.ctl({QStringLiteral("on"), QString(5000, QLatin1Char('x'))});
        QVERIFY2(run.exitCode == 2 && oneLine(run.err), qPrintable(run.describe()));

        // Clients that connect and say nothing do not lock others out: the
        // longest silent makes room, with an answer.
        std::vector<std::unique_ptr<QLocalSocket>> idle;
        for (int i = 0; i < 20; ++i) {
            idle.push_back(std::make_unique<QLocalSocket>());
            idle.back()->connectToServer(rig.socketPath);
            QVERIFY(idle.back()->waitForConnected(2000));
        }
        run = rig.ctl({QStringLiteral("status")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        QTRY_VERIFY_WITH_TIMEOUT(idle.front()->bytesAvailable() > 0 ||
                                     idle.front()->state() == QLocalSocket::UnconnectedState,
                                 5000);
        QVERIFY2(idle.front()->readAll().contains("\"timeout\""), "no answer to the idle client");
        idle.clear();

        // The adapter pulled: the engine holds a lost interface; nothing is
        // carried out, and the command line says so.
        rig.sim.kill();
        QTRY_VERIFY_WITH_TIMEOUT(
            Rig::json(rig.ctl({QStringLiteral("status"), QStringLiteral("--json")}))
                    .value(QLatin1String("interface"))
                    .toObject()
                    .value(QLatin1String("state"))
                    .toString() == QLatin1String("lost"),
            10000);
        run = rig.ctl({QStringLiteral("off"), QStringLiteral("Den Lamp")});
        QVERIFY2(run.exitCode == 1 && oneLine(run.err), qPrintable(run.describe()));
        QVERIFY2(run.err.contains(QLatin1String("not connected")), qPrintable(run.err));
        QCOMPARE(rig.state(QStringLiteral("DenLamp")), QStringLiteral("True"));
    }

    // A command whose casaluxctl has gone while it waited its turn (killed,
    // Ctrl-C, a cron job's time limit) is not carried out later.
    void aCommandWhoseCallerHasGoneIsNotCarriedOut()
    {
        Rig rig;
        rig.simArguments = {QStringLiteral("--line-delay"), QStringLiteral("1500")};
        QVERIFY(rig.start());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(rig.socketPath), 15000);
        QProcess first;
        QProcess second;
        for (QProcess* ctl : {&first, &second})
            ctl->setProcessEnvironment(rig.ctlEnvironment());
        first.start(test::CtlRun::program(),
                    {QStringLiteral("dim"), QStringLiteral("Den Lamp"), QStringLiteral("40")});
        QTRY_VERIFY_WITH_TIMEOUT(rig.simLog().contains(QLatin1String("A3 ")), 10000);
        second.start(test::CtlRun::program(), {QStringLiteral("on"), QStringLiteral("A4")});
        QVERIFY(second.waitForStarted(5000));
        QTest::qWait(1000); // connected and waiting its turn
        QCOMPARE(second.state(), QProcess::Running);
        second.kill();
        QVERIFY(second.waitForFinished(5000));
        QVERIFY(first.waitForFinished(30000));
        QCOMPARE(first.exitCode(), 0);
        QTest::qWait(6000); // the line would have carried it by now
        QVERIFY2(!rig.simLog().contains(QLatin1String("A4 ON")), qPrintable(rig.simLog()));
        QCOMPARE(rig.state(QStringLiteral("DenFan")), QString());
    }

    // Behind a long queue casaluxctl waits past its own silence limit while
    // the program says the command is still to come, and it is carried
    // out; one that could not start within the deadline is refused, never
    // carried out late. (Engine and casaluxctl run 30 times fast: the
    // 120 s silence limit is 4 s, the 5 min deadline 10 s; the line not.)
    void aLongQueueIsWaitedForUntilTheDeadline()
    {
        Rig rig;
        // Two more than the program serves at once; the slow line puts the
        // later turns well past their deadline even when starting the
        // sanitizer-built clients takes seconds.
        constexpr int count = ControlServer::maxClients + 2;
        // B1..B16, then C1 and C2.
        const auto address = [](int i) {
            return QLatin1String(i <= 16 ? "B" : "C") + QString::number((i - 1) % 16 + 1);
        };
        QByteArray rooms = "Den~~~\r\n";
        for (int i = 1; i <= count; ++i)
            rooms += QStringLiteral("Den~L%1~%2~%3\r\n")
                         .arg(i)
                         .arg(address(i).left(1), address(i).mid(1))
                         .toLatin1();
        rig.folder.write(QStringLiteral("rmlst.rvf"), rooms);
        rig.simArguments = {QStringLiteral("--line-delay"), QStringLiteral("700")};
        rig.environment.insert(QStringLiteral("CASALUX_TIME_SCALE"), QStringLiteral("30"));
        QVERIFY(rig.start());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(rig.socketPath), 15000);
        QProcessEnvironment env = rig.ctlEnvironment();
        env.insert(QStringLiteral("CASALUX_TIME_SCALE"), QStringLiteral("30"));
        std::vector<std::unique_ptr<QProcess>> ctls;
        std::vector<qint64> waited(count, -1);
        QElapsedTimer clock;
        clock.start();
        for (int unit = 1; unit <= count; ++unit) {
            auto& ctl = ctls.emplace_back(std::make_unique<QProcess>());
            ctl->setProcessEnvironment(env);
            const qint64 asked = clock.elapsed();
            QObject::connect(ctl.get(), &QProcess::finished, ctl.get(),
                             [&waited, &clock, unit, asked] {
                                 waited[unit - 1] = clock.elapsed() - asked;
                             });
            ctl->start(test::CtlRun::program(), {QStringLiteral("on"), address(unit)});
            QVERIFY(ctl->waitForStarted(5000));
            QTest::qWait(50); // asked in this order
        }
        // Each command is either carried out, or refused for its deadline
        // or because every place was taken, never both; each client hears
        // which. Those asked last may still be carried out once the refused
        // ones have left the line, since their deadlines began later.
        int refused = 0;
        qint64 longestCarriedOut = 0;
        for (int unit = 1; unit <= count; ++unit) {
            QProcess& ctl = *ctls[unit - 1];
            QVERIFY(ctl.state() == QProcess::NotRunning || ctl.waitForFinished(60000));
            const QString sent = address(unit) + QStringLiteral(" ON");
            QTRY_VERIFY_WITH_TIMEOUT(ctl.exitCode() != 0 || rig.simLog().contains(sent), 5000);
            if (ctl.exitCode() == 0) {
                longestCarriedOut = std::max(longestCarriedOut, waited[unit - 1]);
                continue;
            }
            const QByteArray said = ctl.readAllStandardError();
            refused += said.contains("could not start within 5 minutes") ? 1 : 0;
            QVERIFY2(ctl.exitCode() == 1 && (said.contains("could not start within 5 minutes") ||
                                             said.contains("try again shortly")),
                     said.constData());
            QVERIFY2(!rig.simLog().contains(sent), qPrintable(rig.simLog()));
        }
        QVERIFY2(longestCarriedOut > 4000, "no command outlasted the silence limit");
        QVERIFY2(refused > 0, "no command outlasted its deadline");
    }

    // A program that answers at once and closes without reading the request
    // (as it refuses a client over its limit) resets the connection; the
    // answer that came before the reset is still heard.
    void anAnswerBeforeAResetIsHeard()
    {
        Rig rig;
        const QByteArray path = QFile::encodeName(rig.socketPath);
        const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        QVERIFY(server >= 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), path.size());
        QCOMPARE(::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        QCOMPARE(::listen(server, 4), 0);
        const QByteArray busy = ControlProtocol::failure(
            ControlProtocol::busy, QStringLiteral("16 requests are under way: try again shortly"));
        // Whether the request comes before the close or after is a race:
        // a few tries meet both.
        for (int attempt = 0; attempt < 6; ++attempt) {
            QProcess ctl;
            ctl.setProcessEnvironment(rig.ctlEnvironment());
            ctl.start(test::CtlRun::program(), {QStringLiteral("on"), QStringLiteral("Den Lamp")});
            pollfd waiting{server, POLLIN, 0};
            QCOMPARE(::poll(&waiting, 1, 10000), 1);
            const int client = ::accept(server, nullptr, nullptr);
            QVERIFY(client >= 0);
            QCOMPARE(::write(client, busy.constData(), busy.size()), qsizetype(busy.size()));
            ::close(client); // the request unread, or not yet sent
            QVERIFY(ctl.waitForFinished(10000));
            const QByteArray said = ctl.readAllStandardError();
            QVERIFY2(said.contains("try again shortly"), said.constData());
            QCOMPARE(ctl.exitCode(), 1);
        }
        ::close(server);
    }

    // Two homes on one machine: each program serves a socket of its own,
    // and casaluxctl reaches the one running the home it was given.
    void twoHomesServeTheirOwnSockets()
    {
        test::TempFolder runtime;
        QCOMPARE(::chmod(QFile::encodeName(runtime.path()).constData(), 0700), 0);
        Rig first;
        first.folder.write(QStringLiteral("rmlst.rvf"), "Den~~~\r\nDen~Lamp~A~3\r\n");
        Rig second;
        second.folder.write(QStringLiteral("rmlst.rvf"), "Den~~~\r\nDen~Lamp~B~7\r\n");
        for (Rig* rig : {&first, &second}) {
            rig->environment.insert(QStringLiteral("CASALUX_CONTROL_SOCKET"), QString());
            rig->environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
            QVERIFY(rig->start());
        }
        QTRY_COMPARE_WITH_TIMEOUT(QDir(runtime.file(QStringLiteral("casalux")))
                                      .entryList(QDir::System | QDir::Files)
                                      .size(),
                                  2, 15000);
        for (Rig* rig : {&second, &first}) {
            QProcessEnvironment env = rig->ctlEnvironment();
            env.remove(QStringLiteral("CASALUX_CONTROL_SOCKET"));
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
            const test::CtlRun run = test::CtlRun::run(
                {QStringLiteral("on"), QStringLiteral("Den Lamp")}, env);
            QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        }
        QTRY_VERIFY2_WITH_TIMEOUT(first.simLog().contains(QLatin1String("A3 ON")),
                                  qPrintable(first.simLog()), 5000);
        QTRY_VERIFY2_WITH_TIMEOUT(second.simLog().contains(QLatin1String("B7 ON")),
                                  qPrintable(second.simLog()), 5000);
        // Each switched through its own program, which recorded it.
        QCOMPARE(first.state(QStringLiteral("DenLamp")), QStringLiteral("True"));
        QCOMPARE(second.state(QStringLiteral("DenLamp")), QStringLiteral("True"));
    }

    // A command for another program folder is refused by a program that
    // serves this one, and changes nothing here.
    void anotherHomeIsRefused()
    {
        Rig rig;
        QVERIFY(rig.start());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(rig.socketPath), 15000);
        test::TempFolder other;
        other.write(QStringLiteral("rmlst.rvf"), "Den~~~\r\nDen~Lamp~B~7\r\n");
        test::CtlRun run = rig.ctl(
            {QStringLiteral("--home"), other.path(), QStringLiteral("on"), QStringLiteral("Den Lamp")});
        QVERIFY2(run.exitCode == 2 && oneLine(run.err), qPrintable(run.describe()));
        QVERIFY2(run.err.contains(other.path()), qPrintable(run.err));
        // Its own folder, named with a detour, is the same home.
        run = rig.ctl({QStringLiteral("--home"), rig.folder.path() + QStringLiteral("/html/.."),
                       QStringLiteral("on"), QStringLiteral("Den Lamp")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        QTRY_VERIFY2_WITH_TIMEOUT(rig.simLog().contains(QLatin1String("A3 ON")),
                                  qPrintable(rig.simLog()), 5000);
        QVERIFY(!rig.simLog().contains(QLatin1String("B7")));
    }

    // An event list whose answer is larger than any line limit of old.
    void largeEventListThroughTheEngine()
    {
        Rig rig;
        QByteArray events;
        constexpr int count = 20000;
        for (int i = 0; i < count; ++i)
            events += QStringLiteral("Den Lamp~A~3~%1~%2:%3~on~daily~mtwuf\r\n")
                          .arg(i % 100)
                          .arg(i / 60 % 24, 2, 10, QLatin1Char('0'))
                          .arg(i % 60, 2, 10, QLatin1Char('0'))
                          .toLatin1();
        rig.folder.write(QStringLiteral("evelst.rvf"), events);
        QVERIFY(rig.start());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(rig.socketPath), 15000);
        const test::CtlRun run = rig.ctl({QStringLiteral("events"), QStringLiteral("--json")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe().left(2000)));
        QVERIFY(run.out.size() > 1024 * 1024);
        QCOMPARE(Rig::json(run).value(QLatin1String("events")).toArray().size(), count);
    }

    // The engine holds the interface through a link (a /dev/serial/by-id
    // name); the command line, not reaching the engine, opens it by the
    // device's own name: the port's lock keeps it out, root or not.
    void aSecondNameForThePortIsLockedToo()
    {
        Rig rig;
        rig.throughLink = true;
        QVERIFY(rig.start());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(rig.socketPath), 15000);
        QProcessEnvironment env = rig.ctlEnvironment();
        env.insert(QStringLiteral("CASALUX_CONTROL_SOCKET"),
                   rig.folder.file(QStringLiteral("nobody-serves")));
        const test::CtlRun run =
            test::CtlRun::run({QStringLiteral("on"), QStringLiteral("A4")}, env);
        QVERIFY2(run.exitCode == 1 && oneLine(run.err), qPrintable(run.describe()));
        QVERIFY2(run.err.contains(QLatin1String("cannot be opened")), qPrintable(run.err));
        QTest::qWait(300);
        QVERIFY2(!rig.simLog().contains(QLatin1String("A4 ON")), qPrintable(rig.simLog()));
    }

    // The engine lets go of the port for the desktop program: it stops
    // serving, and the socket file goes with it.
    // A home server without a screen, from a fresh folder: the engine
    // finds no interface and says so on its pages; casaluxctl names the
    // port (a device path), the rooms and devices and the login; the engine
    // takes each up without a restart. Clients on other machines switch
    // nothing until the login is set; this machine's clients as ever.
    void aHomeServerSetUpFromTheShell()
    {
        Rig rig;
        QFile::remove(rig.folder.file(QStringLiteral("rmlst.rvf")));
        QFile::remove(rig.folder.file(QStringLiteral("evelst.rvf")));
        rig.folder.write(QStringLiteral("html/index.html"), "<body><h1><room></h1><p><dev0></p>\r\n");
        rig.settings.write(settingkeys::port, QStringLiteral("none"));
        rig.hideAllPorts();
        rig.arguments = QStringList{QStringLiteral("--require-login")};
        QVERIFY(rig.start());
        QTRY_VERIFY_WITH_TIMEOUT(QCoro::waitFor(test::httpGet(rig.webPort, QStringLiteral("/index.html")))
                                     .contains("No X10 interface found yet"),
                                 10000);

        QVERIFY(rig.relink(rig.sim));
        test::CtlRun run = rig.ctl({QStringLiteral("port"), rig.linkPath()});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        QTRY_VERIFY_WITH_TIMEOUT(rig.ctl({QStringLiteral("status"), QStringLiteral("--json")})
                                     .out.contains(QLatin1String("\"engine\"")),
                                 15000);
        QCOMPARE(rig.state(QStringLiteral("port")), rig.linkPath());
        run = rig.ctl({QStringLiteral("status")});
        QVERIFY2(run.out.contains(QLatin1String("ready on ") + rig.linkPath() +
                                  QLatin1String(", held by the engine")),
                 qPrintable(run.describe()));

        QCOMPARE(rig.ctl({QStringLiteral("room"), QStringLiteral("add"), QStringLiteral("Lounge")}).exitCode, 0);
        run = rig.ctl({QStringLiteral("room"), QStringLiteral("add"), QStringLiteral("Events")});
        QVERIFY2(run.exitCode == 2 && run.err.contains(QLatin1String("Events is the name of a section")),
                 qPrintable(run.describe()));
        run = rig.ctl({QStringLiteral("device"), QStringLiteral("add"), QStringLiteral("Lounge"),
                       QStringLiteral("Lamp"), QStringLiteral("A3"), QStringLiteral("bulb")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        run = rig.ctl({QStringLiteral("rooms"), QStringLiteral("--json")});
        QCOMPARE(Rig::json(run).value(QLatin1String("rooms")).toArray().at(0).toObject()
                     .value(QLatin1String("devices")).toArray().at(0).toObject()
                     .value(QLatin1String("kind")).toString(),
                 QStringLiteral("bulb"));

        const QString on = QStringLiteral("/index.html?A~3~LoungeLamp~turnon~Lounge");
        const QString off = QStringLiteral("/index.html?A~3~LoungeLamp~turnoff~Lounge");
        QByteArray page = fromElsewhere(rig.webPort, on);
        QVERIFY2(page.contains("casaluxctl login"), page.constData());
        QTest::qWait(1500);
        QVERIFY2(!rig.simLog().contains(QLatin1String("A3 ON")), qPrintable(rig.simLog()));
        page = QCoro::waitFor(test::httpGet(rig.webPort, on));
        QVERIFY2(!page.contains("casaluxctl login") && page.contains("bulbon.gif"), page.constData());
        QTRY_VERIFY2_WITH_TIMEOUT(rig.simLog().contains(QLatin1String("A3 ON")), qPrintable(rig.simLog()), 10000);

        run = rig.ctl({QStringLiteral("login"), QStringLiteral("admin"),
                       QStringLiteral("--password-stdin")},
                      "s3cret\n");
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        page = fromElsewhere(rig.webPort, off, "admin:s3cret");
        QVERIFY2(page.contains("bulboff.gif") && !page.contains("casaluxctl login"), page.constData());
        QTRY_VERIFY2_WITH_TIMEOUT(rig.simLog().contains(QLatin1String("A3 OFF")), qPrintable(rig.simLog()), 10000);
    }

    // A room and a device renamed while the engine runs: the engine shows
    // the new names at once, the event still switches the lamp and records
    // it under its new name, and the macros, its kind, a parked profile's
    // event and the pages' last room follow.
    void renamingKeepsTheHomeWhole()
    {
        Rig rig;
        rig.folder.write(QStringLiteral("macs.hlk"),
                         "When~A3~Den~Lamp~turns~on~Turn~On~A4~Den~Fan\r\n");
        rig.folder.write(QStringLiteral("Weekends.txt"), "Den Lamp~A~3~ ~22:00~off~daily~sr\r\n");
        rig.settings.write(settingkeys::lastroom, QStringLiteral("Den"));
        // 2026-03-05 is a Thursday: the 07:30 event is due.
        QVERIFY(rig.start(QStringLiteral("2026-03-05T07:29:00"), 2));
        QTRY_VERIFY_WITH_TIMEOUT(rig.ctl({QStringLiteral("status"), QStringLiteral("--json")})
                                     .out.contains(QLatin1String("\"engine\"")),
                                 15000);
        test::CtlRun run = rig.ctl({QStringLiteral("room"), QStringLiteral("rename"),
                                    QStringLiteral("Den"), QStringLiteral("Study")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        run = rig.ctl({QStringLiteral("device"), QStringLiteral("rename"), QStringLiteral("Study"),
                       QStringLiteral("Lamp"), QStringLiteral("Reading Lamp")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));

        run = rig.ctl({QStringLiteral("status"), QStringLiteral("--json")});
        QVERIFY2(run.out.contains(QLatin1String("\"engine\"")), qPrintable(run.describe()));
        const QJsonObject lamp =
            Rig::json(run).value(QLatin1String("devices")).toArray().at(0).toObject();
        QCOMPARE(lamp.value(QLatin1String("room")).toString(), QStringLiteral("Study"));
        QCOMPARE(lamp.value(QLatin1String("name")).toString(), QStringLiteral("Reading Lamp"));
        QCOMPARE(lamp.value(QLatin1String("kind")).toString(), QStringLiteral("bulb2"));
        run = rig.ctl({QStringLiteral("events"), QStringLiteral("--json")});
        QCOMPARE(Rig::json(run).value(QLatin1String("events")).toArray().at(0).toObject()
                     .value(QLatin1String("device")).toString(),
                 QStringLiteral("Study Reading Lamp"));
        QCOMPARE(rig.folder.read(QStringLiteral("Weekends.txt")),
                 QByteArray("Study Reading Lamp~A~3~ ~22:00~off~daily~sr\r\n"));
        QCOMPARE(rig.folder.read(QStringLiteral("macs.hlk")),
                 QByteArray("When~A3~Study~Reading~Lamp~turns~on~Turn~On~A4~Study~Fan\r\n"));
        QCOMPARE(rig.state(QStringLiteral("lastroom")), QStringLiteral("Study"));

        QTRY_VERIFY2_WITH_TIMEOUT(rig.state(QStringLiteral("StudyReadingLamp")) ==
                                      QLatin1String("True"),
                                  qPrintable(rig.simLog()), 60000);
        QCOMPARE(rig.state(QStringLiteral("dimStudyReadingLamp")), QStringLiteral("60"));
    }

    // A new name the window would refuse, one already taken, or a list that
    // cannot be written: exit 2 with the reason, and nothing changes.
    void renamingRefused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("blocked"); // made a folder, so it cannot be written
        QTest::addColumn<QString>("reason");
        const QStringList room{QStringLiteral("room"), QStringLiteral("rename"), QStringLiteral("Den")};
        const QStringList device{QStringLiteral("device"), QStringLiteral("rename"),
                                 QStringLiteral("Den"), QStringLiteral("Lamp")};
        QTest::newRow("a section's name") << room + QStringList{"events"} << QString()
                                          << "Events is the name of a section";
        QTest::newRow("a tilde") << room + QStringList{"Den~2"} << QString()
                                 << "cannot contain the character ~";
        QTest::newRow("no room name") << room + QStringList{" "} << QString()
                                      << "You must type in a name for room";
        QTest::newRow("a room's name") << room + QStringList{"hall"} << QString()
                                       << "Hall is already the name of a room";
        QTest::newRow("a room's key") << room + QStringList{"Ha ll"} << QString()
                                      << "Hall is already the name of a room";
        QTest::newRow("no device name") << device + QStringList{""} << QString()
                                        << "You must type in a name for this device";
        QTest::newRow("a device's name") << device + QStringList{"fan"} << QString()
                                         << "Fan is already the name of a device in Den";
        QTest::newRow("no such room") << QStringList{"room", "rename", "Attic", "Loft"} << QString()
                                      << "no room \"Attic\"";
        QTest::newRow("no such device") << QStringList{"device", "rename", "Hall", "Lamp", "Lamp 2"}
                                        << QString() << "no device \"Lamp\" in room \"Hall\"";
        QTest::newRow("the macros cannot be written")
            << room + QStringList{"Study"} << QStringLiteral("macs.hlk.tmp") << "nothing was changed";
        QTest::newRow("the parked events cannot be written")
            << device + QStringList{"Light"} << QStringLiteral("Weekends.txt.tmp")
            << "nothing was changed";
    }
    void renamingRefused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, blocked);
        QFETCH(QString, reason);
        Rig rig;
        rig.folder.write(QStringLiteral("rmlst.rvf"),
                         "Den~~~\r\nDen~Lamp~A~3\r\nDen~Fan~A~4\r\nHall~~~\r\n");
        rig.folder.write(QStringLiteral("macs.hlk"), "When~A4~Den~Fan~turns~on~Turn~On~A3~Den~Lamp\r\n");
        rig.folder.write(QStringLiteral("Weekends.txt"), "Den Lamp~A~3~ ~22:00~off~daily~sr\r\n");
        rig.settings.write(settingkeys::lastroom, QStringLiteral("Den"));
        if (!blocked.isEmpty())
            QVERIFY(QDir(rig.folder.path()).mkdir(blocked));
        const QStringList files{"rmlst.rvf", "evelst.rvf", "macs.hlk", "Weekends.txt", "machine.ini"};
        QList<QByteArray> before;
        for (const QString& file : files)
            before.append(rig.folder.read(file));

        const test::CtlRun run = rig.ctl(arguments);
        QVERIFY2(run.exitCode == 2 && run.err.contains(reason), qPrintable(run.describe()));
        for (qsizetype i = 0; i < files.size(); ++i)
            QVERIFY2(rig.folder.read(files[i]) == before[i], qPrintable(files[i]));
    }

    void theEngineStopsServingAtTheHandOver()
    {
        Rig rig;
        QVERIFY(rig.start());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(rig.socketPath), 15000);
        rig.settings.write(settingkeys::closeengine, QStringLiteral("True"));
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(rig.socketPath), 15000);
        QCOMPARE(rig.engine.state(), QProcess::Running);
    }

    // Nobody serves: the command line opens the interface on the stored
    // port for the one command, records the state and lets go again.
    void withNoProgramRunning()
    {
        Rig rig;
        QVERIFY(rig.sim.start({}, 0));
        rig.throughLink = true;
        QVERIFY(rig.relink(rig.sim));
        test::CtlRun run = rig.ctl({QStringLiteral("on"), QStringLiteral("den lamp")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        QTRY_VERIFY2_WITH_TIMEOUT(rig.simLog().contains(QLatin1String("A3 ON")),
                                  qPrintable(rig.simLog()), 5000);
        QCOMPARE(rig.state(QStringLiteral("DenLamp")), QStringLiteral("True"));
        run = rig.ctl({QStringLiteral("dim"), QStringLiteral("Den Lamp"), QStringLiteral("30%")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        QCOMPARE(rig.state(QStringLiteral("dimDenLamp")), QStringLiteral("30"));
        run = rig.ctl({QStringLiteral("off"), QStringLiteral("A4")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        QTRY_VERIFY2_WITH_TIMEOUT(rig.simLog().contains(QLatin1String("A4 OFF")),
                                  qPrintable(rig.simLog()), 5000);

        // The port is let go after each command.
        QSerialPort port(rig.sim.devicePath());
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        port.close();

        run = rig.ctl({QStringLiteral("status"), QStringLiteral("--json")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        const QJsonObject face = Rig::json(run).value(QLatin1String("interface")).toObject();
        QCOMPARE(face.value(QLatin1String("state")).toString(), QStringLiteral("none"));
        QVERIFY(face.value(QLatin1String("holder")).isNull());
        QCOMPARE(Rig::json(run)
                     .value(QLatin1String("devices"))
                     .toArray()[0]
                     .toObject()
                     .value(QLatin1String("level"))
                     .toInt(),
                 30);

        // While something else holds the port, nothing is sent.
        QVERIFY(port.open(QIODevice::ReadWrite));
        run = rig.ctl({QStringLiteral("on"), QStringLiteral("A4")});
        QVERIFY2(run.exitCode == 1 && oneLine(run.err), qPrintable(run.describe()));
        port.close();

        // The interface gone: exit 1, the state stays as it was. Its link
        // goes too, as udev removes a pulled adapter's: the dead simulator's
        // pseudo-terminal number may meanwhile belong to another program
        // (another test's simulator, which would answer).
        rig.sim.kill();
        QVERIFY(QFile::remove(rig.linkPath()));
        run = rig.ctl({QStringLiteral("off"), QStringLiteral("Den Lamp")});
        QVERIFY2(run.exitCode == 1 && oneLine(run.err), qPrintable(run.describe()));
        QCOMPARE(rig.state(QStringLiteral("DenLamp")), QStringLiteral("True"));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no arguments") << QStringList{};
        QTest::newRow("unknown command")
            << QStringList{QStringLiteral("toggle"), QStringLiteral("A3")};
        QTest::newRow("on without a target") << QStringList{QStringLiteral("on")};
        QTest::newRow("percent not a number")
            << QStringList{QStringLiteral("dim"), QStringLiteral("A3"), QStringLiteral("bright")};
        QTest::newRow("percent above 100")
            << QStringList{QStringLiteral("dim"), QStringLiteral("A3"), QStringLiteral("150")};
        QTest::newRow("negative percent")
            << QStringList{QStringLiteral("dim"), QStringLiteral("A3"), QStringLiteral("-5")};
        QTest::newRow("unknown device")
            << QStringList{QStringLiteral("on"), QStringLiteral("Attic Lamp")};
        QTest::newRow("address with no device")
            << QStringList{QStringLiteral("off"), QStringLiteral("P16")};
        QTest::newRow("dimming an appliance module")
            << QStringList{QStringLiteral("dim"), QStringLiteral("Den Fan"), QStringLiteral("50")};
        QTest::newRow("unknown option")
            << QStringList{QStringLiteral("status"), QStringLiteral("--xml")};
    }
    // Exit 2 and one line on standard error; nothing reaches the line, and
    // an unknown device does not even open the interface.
    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        Rig rig;
        QVERIFY(rig.sim.start({}, 0));
        const test::CtlRun run = rig.ctl(arguments);
        QVERIFY2(run.exitCode == 2 && oneLine(run.err), qPrintable(run.describe()));
        QVERIFY(run.out.isEmpty());
        QVERIFY2(rig.sim.receivedHex().isEmpty(), qPrintable(rig.sim.receivedHex()));
    }

    // A socket in a folder that any user may write to could be anyone's:
    // the command line does not talk to it.
    // A user outside the folder's group is told so, and how to join it,
    // whatever the command; no port or socket is blamed.
    void outsideTheGroup_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("on") << QStringList{"on", "Den Lamp"};
        QTest::newRow("status") << QStringList{"status"};
        QTest::newRow("port") << QStringList{"port", "3"};
    }
    void outsideTheGroup()
    {
        QFETCH(QStringList, arguments);
        if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
            QSKIP("needs root and setpriv (util-linux) to run casaluxctl as another user");
        Rig rig;
        QFile::setPermissions(rig.folder.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                     QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                                     QFileDevice::WriteGroup | QFileDevice::ExeGroup);
        QProcess ctl;
        ctl.setProcessEnvironment(rig.ctlEnvironment());
        ctl.start(QStringLiteral("setpriv"),
                  QStringList{"--reuid=65534", "--regid=65534", "--clear-groups",
                              test::CtlRun::program()} +
                      arguments);
        QVERIFY(ctl.waitForFinished(30000));
        const QString err = QString::fromLocal8Bit(ctl.readAllStandardError());
        QCOMPARE(ctl.exitCode(), 2);
        QVERIFY2(err.contains(QLatin1String("is not in group")) &&
                     err.contains(QLatin1String("then log in again")) && oneLine(err),
                 qPrintable(err));
    }

    void aSocketOthersCouldPlantIsNotUsed()
    {
        Rig rig;
        const QString open = rig.folder.file(QStringLiteral("open"));
        QVERIFY(QDir().mkpath(open));
        QVERIFY(QFile::setPermissions(open, QFileDevice::Permissions(0x7777)));
        QLocalServer planted;
        QVERIFY(planted.listen(open + QStringLiteral("/control")));
        rig.socketPath = open + QStringLiteral("/control");
        QVERIFY(rig.sim.start({}, 0));
        const test::CtlRun run = rig.ctl({QStringLiteral("on"), QStringLiteral("Den Lamp")});
        QVERIFY2(!planted.hasPendingConnections(), qPrintable(run.describe()));
        // It did the command itself instead.
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        QTRY_VERIFY_WITH_TIMEOUT(rig.simLog().contains(QLatin1String("A3 ON")), 5000);
        // Whether a program holds the interface is not known then: status
        // does not say "nobody".
        const test::CtlRun status = rig.ctl({QStringLiteral("status"), QStringLiteral("--json")});
        QVERIFY2(status.exitCode == 0, qPrintable(status.describe()));
        QCOMPARE(Rig::json(status)
                     .value(QLatin1String("interface"))
                     .toObject()
                     .value(QLatin1String("state"))
                     .toString(),
                 QStringLiteral("unknown"));
        QVERIFY(!rig.ctl({QStringLiteral("status")}).out.contains(QLatin1String("not held")));
    }
};

QTEST_GUILESS_MAIN(TestCasaluxCtl)
#include "tst_casaluxctl.moc"
