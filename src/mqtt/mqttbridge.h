#pragma once

#include "mqtttopics.h"
#include "x10/outsidecommands.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <memory>
#include <qcoro/qcorotask.h>

namespace casalux {

class DeviceStatus;
class InterfaceControl;
class SettingsStore;
struct MqttLink;

// Passes the home to a hub over MQTT: the states the program records, the
// traffic on the power line and the hub's discovery configurations go out;
// commands come in and are carried out one at a time as outside commands.
//
// libmosquitto's network loop and its connect (which may wait on DNS or a
// slow broker) run on a thread of their own, one per connection try; what
// they report is handed to this object through queued calls, and nothing
// here ever waits for the broker, so no X10 command is held up by it.
class MqttBridge final : public QObject {
    Q_OBJECT

public:
    struct Options {
        QString host; // empty: the bridge is off
        int port = 1883;
        QString user;
        QString password;
        bool tls = false;
        QString prefix = QStringLiteral("casalux");
        QString discovery = QStringLiteral("homeassistant");
    };
    static Options readOptions(const SettingsStore& settings);

    enum class State {
        Off,        // not wanted here, or no host set
        Connecting, // a try is under way
        Connected,
        Waiting, // the last try failed or the link was lost: the next is timed
    };

    // Tries are spaced 1, 2, 4 ... seconds apart, never more than this.
    static constexpr int maxRetrySeconds = 60;
    // A connection that held this long starts the spacing again at 1 s; one
    // lost sooner goes on from where the spacing was.
    static constexpr int stableSeconds = 60;
    // How often the list of devices is compared with what the hub was told.
    static constexpr int refreshIntervalMs = 5000;

    // `program` tells the two programs' connections apart ("engine",
    // "desktop") in the client id.
    MqttBridge(QString program, SettingsStore& settings, OutsideCommands& outside,
               DeviceStatus& status, InterfaceControl& control, QObject* parent = nullptr);
    ~MqttBridge() override;

    // The program holds the interface: connect when a host is set.
    void start();
    // The program lets go of the interface or ends: "offline" goes out, the
    // connection is closed cleanly, and the connection's thread is given a
    // few seconds at most to finish.
    QCoro::Task<> stop();
    // The settings changed: a running bridge starts again with them.
    QCoro::Task<> restart();

    bool wanted() const { return m_wanted; }
    State state() const { return m_state; }
    // One line for the desktop's panel ("MQTT: connected to host:1883").
    QString statusText() const;
    Options options() const { return m_options; }

Q_SIGNALS:
    void stateChanged();

private:
    struct Session;
    friend struct Session;

    void connectNow();
    void scheduleRetry(const QString& why);
    void setState(State state);
    // Reports from the connection's thread, on this thread.
    void onConnected(quint64 id, int code);
    void onEnded(quint64 id, const QString& why);
    void onMessage(quint64 id, const QString& topic, const QByteArray& payload, bool retained);

    void publish(const QString& topic, const QByteArray& payload, bool retain, int qos = 0);
    void publishState(const OutsideCommands::Device& device);
    void recorded(const QString& deviceKey);
    void refreshDevices();
    // The devices as the list file has them now.
    QList<OutsideCommands::Device> readDevices();
    void forget(const QString& configTopic);
    // value: 0..100, or OutsideCommands::keepLevel for a plain "on".
    QCoro::Task<> carryOut(OutsideCommands::Device device, int value);

    QString m_program;
    SettingsStore& m_settings;
    OutsideCommands& m_outside;
    DeviceStatus& m_status;
    InterfaceControl& m_control;
    Options m_options;
    MqttTopics m_topics{QString(), QString()};
    std::shared_ptr<MqttLink> m_link;
    std::shared_ptr<Session> m_session;
    quint64 m_sessionId = 0;
    State m_state = State::Off;
    bool m_wanted = false;
    int m_retrySeconds = 0;
    QString m_lastFailure;
    QTimer m_retry;
    QTimer m_refresh;
    // By topic key: the devices as the hub was last told of them.
    QHash<QString, OutsideCommands::Device> m_devices;
    // Configuration topics of this bridge the broker holds (seen or sent).
    QSet<QString> m_announced;
    // Topic keys whose configuration someone else changed on the broker.
    QSet<QString> m_changedConfigs;
    // Topics a retained command was found on (said once each).
    QSet<QString> m_retainedSeen;
    QDateTime m_connectedAt;
};

} // namespace casalux
