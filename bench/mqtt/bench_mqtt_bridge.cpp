// The MQTT bridge against its peers, in one run of the real engine, the
// simulated interface and a real mosquitto broker:
//
// 1. The time from a hub's `set` to the command on the simulator's line,
//    against a click on a page for the same device, alternating ON and OFF.
//    Both go through the same one-at-a-time device commands; the ratio
//    mqtt / web is what the broker hop and the bridge add (target: 1.1 or
//    less).
// 2. The time from the bridge's "online" after a reconnect to the last
//    state of a 200-device home arriving at the hub, against the same
//    number of retained messages published by a bare libmosquitto client
//    (the floor the broker and the client library set).
//
// Usage: bench_mqtt_bridge [rounds]
#include "brokerprocess.h"
#include "enginerig.h"
#include "home/settingkeys.h"
#include "httpget.h"
#include "mqttclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>

using namespace casalux;

namespace {

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

// Runs the event loop until `done` or the limit; false on the limit.
template <typename F> bool waitFor(F done, int limitMs = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

int countLines(const test::SimProcess& sim, const QString& text)
{
    int n = 0;
    for (const QString& line : sim.lines())
        n += line.contains(text) ? 1 : 0;
    return n;
}

struct Rig : test::EngineRig {
    test::BrokerProcess broker;
    test::MqttClient hub;
    bool start(const QByteArray& rooms)
    {
        folder.write(QStringLiteral("html/index.html"), "<body><h1><room></h1><p><dev0></p>\r\n");
        folder.write(QStringLiteral("rmlst.rvf"), rooms);
        settings.write(settingkeys::mqtthost, QStringLiteral("127.0.0.1"));
        settings.write(settingkeys::mqttport, QString::number(broker.port()));
        if (!broker.start() || !hub.connectTo(broker.port()))
            return false;
        hub.subscribe(QStringLiteral("casalux/#"));
        return EngineRig::start() &&
               waitFor([this] { return hub.last(QStringLiteral("casalux/status")) == "online"; });
    }
};

bool commandLatency(int rounds)
{
    Rig rig;
    if (!rig.start("Den~~~\r\nDen~Lamp~A~3\r\n")) {
        std::fprintf(stderr, "the rig did not start\n");
        return false;
    }
    QList<double> web;
    QList<double> mqtt;
    bool on = false;
    for (int i = 0; i < rounds * 2; ++i) {
        on = !on;
        const QString line = on ? QStringLiteral("A3 ON") : QStringLiteral("A3 OFF");
        const int before = countLines(rig.sim, line);
        const bool viaWeb = i % 4 < 2; // web ON, web OFF, mqtt ON, mqtt OFF, ...
        QElapsedTimer timer;
        timer.start();
        std::optional<QCoro::Task<QByteArray>> page;
        if (viaWeb)
            page.emplace(test::httpGet(rig.webPort,
                                       on ? QStringLiteral("/index.html?A~3~DenLamp~turnon~Den")
                                          : QStringLiteral("/index.html?A~3~DenLamp~turnoff~Den")));
        else
            rig.hub.publish(QStringLiteral("casalux/DenLamp/set"), on ? "ON" : "OFF");
        if (!waitFor([&] { return countLines(rig.sim, line) > before; })) {
            std::fprintf(stderr, "no %s on the line\n", qPrintable(line));
            return false;
        }
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        (viaWeb ? web : mqtt).append(ms);
        if (page)
            QCoro::waitFor(*page);
        // The state has gone out before the next round.
        waitFor([&] {
            return rig.hub.last(QStringLiteral("casalux/DenLamp/state")) == (on ? "ON" : "OFF");
        });
    }
    const double w = median(web);
    const double m = median(mqtt);
    std::printf("command to the line, median of %d each (ms):\n", int(web.size()));
    std::printf("  web click   %8.1f\n  mqtt set    %8.1f\n  ratio mqtt/web %.3f\n", w, m,
                w > 0 ? m / w : 0);
    return true;
}

bool republish(int devices)
{
    QByteArray rooms;
    for (int i = 0; i < devices; ++i) {
        if (i % 10 == 0)
            rooms += "Room" + QByteArray::number(i / 10) + "~~~\r\n";
        rooms += "Room" + QByteArray::number(i / 10) + "~Device" + QByteArray::number(i) + "~" +
                 QByteArray(1, char('A' + i / 16 % 16)) + "~" + QByteArray::number(i % 16 + 1) +
                 "\r\n";
    }
    Rig rig;
    if (!rig.start(rooms))
        return false;
    rig.hub.subscribe(QStringLiteral("homeassistant/#"));
    const auto states = [&rig] {
        int n = 0;
        for (const auto& m : rig.hub.messages())
            n += m.topic.endsWith(QLatin1String("/state")) ? 1 : 0;
        return n;
    };
    const auto onlineAt = [&rig] {
        const auto all = rig.hub.messages();
        for (int i = 0; i < all.size(); ++i) {
            if (all[i].topic == QLatin1String("casalux/status") && all[i].payload == "online")
                return i;
        }
        return -1;
    };
    if (!waitFor([&] { return states() >= devices; })) {
        std::fprintf(stderr, "the first publication did not arrive\n");
        return false;
    }
    rig.broker.kill();
    waitFor([&rig] { return !rig.hub.connected(); });
    // The bridge's tries are 1, 2, 4 ... seconds apart: started again now,
    // the broker has the hub (which tries every second) subscribed well
    // before the bridge's next try, so the hub sees all of the bridge's
    // messages as they are sent.
    QElapsedTimer down;
    down.start();
    waitFor([&down] { return down.elapsed() > 3500; }, 5000);
    if (!rig.broker.start())
        return false;
    waitFor([&rig] { return rig.hub.connected(); });
    down.restart();
    waitFor([&down] { return down.elapsed() > 300; }, 1000);
    rig.hub.clear();
    // From the "online" that starts the republication to the last state.
    QElapsedTimer timer;
    if (!waitFor([&] { return onlineAt() >= 0; }, 90000))
        return false;
    timer.start();
    // The end is the last of both the configurations and the states.
    const auto configs = [&rig] {
        int n = 0;
        for (const auto& m : rig.hub.messages())
            n += m.topic.endsWith(QLatin1String("/config")) ? 1 : 0;
        return n;
    };
    if (!waitFor([&] { return states() >= devices && configs() >= devices; }))
        return false;
    const double bridge = double(timer.nsecsElapsed()) / 1e6;
    const int messages = int(rig.hub.messages().size()) - onlineAt();

    // The peer: a bare client publishes the same number of retained
    // messages to the same broker, with the bridge's QoS 0.
    test::MqttClient peer(QStringLiteral("casalux-bench-peer"));
    if (!peer.connectTo(rig.broker.port()))
        return false;
    rig.hub.clear();
    timer.restart();
    for (int i = 0; i < messages; ++i)
        peer.publish(QStringLiteral("casalux/peer%1/state").arg(i), "ON", true, 0);
    if (!waitFor([&] { return states() >= messages; }))
        return false;
    const double bare = double(timer.nsecsElapsed()) / 1e6;
    std::printf("republication after a reconnect, %d devices (%d messages: status, "
                "configurations, states):\n",
                devices, messages);
    std::printf("  bridge      %8.1f ms\n  bare client %8.1f ms\n  ratio %.2f\n", bridge, bare,
                bare > 0 ? bridge / bare : 0);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (!test::BrokerProcess::installed()) {
        std::fprintf(stderr, "%s\n", test::BrokerProcess::missing());
        return 1;
    }
    const int rounds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
    if (!commandLatency(rounds))
        return 1;
    return republish(200) ? 0 : 1;
}
