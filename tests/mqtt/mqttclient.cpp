#include "mqttclient.h"

#include <mosquitto.h>

namespace casalux::test {

MqttClient::MqttClient(QString id)
{
    mosquitto_lib_init();
    m_mosq = mosquitto_new(id.toUtf8().constData(), true, this);
    mosquitto_reconnect_delay_set(m_mosq, 1, 1, false);
    mosquitto_connect_callback_set(m_mosq, [](mosquitto* mosq, void* data, int rc) {
        auto* self = static_cast<MqttClient*>(data);
        std::lock_guard lock(self->m_mutex);
        self->m_connected = rc == 0;
        for (const QString& filter : std::as_const(self->m_filters))
            mosquitto_subscribe(mosq, nullptr, filter.toUtf8().constData(), 1);
    });
    mosquitto_disconnect_callback_set(m_mosq, [](mosquitto*, void* data, int) {
        auto* self = static_cast<MqttClient*>(data);
        std::lock_guard lock(self->m_mutex);
        self->m_connected = false;
    });
    mosquitto_message_callback_set(m_mosq, [](mosquitto*, void* data, const mosquitto_message* m) {
        auto* self = static_cast<MqttClient*>(data);
        std::lock_guard lock(self->m_mutex);
        self->m_messages.append({QString::fromUtf8(m->topic),
                                 QByteArray(static_cast<const char*>(m->payload), m->payloadlen),
                                 m->retain});
    });
}

MqttClient::~MqttClient()
{
    mosquitto_disconnect(m_mosq);
    mosquitto_loop_stop(m_mosq, false);
    mosquitto_destroy(m_mosq);
}

bool MqttClient::connectTo(quint16 port)
{
    if (mosquitto_connect(m_mosq, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS)
        return false;
    return mosquitto_loop_start(m_mosq) == MOSQ_ERR_SUCCESS;
}

void MqttClient::subscribe(const QString& filter)
{
    {
        std::lock_guard lock(m_mutex);
        m_filters.append(filter);
    }
    mosquitto_subscribe(m_mosq, nullptr, filter.toUtf8().constData(), 1);
}

void MqttClient::publish(const QString& topic, const QByteArray& payload, bool retain, int qos)
{
    mosquitto_publish(m_mosq, nullptr, topic.toUtf8().constData(), int(payload.size()),
                      payload.constData(), qos, retain);
}

QList<MqttClient::Message> MqttClient::messages() const
{
    std::lock_guard lock(m_mutex);
    return m_messages;
}

QList<QByteArray> MqttClient::payloads(const QString& topic) const
{
    QList<QByteArray> out;
    for (const Message& m : messages()) {
        if (m.topic == topic)
            out.append(m.payload);
    }
    return out;
}

QByteArray MqttClient::last(const QString& topic) const
{
    const QList<QByteArray> all = payloads(topic);
    return all.isEmpty() ? QByteArray() : all.last();
}

bool MqttClient::connected() const
{
    std::lock_guard lock(m_mutex);
    return m_connected;
}

void MqttClient::clear()
{
    std::lock_guard lock(m_mutex);
    m_messages.clear();
}

} // namespace casalux::test
