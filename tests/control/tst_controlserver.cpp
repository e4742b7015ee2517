#include "control/controlserver.h"
#include "control/controlsocketpath.h"
#include "corefixture.h"
#include "platform/programfolder.h"
#include "deadsocket.h"
#include "platform/clock.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QtTest>
#include <atomic>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <thread>
#include <vector>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace casalux;

namespace {

// A client that says what it is told and collects what comes back.
struct Client {
    QLocalSocket socket;
    QByteArray answer;
    explicit Client(const QString& path)
    {
        QObject::connect(&socket, &QLocalSocket::readyRead, &socket,
                         [this] { answer += socket.readAll(); });
        socket.connectToServer(path);
        socket.waitForConnected(2000);
    }
    bool closed() const { return socket.state() == QLocalSocket::UnconnectedState; }
    QJsonObject json() const { return QJsonDocument::fromJson(answer).object(); }
    QString error() const { return json().value(QLatin1String("error")).toString(); }
};

} // namespace

// The control socket's server in this process, on a scripted interface.
class TestControlServer : public QObject {
    Q_OBJECT

    // The engine's core, its socket named by the test, in a home with one
    // lamp.
    struct Serving : test::CoreFixture {
        QString path = folder.file(QStringLiteral("control"));
        explicit Serving(HomeCore::Host host = engine()) : test::CoreFixture(std::move(host))
        {
            writeList("Lounge~~~\nLounge~Lamp~A~3\n");
            setKind(QStringLiteral("LoungeLamp"), QStringLiteral("bulb"));
            qputenv("CASALUX_CONTROL_SOCKET", path.toLocal8Bit());
        }
        ~Serving() { qunsetenv("CASALUX_CONTROL_SOCKET"); }
        // Another program's server for the same home.
        std::unique_ptr<ControlServer> makeServer()
        {
            return std::make_unique<ControlServer>(ControlServer::Setup{
                folder.path(), settings, control, core.outside, QStringLiteral("engine")});
        }
        // Sends one request and waits for the answer and the close.
        QJsonObject ask(const QByteArray& request)
        {
            Client client(path);
            client.socket.write(request);
            if (!QTest::qWaitFor([&] { return client.closed(); }, 5000))
                return {};
            return client.json();
        }
        // As many clients as there are places, taken in, none has spoken.
        std::vector<std::unique_ptr<Client>> fillEveryPlace()
        {
            std::vector<std::unique_ptr<Client>> clients;
            for (int i = 0; i < ControlServer::maxClients; ++i)
                clients.push_back(std::make_unique<Client>(path));
            QTest::qWait(200);
            return clients;
        }
        bool answersStatus()
        {
            return ask("{\"command\":\"status\"}\n").value(QLatin1String("ok")).toBool();
        }
    };

private Q_SLOTS:
    void init() { Clock::instance().freeze(QDateTime(QDate(2026, 3, 5), QTime(18, 2, 11)), 1000); }
    void cleanup() { Clock::instance().useSystemTime(); }

    void hostileInput_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("error");
        QTest::newRow("garbage") << QByteArray("hello there\n") << "usage";
        QTest::newRow("binary") << QByteArray("\0\xff\x01{\n", 5) << "usage";
        QTest::newRow("not an object") << QByteArray("[\"on\",\"A3\"]\n") << "usage";
        QTest::newRow("unknown command") << QByteArray("{\"command\":\"explode\"}\n") << "usage";
        QTest::newRow("command not text") << QByteArray("{\"command\":7}\n") << "usage";
        QTest::newRow("no target") << QByteArray("{\"command\":\"on\"}\n") << "usage";
        QTest::newRow("target not text")
            << QByteArray("{\"command\":\"on\",\"target\":[]}\n") << "usage";
        QTest::newRow("huge percent")
            << QByteArray("{\"command\":\"dim\",\"target\":\"A3\",\"percent\":1e300}\n") << "usage";
        QTest::newRow("fractional percent")
            << QByteArray("{\"command\":\"dim\",\"target\":\"A3\",\"percent\":40.5}\n") << "usage";
        QTest::newRow("percent as text")
            << QByteArray("{\"command\":\"dim\",\"target\":\"A3\",\"percent\":\"40\"}\n")
            << "usage";
        QTest::newRow("unknown device")
            << QByteArray("{\"command\":\"on\",\"target\":\"Attic Lamp\"}\n") << "unknown-target";
        QTest::newRow("line over the limit") << QByteArray(5000, 'x') + '\n' << "too-long";
        QTest::newRow("line without an end") << QByteArray(8 * 1024, '{') << "too-long";
    }
    // Each is answered with its error and the connection closed; nothing is
    // sent to the interface and the next client is served as usual.
    void hostileInput()
    {
        QFETCH(QByteArray, request);
        QFETCH(QString, error);
        Serving rig;
        QVERIFY2(rig.core.controlServer.start(), qPrintable(rig.core.controlServer.errorString()));
        const QJsonObject answer = rig.ask(request);
        QCOMPARE(answer.value(QLatin1String("ok")).toBool(true), false);
        QCOMPARE(answer.value(QLatin1String("error")).toString(), error);
        QVERIFY(!answer.value(QLatin1String("message")).toString().isEmpty());
        QVERIFY(rig.control.sent.isEmpty());
        QVERIFY(rig.core.controlServer.serving());
        QVERIFY(rig.answersStatus());
    }

    // A client that connects and says nothing is let go after the deadline;
    // meanwhile others are served.
    void aSilentClientIsLetGo()
    {
        Serving rig;
        rig.core.controlServer.setRequestTimeout(500);
        QVERIFY(rig.core.controlServer.start());
        Client silent(rig.path);
        QVERIFY(!silent.closed());
        QVERIFY(rig.answersStatus());
        QTRY_VERIFY_WITH_TIMEOUT(silent.closed(), 5000);
        QCOMPARE(silent.error(), QStringLiteral("timeout"));
        QVERIFY(rig.answersStatus());
    }

    // A client that pours bytes without end is cut off; the server reads
    // no more than a socket buffer of it and stays up.
    void aFloodIsCutOff()
    {
        Serving rig;
        rig.core.controlServer.setRequestTimeout(60000); // only the size limit can end it
        QVERIFY(rig.core.controlServer.start());
        Client flood(rig.path);
        flood.socket.write(QByteArray(4 * 1024 * 1024, 'x'));
        QTRY_VERIFY_WITH_TIMEOUT(flood.closed(), 10000);
        QVERIFY(rig.core.controlServer.serving());
        QVERIFY(rig.answersStatus());
    }

    // Connections are bounded, but silent ones do not lock others out: a
    // newcomer beyond the limit closes the longest silent one (which is
    // told), and when every place has a command under way the newcomer is
    // answered "busy" rather than dropped.
    void connectionsAreBounded()
    {
        Serving rig;
        rig.core.controlServer.setRequestTimeout(60000);
        QVERIFY(rig.core.controlServer.start());
        std::vector<std::unique_ptr<Client>> silent = rig.fillEveryPlace();
        for (const auto& client : silent)
            QVERIFY(!client->closed());
        Client extra(rig.path);
        QTRY_VERIFY_WITH_TIMEOUT(silent.front()->closed(), 5000);
        QCOMPARE(silent.front()->error(), QStringLiteral("timeout"));
        QVERIFY(!extra.closed());
        for (std::size_t i = 1; i < silent.size(); ++i)
            QVERIFY(!silent[i]->closed());
        silent.clear();
        QTRY_VERIFY_WITH_TIMEOUT(rig.answersStatus(), 5000);

        // Every place with a command waiting its turn on a slow line.
        QByteArray list = "Hall~~~\n";
        for (int i = 1; i <= ControlServer::maxClients; ++i)
            list += QStringLiteral("Hall~Lamp%1~B~%1\n").arg(i).toLatin1();
        rig.writeList(list);
        rig.control.setSendSeconds(1000);
        std::vector<std::unique_ptr<Client>> busy;
        for (int i = 1; i <= ControlServer::maxClients; ++i) {
            busy.push_back(std::make_unique<Client>(rig.path));
            busy.back()->socket.write(
                QStringLiteral("{\"command\":\"on\",\"target\":\"B%1\"}\n").arg(i).toLatin1());
        }
        // One on the line, the others waiting their turn: every place taken.
        QTRY_COMPARE_WITH_TIMEOUT(rig.core.outside.waitingCount(), ControlServer::maxClients - 1,
                                  10000);
        Client refused(rig.path);
        QTRY_VERIFY_WITH_TIMEOUT(refused.closed(), 5000);
        QCOMPARE(refused.error(), QStringLiteral("busy"));
        for (const auto& client : busy)
            QVERIFY(!client->closed());
        // Let the queue drain: the one on the line ends, the rest are refused.
        rig.core.outside.setGate([] { return QStringLiteral("ending"); });
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(busy.cbegin(), busy.cend(),
                                             [](const auto& client) { return client->closed(); }),
                                 10000);
    }

    // A client that has sent its request keeps its place even when the
    // program has not read it yet: a newcomer beyond the limit never closes
    // it as if it had said nothing.
    void aRequestNotYetReadKeepsItsPlace()
    {
        Serving rig;
        rig.core.controlServer.setRequestTimeout(60000);
        QVERIFY(rig.core.controlServer.start());
        const std::vector<std::unique_ptr<Client>> clients = rig.fillEveryPlace();
        for (const auto& client : clients) {
            client->socket.write("{\"command\":\"status\"}\n");
            QVERIFY(client->socket.flush());
        }
        // The newcomer arrives before the program has had a turn to read.
        const Client newcomer(rig.path);
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(clients.cbegin(), clients.cend(),
                                             [](const auto& c) { return c->closed(); }),
                                 10000);
        for (const auto& client : clients)
            QVERIFY2(client->json().value(QLatin1String("ok")).toBool(), client->answer.constData());
    }

    // Commands go through the outside commands: carried out, not carried
    // out (with the interface's reason), or refused by the program.
    void commandsAndTheirOutcomes()
    {
        Serving rig;
        QVERIFY(rig.core.controlServer.start());
        QJsonObject answer =
            rig.ask("{\"command\":\"dim\",\"target\":\"lounge lamp\",\"percent\":30}\n");
        QVERIFY2(answer.value(QLatin1String("ok")).toBool(),
                 QJsonDocument(answer).toJson().constData());
        QCOMPARE(rig.control.sent.size(), 3);
        QCOMPARE(rig.machineValue(QStringLiteral("dimLoungeLamp")), QStringLiteral("30"));

        rig.control.setSendResult(false, QStringLiteral("the X10 interface did not answer"));
        answer = rig.ask("{\"command\":\"off\",\"target\":\"A3\"}\n");
        QCOMPARE(answer.value(QLatin1String("error")).toString(), QStringLiteral("not-sent"));
        QCOMPARE(answer.value(QLatin1String("message")).toString(),
                 QStringLiteral("the X10 interface did not answer"));
        QCOMPARE(rig.machineValue(QStringLiteral("LoungeLamp")), QStringLiteral("True"));

        rig.core.outside.setGate([] { return QStringLiteral("handed over"); });
        answer = rig.ask("{\"command\":\"on\",\"target\":\"A3\"}\n");
        QCOMPARE(answer.value(QLatin1String("error")).toString(), QStringLiteral("refused"));
        QCOMPARE(answer.value(QLatin1String("message")).toString(), QStringLiteral("handed over"));

        answer = rig.ask("{\"command\":\"status\"}\n");
        QJsonObject face = answer.value(QLatin1String("interface")).toObject();
        QCOMPARE(face.value(QLatin1String("holder")).toString(), QStringLiteral("engine"));
        QCOMPARE(face.value(QLatin1String("state")).toString(), QStringLiteral("ready"));
    }

    // A program that serves but has let go of the port (a new search that
    // found nothing) does not claim to hold it.
    void statusFollowsThePortInHand()
    {
        bool holding = true;
        HomeCore::Host desktop = Serving::desktop();
        desktop.holding = [&] { return holding; };
        Serving rig(desktop);
        QVERIFY(rig.core.controlServer.start());
        const auto face = [&rig] {
            return rig.ask("{\"command\":\"status\"}\n")
                .value(QLatin1String("interface"))
                .toObject();
        };
        QCOMPARE(face().value(QLatin1String("holder")).toString(), QStringLiteral("desktop"));
        holding = false;
        QCOMPARE(face().value(QLatin1String("state")).toString(), QStringLiteral("none"));
        QVERIFY(face().value(QLatin1String("holder")).isNull());
    }

    // A live server is never taken over; a dead one's file is replaced; the
    // socket is the user's alone outside the shared folder; a folder others
    // could write to, or another user's, is not used at all.
    void placeOfTheSocket()
    {
        Serving rig;
        QVERIFY(test::leaveDeadSocket(rig.path));
        QVERIFY2(rig.core.controlServer.start(), qPrintable(rig.core.controlServer.errorString()));
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(rig.path).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);

        const auto second = rig.makeServer();
        QVERIFY(!second->start());
        QVERIFY(second->errorString().contains(QLatin1String("another program")));
        QVERIFY(rig.answersStatus());

        rig.core.controlServer.stop();
        QVERIFY(!QFileInfo::exists(rig.path));

        const QString open = rig.folder.file(QStringLiteral("open"));
        QVERIFY(QDir().mkpath(open));
        QCOMPARE(::chmod(QFile::encodeName(open).constData(), 0777), 0);
        qputenv("CASALUX_CONTROL_SOCKET", (open + QStringLiteral("/control")).toLocal8Bit());
        auto planted = rig.makeServer();
        QVERIFY(!planted->start());
        QVERIFY2(planted->errorString().contains(QLatin1String("writable by every user")),
                 qPrintable(planted->errorString()));
        QVERIFY(!QFileInfo::exists(open + QStringLiteral("/control")));

        // With no shared folder and no runtime folder the socket is in the
        // user's home, not under a name in /tmp that anyone could take first.
        if (!QFileInfo::exists(QStringLiteral("/run/casalux")) &&
            !QFileInfo::exists(QStringLiteral("/run/user/%1").arg(::geteuid()))) {
            qunsetenv("CASALUX_CONTROL_SOCKET");
            const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
            const QByteArray home = qgetenv("HOME");
            qunsetenv("XDG_RUNTIME_DIR");
            qputenv("HOME", rig.folder.path().toLocal8Bit());
            const QString chosen = ControlSocketPath::choose(rig.folder.path()).path;
            auto inHome = rig.makeServer();
            const bool served = inHome->start();
            inHome.reset();
            qputenv("HOME", home);
            if (!runtime.isEmpty())
                qputenv("XDG_RUNTIME_DIR", runtime);
            qputenv("CASALUX_CONTROL_SOCKET", (open + QStringLiteral("/control")).toLocal8Bit());
            QVERIFY2(chosen.startsWith(rig.folder.file(QStringLiteral(".casalux/control-"))),
                     qPrintable(chosen));
            QVERIFY(served);
        }

        // Each home has a socket name of its own; another spelling of the
        // folder (a link to it) is the same home, and the installed home's
        // is the plain name.
        const QString ours = ControlSocketPath::nameFor(rig.folder.path());
        const QString link = open + QStringLiteral("/home-link");
        QVERIFY(QFile::link(rig.folder.path(), link));
        QCOMPARE(ControlSocketPath::nameFor(link), ours);
        QVERIFY(ControlSocketPath::nameFor(open) != ours);
        QCOMPARE(ControlSocketPath::nameFor(ProgramFolder::installedFolder()),
                 QStringLiteral("control"));

        // Programs starting together all find the socket folder made,
        // whichever of them made it.
        for (int round = 0; round < 40; ++round) {
            const QString socket = rig.folder.file(QStringLiteral("run%1/casalux/control").arg(round));
            std::atomic<int> waiting{4}, made{0};
            std::vector<std::thread> programs;
            for (int i = 0; i < 4; ++i)
                programs.emplace_back([&] {
                    for (--waiting; waiting > 0;) {
                    }
                    made += ControlSocketPath::prepareFolder(socket, nullptr) ? 1 : 0;
                });
            for (std::thread& program : programs)
                program.join();
            QCOMPARE(made.load(), 4);
        }

        if (::geteuid() == 0) {
            // Another user's folder (root may hand one over for the test).
            QCOMPARE(::chmod(QFile::encodeName(open).constData(), 0755), 0);
            QCOMPARE(::chown(QFile::encodeName(open).constData(), 65534, 65534), 0);
            planted = rig.makeServer();
            QVERIFY(!planted->start());
            QVERIFY2(planted->errorString().contains(QLatin1String("another user")),
                     qPrintable(planted->errorString()));
        }
    }
};

QTEST_GUILESS_MAIN(TestControlServer)
#include "tst_controlserver.moc"
