#include "mqttbridge.h"

#include "home/devicestatus.h"
#include "home/devicetype.h"
#include "home/settingsstore.h"
#include "platform/clock.h"
#include "platform/settlewait.h"
#include "x10/interfacecontrol.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QPointer>
#include <QSysInfo>
#include <atomic>
#include <mosquitto.h>
#include <mutex>
#include <string>
#include <thread>

namespace casalux {

namespace {
// On by default: connects and losses belong in the engine's log.
Q_LOGGING_CATEGORY(lcMqtt, "casalux.mqtt", QtInfoMsg)

constexpr int keepaliveSeconds = 30;
// How long one pass of the network loop may wait for the socket; a
// publish from the program's thread wakes it at once.
constexpr int loopWaitMs = 500;
// At stop, the time the connection's thread gets to send "offline" and
// close before it is left to finish alone.
constexpr int stopWaitMs = 3000;

QString clean(QString text)
{
    text.remove(QLatin1Char('+'));
    text.remove(QLatin1Char('#'));
    while (text.startsWith(QLatin1Char('/')))
        text.remove(0, 1);
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return text.trimmed();
}

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}
} // namespace

// Who the connections' threads report to; cleared when the bridge goes, so
// a thread still finishing reports to nobody.
struct MqttLink {
    std::mutex mutex;
    MqttBridge* owner = nullptr;
};

// One connection try and its network loop, shared by the bridge and the
// thread that runs it; whichever lets go last destroys the client.
struct MqttBridge::Session {
    std::shared_ptr<MqttLink> link;
    quint64 id = 0;
    mosquitto* mosq = nullptr;
    std::atomic<bool> stop{false};
    std::atomic<bool> ended{false};
    std::atomic<int> lastAcked{0}; // message id of the last publish the broker took

    ~Session()
    {
        if (mosq)
            mosquitto_destroy(mosq);
    }

    template <typename F> void post(F call)
    {
        std::lock_guard lock(link->mutex);
        if (MqttBridge* owner = link->owner)
            QMetaObject::invokeMethod(
                owner, [owner, call = std::move(call)] { call(*owner); }, Qt::QueuedConnection);
    }

    static void run(std::shared_ptr<Session> self, std::string host, int port)
    {
        int rc = mosquitto_connect(self->mosq, host.c_str(), port, keepaliveSeconds);
        const int connectErrno = errno;
        if (rc == MOSQ_ERR_SUCCESS) {
            while (!self->stop.load()) {
                rc = mosquitto_loop(self->mosq, loopWaitMs, 1);
                if (rc != MOSQ_ERR_SUCCESS)
                    break;
            }
        }
        QString why;
        if (rc == MOSQ_ERR_ERRNO)
            why = qt_error_string(connectErrno);
        else if (rc != MOSQ_ERR_SUCCESS)
            why = QString::fromUtf8(mosquitto_strerror(rc));
        self->ended.store(true);
        const quint64 id = self->id;
        self->post([id, why](MqttBridge& bridge) { bridge.onEnded(id, why); });
    }
};

MqttBridge::Options MqttBridge::readOptions(const SettingsStore& settings)
{
    Options o;
    o.host = settings.read(settingkeys::mqtthost).trimmed();
    bool ok = false;
    const int port = settings.read(settingkeys::mqttport).trimmed().toInt(&ok);
    o.port = ok && port > 0 && port < 65536 ? port : 1883;
    o.user = settings.read(settingkeys::mqttuser);
    o.password = settings.read(settingkeys::mqttpassword);
    o.tls =
        settings.read(settingkeys::mqtttls).compare(QLatin1String("True"), Qt::CaseInsensitive) ==
        0;
    o.prefix = clean(settings.read(settingkeys::mqttprefix));
    if (o.prefix.isEmpty())
        o.prefix = QStringLiteral("casalux");
    o.discovery = clean(settings.read(settingkeys::mqttdiscovery));
    return o;
}

MqttBridge::MqttBridge(QString program, SettingsStore& settings, OutsideCommands& outside,
                       DeviceStatus& status, InterfaceControl& control, QObject* parent)
    : QObject(parent), m_program(std::move(program)), m_settings(settings), m_outside(outside),
      m_status(status), m_control(control)
{
    initLibrary();
    m_link = std::make_shared<MqttLink>();
    m_link->owner = this;
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &MqttBridge::connectNow);
    connect(&m_refresh, &QTimer::timeout, this, [this] { refreshDevices(); });
    m_status.setRecordedHook([this](const QString& key) { recorded(key); });
    connect(&m_control, &InterfaceControl::traffic, this,
            [this](const QString& address, const QString& house, int function, int level, int) {
                publish(m_topics.traffic(),
                        MqttTopics::trafficPayload(address, house, function, level), false);
            });
}

MqttBridge::~MqttBridge()
{
    m_status.setRecordedHook({});
    {
        std::lock_guard lock(m_link->mutex);
        m_link->owner = nullptr;
    }
    if (m_session && m_state == State::Connected) {
        publish(m_topics.status(), "offline", true, 1);
        mosquitto_disconnect(m_session->mosq);
    } else if (m_session) {
        m_session->stop.store(true);
    }
}

void MqttBridge::start()
{
    m_wanted = true;
    if (m_session || m_retry.isActive())
        return;
    m_options = readOptions(m_settings);
    m_topics = MqttTopics(m_options.prefix, m_options.discovery);
    m_retrySeconds = 0;
    m_lastFailure.clear();
    if (m_options.host.isEmpty()) {
        setState(State::Off);
        return;
    }
    connectNow();
}

QCoro::Task<> MqttBridge::stop()
{
    m_wanted = false;
    m_retry.stop();
    m_refresh.stop();
    const std::shared_ptr<Session> session = std::move(m_session);
    ++m_sessionId; // what the old thread still reports is not heard
    const bool connected = m_state == State::Connected;
    setState(State::Off);
    if (!session)
        co_return;
    if (connected) {
        const QByteArray topic = m_topics.status().toUtf8();
        int mid = 0;
        mosquitto_publish(session->mosq, &mid, topic.constData(), 7, "offline", 1, true);
        // Once the broker has taken "offline" it has also sent everything
        // before it: a close with unread data on the socket would be a
        // reset, and the broker would lose the DISCONNECT and send the will.
        const std::function<bool()> acked = [session, mid] {
            return session->lastAcked.load() == mid || session->ended.load();
        };
        const QString host = m_options.host;
        co_await SettleWait::until(acked, stopWaitMs);
        mosquitto_disconnect(session->mosq);
        qCInfo(lcMqtt).noquote() << "MQTT: disconnected from" << host;
    } else {
        session->stop.store(true);
    }
    // Named, not a temporary: GCC 12 destroys temporaries of a co_await
    // expression twice.
    const std::function<bool()> ended = [session] { return session->ended.load(); };
    co_await SettleWait::until(ended, stopWaitMs);
    session->stop.store(true);
}

QCoro::Task<> MqttBridge::restart()
{
    if (!m_wanted) {
        m_options = readOptions(m_settings);
        Q_EMIT stateChanged();
        co_return;
    }
    QPointer<MqttBridge> self(this);
    co_await stop();
    if (self)
        start();
}

QString MqttBridge::statusText() const
{
    const QString where = QStringLiteral("%1:%2").arg(m_options.host).arg(m_options.port);
    switch (m_state) {
    case State::Connected:
        return QStringLiteral("MQTT: connected to %1").arg(where);
    case State::Connecting:
        return QStringLiteral("MQTT: connecting to %1").arg(where);
    case State::Waiting:
        return QStringLiteral("MQTT: cannot reach %1 (%2), trying again in %3 s")
            .arg(where, m_lastFailure)
            .arg(m_retrySeconds);
    case State::Off:
        break;
    }
    // Not connecting here: say what the stored settings ask for.
    const Options stored = readOptions(m_settings);
    if (stored.host.isEmpty())
        return QStringLiteral("MQTT: off");
    return QStringLiteral("MQTT: not connected here (connects to %1:%2 while this program holds "
                          "the X10 interface)")
        .arg(stored.host)
        .arg(stored.port);
}

void MqttBridge::setState(State state)
{
    m_state = state;
    Q_EMIT stateChanged();
}

void MqttBridge::connectNow()
{
    if (!m_wanted || m_session)
        return;
    // A broker lets one client id in at a time: two programs with the same
    // id would throw each other out. Host names repeat (two "raspberrypi"s),
    // and one machine may serve two homes, so the machine's id and the
    // topic prefix go into it as well.
    const QByteArray home = QCryptographicHash::hash(QSysInfo::machineUniqueId() + '\n' +
                                                         m_options.prefix.toUtf8(),
                                                     QCryptographicHash::Sha1)
                                .toHex()
                                .left(8);
    const QByteArray clientId = QStringLiteral("casalux-%1-%2-%3")
                                    .arg(m_program, QSysInfo::machineHostName(),
                                         QString::fromLatin1(home))
                                    .toUtf8();
    auto session = std::make_shared<Session>();
    session->link = m_link;
    session->id = ++m_sessionId;
    session->mosq = mosquitto_new(clientId.constData(), true, session.get());
    if (!session->mosq) {
        scheduleRetry(QStringLiteral("the MQTT client could not be made"));
        return;
    }
    mosquitto_threaded_set(session->mosq, true);
    mosquitto_connect_callback_set(session->mosq, [](mosquitto*, void* data, int code) {
        auto* s = static_cast<Session*>(data);
        const quint64 id = s->id;
        s->post([id, code](MqttBridge& bridge) { bridge.onConnected(id, code); });
    });
    mosquitto_publish_callback_set(session->mosq, [](mosquitto*, void* data, int mid) {
        static_cast<Session*>(data)->lastAcked.store(mid);
    });
    mosquitto_message_callback_set(session->mosq, [](mosquitto*, void* data,
                                                     const mosquitto_message* message) {
        auto* s = static_cast<Session*>(data);
        const quint64 id = s->id;
        const QString topic = QString::fromUtf8(message->topic);
        const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
        const bool retained = message->retain;
        s->post([id, topic, payload, retained](MqttBridge& bridge) {
            bridge.onMessage(id, topic, payload, retained);
        });
    });
    const QByteArray will = m_topics.status().toUtf8();
    mosquitto_will_set(session->mosq, will.constData(), 7, "offline", 1, true);
    if (!m_options.user.isEmpty())
        mosquitto_username_pw_set(
            session->mosq, m_options.user.toUtf8().constData(),
            m_options.password.isEmpty() ? nullptr : m_options.password.toUtf8().constData());
    if (m_options.tls) {
        const int rc = mosquitto_int_option(session->mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        if (rc != MOSQ_ERR_SUCCESS) {
            scheduleRetry(QString::fromUtf8(mosquitto_strerror(rc)));
            return;
        }
    }
    m_session = session;
    m_lastFailure.clear();
    setState(State::Connecting);
    std::thread(&Session::run, session, m_options.host.toStdString(), m_options.port).detach();
}

void MqttBridge::scheduleRetry(const QString& why)
{
    m_retrySeconds = m_retrySeconds == 0 ? 1 : std::min(m_retrySeconds * 2, maxRetrySeconds);
    m_lastFailure = why;
    qCWarning(lcMqtt).noquote() << QStringLiteral(
                                       "MQTT: cannot reach %1:%2 (%3); trying again in %4 s")
                                       .arg(m_options.host)
                                       .arg(m_options.port)
                                       .arg(why)
                                       .arg(m_retrySeconds);
    m_retry.start(Clock::instance().interval(m_retrySeconds * 1000));
    setState(State::Waiting);
}

void MqttBridge::onConnected(quint64 id, int code)
{
    if (id != m_sessionId || !m_session)
        return;
    if (code != 0) {
        // The broker closes the connection next; the try ends then.
        m_lastFailure = QString::fromUtf8(mosquitto_connack_string(code));
        return;
    }
    // The back-off starts again only once this connection has held a while
    // (see onEnded): a link that drops soon after each connect must not be
    // tried again every second.
    m_connectedAt = Clock::instance().now();
    setState(State::Connected);
    qCInfo(lcMqtt).noquote() << "MQTT: connected to" << m_options.host << "port" << m_options.port;
    mosquitto* mosq = m_session->mosq;
    publish(m_topics.status(), "online", true, 1);
    const auto subscribe = [mosq](const QString& filter) {
        mosquitto_subscribe(mosq, nullptr, filter.toUtf8().constData(), 1);
    };
    subscribe(m_topics.setFilter());
    subscribe(m_topics.brightnessSetFilter());
    if (!m_topics.discovery().isEmpty()) {
        // The configurations the broker keeps tell which devices the hub
        // was told of before, so those since removed can be taken back.
        subscribe(m_topics.configFilter(true));
        subscribe(m_topics.configFilter(false));
        subscribe(m_topics.hubStatus());
    }
    m_devices.clear();
    refreshDevices();
    m_refresh.start(Clock::instance().interval(refreshIntervalMs));
}

void MqttBridge::onEnded(quint64 id, const QString& why)
{
    if (id != m_sessionId || !m_session)
        return;
    m_session.reset();
    m_refresh.stop();
    const bool wasConnected = m_state == State::Connected;
    if (!m_wanted) {
        setState(State::Off);
        return;
    }
    if (wasConnected) {
        qCWarning(lcMqtt).noquote() << "MQTT: connection to" << m_options.host << "lost:" << why;
        if (m_connectedAt.secsTo(Clock::instance().now()) >= stableSeconds)
            m_retrySeconds = 0;
    }
    scheduleRetry(!m_lastFailure.isEmpty() ? m_lastFailure
                  : why.isEmpty()          ? QStringLiteral("connection closed")
                                           : why);
}

void MqttBridge::onMessage(quint64 id, const QString& topic, const QByteArray& payload,
                           bool retained)
{
    if (id != m_sessionId || m_state != State::Connected)
        return;
    if (!m_topics.discovery().isEmpty() && topic == m_topics.hubStatus()) {
        // Home Assistant has started again and lost what it was told. (A
        // kept "online" is only the broker's memory: the connect has just
        // told it everything.)
        if (!retained && payload.trimmed() == "online") {
            m_devices.clear();
            refreshDevices();
        }
        return;
    }
    if (const auto key = m_topics.configKey(topic)) {
        if (payload.isEmpty()) {
            m_announced.remove(topic);
            return;
        }
        // Another program's configuration (another prefix, even one that
        // starts with ours) is left alone.
        const QJsonObject config = QJsonDocument::fromJson(payload).object();
        if (config.value(QStringLiteral("state_topic")).toString() != m_topics.state(*key))
            return;
        m_announced.insert(topic);
        const auto device = m_devices.constFind(*key);
        if (device == m_devices.cend() || m_topics.config(*key, device->dimmable) != topic) {
            forget(topic);
        } else if (payload != m_topics.configPayload(device->record, device->kind,
                                                     device->dimmable)) {
            // Changed by someone else: put right at the next check of the
            // list (not at once, so two bridges that both think it theirs
            // cannot keep the broker busy).
            m_changedConfigs.insert(*key);
        }
        return;
    }
    const auto command = m_topics.command(topic);
    if (!command)
        return;
    if (retained) {
        // A command the broker kept would be carried out again at every
        // connect, long after it was meant, and undo whatever came since.
        // It is cleared (the broker may refuse that; nothing is lost) and
        // said once per topic.
        if (!payload.isEmpty()) {
            // (Bounded: topics under the prefix are anyone's to invent.)
            if (!m_retainedSeen.contains(topic) && m_retainedSeen.size() < 1000) {
                m_retainedSeen.insert(topic);
                qCWarning(lcMqtt).noquote()
                    << "MQTT: not carried out: a retained command on" << topic
                    << "(commands must be sent without the retain flag); clearing it";
            }
            publish(topic, QByteArray(), true, 1);
        }
        return;
    }
    // What clearing a kept command sends to every subscriber.
    if (payload.isEmpty())
        return;
    if (!m_devices.contains(command->key))
        refreshDevices();
    const auto device = m_devices.constFind(command->key);
    if (device == m_devices.cend()) {
        qCWarning(lcMqtt).noquote() << "MQTT: no device" << command->key << "for" << topic;
        return;
    }
    int value = 0;
    if (command->brightness) {
        const auto percent = MqttTopics::percent(payload);
        if (!percent) {
            qCWarning(lcMqtt).noquote() << "MQTT: brightness not 0..100 on" << topic;
            return;
        }
        value = *percent;
    } else {
        const auto on = MqttTopics::onOff(payload);
        if (!on) {
            qCWarning(lcMqtt).noquote() << "MQTT: neither ON nor OFF on" << topic;
            return;
        }
        // A plain "on" leaves a dimmed lamp that is on as it is.
        value = *on ? OutsideCommands::keepLevel : 0;
    }
    carryOut(*device, value);
}

QCoro::Task<> MqttBridge::carryOut(OutsideCommands::Device device, int value)
{
    QPointer<MqttBridge> self(this);
    OutsideCommands& outside = m_outside;
    // (Not a conditional expression: GCC 12 mis-compiles co_await in one.)
    SwitchResult result = SwitchResult::refused({});
    if (device.dimmable)
        result = co_await outside.bringTo(device, value);
    else
        result = co_await outside.switchDevice(device, value != 0);
    if (!self)
        co_return;
    if (result.isDone()) {
        // The record of the state has published it, unless the device was
        // already as asked and nothing was recorded.
        if (device.dimmable)
            publishState(device);
        co_return;
    }
    qCWarning(lcMqtt).noquote() << "MQTT:" << device.key() << "not switched:" << result.why();
    // The hub shows what it asked for until told otherwise.
    publishState(device);
}

void MqttBridge::publish(const QString& topic, const QByteArray& payload, bool retain, int qos)
{
    if (!m_session || m_state != State::Connected)
        return;
    const QByteArray name = topic.toUtf8();
    const int rc = mosquitto_publish(m_session->mosq, nullptr, name.constData(),
                                     int(payload.size()), payload.constData(), qos, retain);
    if (rc != MOSQ_ERR_SUCCESS)
        qCDebug(lcMqtt).noquote() << "MQTT: publish on" << topic
                                  << "failed:" << mosquitto_strerror(rc);
}

void MqttBridge::publishState(const OutsideCommands::Device& device)
{
    const QString key = MqttTopics::topicKey(device.key());
    const bool on = m_status.getlaststatus(device.key());
    publish(m_topics.state(key), on ? "ON" : "OFF", true);
    if (!device.dimmable)
        return;
    const int level = on ? m_status.level(device.key()) : 0;
    publish(m_topics.brightness(key), QByteArray::number(level < 0 ? 100 : level), true);
}

void MqttBridge::recorded(const QString& deviceKey)
{
    if (m_state != State::Connected)
        return; // everything goes out at the next connect
    const QString key = MqttTopics::topicKey(deviceKey);
    const auto device = m_devices.constFind(key);
    if (device != m_devices.cend())
        publishState(*device);
    else // a new device: announced with its state, once the recording is done
        QTimer::singleShot(0, this, &MqttBridge::refreshDevices);
}

QList<OutsideCommands::Device> MqttBridge::readDevices()
{
    return m_outside.devices();
}

// Tells the hub of devices new or changed since it was last told, and takes
// back those removed. Right after a connect everything is new.
void MqttBridge::refreshDevices()
{
    if (m_state != State::Connected)
        return;
    QHash<QString, OutsideCommands::Device> now;
    for (const OutsideCommands::Device& device : readDevices()) {
        const QString key = MqttTopics::topicKey(device.key());
        // Two keys that come out the same: the first device has the topics.
        if (!now.contains(key))
            now.insert(key, device);
    }
    const QSet<QString> changed = std::exchange(m_changedConfigs, {});
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        const auto old = m_devices.constFind(it.key());
        const bool same = !changed.contains(it.key()) && old != m_devices.cend() &&
                          old->kind == it->kind &&
                          old->dimmable == it->dimmable && old->record.room == it->record.room &&
                          old->record.device == it->record.device &&
                          old->record.address() == it->record.address();
        if (same)
            continue;
        if (!m_topics.discovery().isEmpty()) {
            const QString topic = m_topics.config(it.key(), it->dimmable);
            // QoS 0 like the states: with QoS 1 the client's window of
            // unacknowledged messages made a large home's republication
            // several times slower, and a lost connection republishes all.
            publish(topic, m_topics.configPayload(it->record, it->kind, it->dimmable), true);
            m_announced.insert(topic);
        }
        publishState(*it);
    }
    m_devices = now;
    const QSet<QString> announced = m_announced;
    for (const QString& topic : announced) {
        const auto key = m_topics.configKey(topic);
        const auto device = key ? now.constFind(*key) : now.cend();
        if (!key || device == now.cend() || m_topics.config(*key, device->dimmable) != topic)
            forget(topic);
    }
}

void MqttBridge::forget(const QString& configTopic)
{
    publish(configTopic, QByteArray(), true, 1);
    m_announced.remove(configTopic);
}

} // namespace casalux
