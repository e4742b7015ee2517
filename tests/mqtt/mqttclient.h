#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <mutex>

struct mosquitto;

namespace casalux::test {

// A hub's side of the link for the tests: a libmosquitto client on its own
// network thread that records every message it gets, subscribes again after
// each reconnect, and publishes.
class MqttClient final {
public:
    struct Message {
        QString topic;
        QByteArray payload;
        bool retained = false;
    };

    explicit MqttClient(QString id = QStringLiteral("casalux-test-hub"));
    ~MqttClient();

    bool connectTo(quint16 port);
    void subscribe(const QString& filter);
    void publish(const QString& topic, const QByteArray& payload, bool retain = false, int qos = 1);

    QList<Message> messages() const;
    // The payloads seen on a topic, in order.
    QList<QByteArray> payloads(const QString& topic) const;
    // The last payload seen on a topic; a null array when none.
    QByteArray last(const QString& topic) const;
    bool connected() const;
    void clear();

private:
    mosquitto* m_mosq = nullptr;
    mutable std::mutex m_mutex;
    QList<Message> m_messages;
    QStringList m_filters;
    bool m_connected = false;
};

} // namespace casalux::test
