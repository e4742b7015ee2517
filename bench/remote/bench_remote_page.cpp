// Page build and answer of the standard room page for a home of 20 rooms ×
// 10 devices: requests for index.html?loadroom… go through the remote-control
// handler, which loads the template, fills the room list and the room's
// device cells from the list file and the settings, and answers over real
// HTTP. A room request switches nothing, so no X10 wait is in the figure.
//
// The peer, measured side by side in the same run: the very same page,
// saved as a file and served by a plain Servlane (no trapping). Rounds of
// the two alternate so that machine noise hits both alike. One thread: the
// client and both servers share the event loop, as in the programs.
//
// Usage: bench_remote_page [requests per round] [rounds]
// With BENCH_STEPS set it also prints the builders' steps one by one.
#include "home/devicestatus.h"
#include "home/settingsstore.h"
#include "platform/statussink.h"
#include "propertystore.h"
#include "remote/pagebuilder.h"
#include "remote/remoteserver.h"
#include "servlane.h"
#include "x10/devicecommands.h"
#include "x10/nullinterface.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <qcoro/qcoroabstractsocket.h>
#include <qcoro/qcoroiodevice.h>
#include <qcoro/qcorotimer.h>

#include <algorithm>
#include <cstdio>
#include <memory>

using namespace casalux;

namespace {

constexpr int kRooms = 20;
constexpr int kDevices = 10;
const QString kRoomKey = QStringLiteral("Room12");

// Keeps the benchmark's server settings out of the user's configuration.
class MemoryStore final : public PropertyStore {
public:
    QString readValue(const QString& key, const QString& defaultValue) const override
    {
        return m_values.value(key, defaultValue);
    }
    void writeValue(const QString& key, const QString& value) override { m_values.insert(key, value); }

private:
    QMap<QString, QString> m_values;
};

// One HTTP/1.0 GET and the body of its answer; empty on any failure.
QCoro::Task<QByteArray> get(quint16 port, QString target)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!co_await qCoro(socket).waitForConnected(5000))
        co_return QByteArray();
    socket.write("GET " + target.toLatin1() + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState) {
        if (!co_await qCoro(socket).waitForReadyRead(5000))
            break;
        answer += socket.readAll();
    }
    answer += socket.readAll();
    const qsizetype body = answer.indexOf("\r\n\r\n");
    if (!answer.startsWith("HTTP/1.0 200") && !answer.startsWith("HTTP/1.1 200"))
        co_return QByteArray();
    co_return body < 0 ? QByteArray() : answer.mid(body + 4);
}

// Seconds for `count` requests one after the other; negative on a failure.
QCoro::Task<double> timeRequests(quint16 port, QString target, int count, qsizetype expectedSize)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        const QByteArray body = co_await get(port, target);
        if (body.size() != expectedSize)
            co_return -1.0;
    }
    co_return clock.nsecsElapsed() / 1e9;
}

void writeHome(const QString& folder, SettingsStore& settings)
{
    QDir().mkpath(folder + QStringLiteral("/html"));
    const QDir shipped(QStringLiteral(CASALUX_HTML_DIR));
    const QStringList files = shipped.entryList(QDir::Files);
    for (const QString& name : files)
        QFile::copy(shipped.filePath(name), folder + QStringLiteral("/html/") + name);

    static const char* const kinds[] = {"switch", "bulb", "fan", "radio", "bulb2"};
    DeviceStatus status(settings);
    QByteArray list;
    for (int r = 1; r <= kRooms; ++r) {
        const QByteArray room = "Room " + QByteArray::number(r);
        list += room + "~~~\r\n";
        for (int d = 1; d <= kDevices; ++d) {
            const int address = (r - 1) * kDevices + (d - 1);
            const QByteArray device = "Lamp " + QByteArray::number(d);
            list += room + '~' + device + '~' + char('A' + address / 16) + '~' +
                    QByteArray::number(address % 16 + 1) + "\r\n";
            const QString key = QString::fromLatin1(room + device).remove(QLatin1Char(' '));
            settings.SaveSetting(QStringLiteral("Casalux"), QStringLiteral("type"), key,
                                 QString::fromLatin1(kinds[d % 5]));
            if (d % 2 == 0)
                status.setstatus(key, QStringLiteral("on"), QStringLiteral("100"));
        }
    }
    QFile file(folder + QStringLiteral("/rmlst.rvf"));
    if (file.open(QIODevice::WriteOnly))
        file.write(list);
}

QCoro::Task<int> run(int perRound, int rounds)
{
    QTemporaryDir home;
    QTemporaryDir staticRoot;
    const QString folder = home.path();
    SettingsStore settings(folder + QStringLiteral("/machine.ini"), folder + QStringLiteral("/user"));
    writeHome(folder, settings);

    NullInterface control;
    SilentStatus silent;
    DeviceCommands commands(control, silent, CommandPolicy::engine());
    DeviceStatus status(settings);
    RemoteServer server({folder, settings, commands, status, silent});
    settings.write(settingkeys::webport, QStringLiteral("0"));
    server.startserver();
    const quint16 dynamicPort = server.web().listeningPort();

    const QString roomTarget = QStringLiteral("/index.html?loadroom") + kRoomKey;
    const QByteArray page = co_await get(dynamicPort, roomTarget);
    if (dynamicPort == 0 || page.isEmpty() || !page.contains("Lamp 10")) {
        std::fprintf(stderr, "the handler did not answer the room page\n");
        co_return 1;
    }

    QFile copy(staticRoot.path() + QStringLiteral("/room.html"));
    if (!copy.open(QIODevice::WriteOnly) || copy.write(page) != page.size()) {
        std::fprintf(stderr, "cannot write the static copy\n");
        co_return 1;
    }
    copy.close();
    Servlane plain(std::make_unique<MemoryStore>());
    plain.setServerIP(QStringLiteral("127.0.0.1"));
    plain.setServerPort(QStringLiteral("0"));
    plain.setVirtualPath(staticRoot.path());
    plain.setTrapFileEnable(false);
    plain.setMaxConnections(RemoteServer::maxConnections);
    plain.StartServer();
    const quint16 staticPort = plain.listeningPort();
    if (staticPort == 0 || co_await get(staticPort, QStringLiteral("/room.html")) != page) {
        std::fprintf(stderr, "the static server did not answer the same page\n");
        co_return 1;
    }

    // What the pages are built from is kept between requests but read
    // afresh while a file is only moments old (its time could repeat on a
    // change within the same tick of the file clock). The home was just
    // written: let the clock move on, then measure the steady state.
    QTimer settle;
    settle.setSingleShot(true);
    settle.start(300);
    co_await qCoro(settle).waitForTimeout();

    // The builders alone, without HTTP.
    PageBuilder builder(folder, settings);
    const int builds = 2000;
    QElapsedTimer clock;
    clock.start();
    qsizetype sink = 0;
    for (int i = 0; i < builds; ++i) {
        QString html;
        builder.loadnormhtml(html);
        builder.loadnormtree(html);
        builder.loadnormroom(html, kRoomKey);
        sink += html.size();
    }
    const double buildUs = clock.nsecsElapsed() / 1e3 / builds;
    if (qEnvironmentVariableIsSet("BENCH_STEPS")) {
        qint64 t[3] = {0, 0, 0};
        for (int i = 0; i < builds; ++i) {
            QString html;
            QElapsedTimer c;
            c.start();
            builder.loadnormhtml(html);
            t[0] += c.nsecsElapsed();
            c.restart();
            builder.loadnormtree(html);
            t[1] += c.nsecsElapsed();
            c.restart();
            builder.loadnormroom(html, kRoomKey);
            t[2] += c.nsecsElapsed();
        }
        QElapsedTimer c;
        c.start();
        int on = 0;
        for (int i = 0; i < builds; ++i) {
            for (int d = 1; d <= 10; ++d) {
                on += builder.getlaststatus(QStringLiteral("Room 12Lamp %1").arg(d));
                on += builder.getimageon(QStringLiteral("Room12Lamp%1").arg(d)).size();
            }
        }
        std::printf("settings us per page: %.1f (%d)\n", c.nsecsElapsed() / 1e3 / builds, on);
        std::printf("steps us: html %.1f tree %.1f room %.1f\n", t[0] / 1e3 / builds, t[1] / 1e3 / builds,
                    t[2] / 1e3 / builds);
    }

    // Warm-up of both paths, then alternating rounds.
    co_await timeRequests(dynamicPort, roomTarget, 100, page.size());
    co_await timeRequests(staticPort, QStringLiteral("/room.html"), 100, page.size());
    double dynamicSeconds = 0;
    double staticSeconds = 0;
    for (int r = 0; r < rounds; ++r) {
        const double d = co_await timeRequests(dynamicPort, roomTarget, perRound, page.size());
        const double s = co_await timeRequests(staticPort, QStringLiteral("/room.html"), perRound, page.size());
        if (d < 0 || s < 0) {
            std::fprintf(stderr, "a request failed in round %d\n", r + 1);
            co_return 1;
        }
        dynamicSeconds += d;
        staticSeconds += s;
    }
    const double total = double(perRound) * rounds;
    const double dynamicRate = total / dynamicSeconds;
    const double staticRate = total / staticSeconds;
    const double ratio = dynamicRate / staticRate;

    std::printf("Standard room page, %d rooms x %d devices, page %lld bytes (%d x %d requests each, "
                "one at a time)\n",
                kRooms, kDevices, static_cast<long long>(page.size()), rounds, perRound);
    std::printf("  page builders alone:           %8.1f us per page (%lld chars)\n", buildUs,
                static_cast<long long>(sink / builds));
    std::printf("  built by the handler:          %8.0f requests/s\n", dynamicRate);
    std::printf("  same page as a static file:    %8.0f requests/s\n", staticRate);
    std::printf("  ratio built/static:            %8.2f  (target >= 0.50: %s)\n", ratio,
                ratio >= 0.5 ? "met" : "NOT met");
    server.stopserver();
    plain.StopServer();
    co_return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    // Servlane keeps its properties in the user's configuration unless told
    // otherwise: point that at a throw-away folder for this run.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int perRound = args.size() > 1 ? std::max(1, args[1].toInt()) : 500;
    const int rounds = args.size() > 2 ? std::max(1, args[2].toInt()) : 6;
    int result = 1;
    QTimer::singleShot(0, &app, [&] {
        [](int perRound, int rounds, int& result) -> QCoro::Task<> {
            result = co_await run(perRound, rounds);
            QCoreApplication::exit(0);
        }(perRound, rounds, result);
    });
    app.exec();
    return result;
}
