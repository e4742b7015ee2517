#include "mqtttopics.h"

#include "home/roomrecord.h"
#include "x10/interfacecontrol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace casalux {

QString MqttTopics::topicKey(const QString& deviceKey)
{
    QString key = deviceKey;
    for (QChar& c : key) {
        const char16_t u = c.unicode();
        const bool keep = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                          (u >= '0' && u <= '9') || u == '_' || u == '-';
        if (!keep)
            c = QLatin1Char('_');
    }
    return key;
}

QString MqttTopics::component(bool dimmable)
{
    return dimmable ? QStringLiteral("light") : QStringLiteral("switch");
}

QString MqttTopics::objectId(const QString& key) const
{
    return objectPrefix() + key;
}

QString MqttTopics::objectPrefix() const
{
    return topicKey(m_prefix) + QLatin1Char('_');
}

QString MqttTopics::config(const QString& key, bool dimmable) const
{
    return QStringLiteral("%1/%2/%3/config").arg(m_discovery, component(dimmable), objectId(key));
}

QString MqttTopics::configFilter(bool dimmable) const
{
    return QStringLiteral("%1/%2/+/config").arg(m_discovery, component(dimmable));
}

std::optional<MqttTopics::Command> MqttTopics::command(const QString& topic) const
{
    const QString head = m_prefix + QLatin1Char('/');
    if (!topic.startsWith(head))
        return std::nullopt;
    const QStringList parts = topic.mid(head.size()).split(QLatin1Char('/'));
    if (parts.size() == 2 && parts[1] == QLatin1String("set") && !parts[0].isEmpty())
        return Command{parts[0], false};
    if (parts.size() == 3 && parts[1] == QLatin1String("brightness") &&
        parts[2] == QLatin1String("set") && !parts[0].isEmpty())
        return Command{parts[0], true};
    return std::nullopt;
}

std::optional<QString> MqttTopics::configKey(const QString& topic) const
{
    const QStringList parts = topic.split(QLatin1Char('/'));
    if (m_discovery.isEmpty() || parts.size() != 4 || parts[0] != m_discovery ||
        parts[3] != QLatin1String("config") || !parts[2].startsWith(objectPrefix()))
        return std::nullopt;
    if (parts[1] != component(true) && parts[1] != component(false))
        return std::nullopt;
    return parts[2].mid(objectPrefix().size());
}

std::optional<bool> MqttTopics::onOff(const QByteArray& payload)
{
    const QByteArray word = payload.trimmed().toUpper();
    if (word == "ON")
        return true;
    if (word == "OFF")
        return false;
    return std::nullopt;
}

std::optional<int> MqttTopics::percent(const QByteArray& payload)
{
    const QByteArray text = payload.trimmed();
    if (text.isEmpty() || text.size() > 3)
        return std::nullopt;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    const int value = text.toInt();
    if (value > 100)
        return std::nullopt;
    return value;
}

QByteArray MqttTopics::configPayload(const RoomRecord& record, const QString& kind,
                                     bool dimmable) const
{
    const QString key = topicKey(record.deviceKey());
    QJsonObject device{
        {QStringLiteral("identifiers"), QJsonArray{objectId(key)}},
        {QStringLiteral("name"), record.room + QLatin1Char(' ') + record.device},
        {QStringLiteral("manufacturer"), QStringLiteral("X10")},
        {QStringLiteral("model"), QStringLiteral("%1 at %2").arg(kind, record.address())},
        {QStringLiteral("suggested_area"), record.room},
    };
    // The entity takes the device's name ("Lounge Lamp"): it is the
    // device's only entity.
    QJsonObject config{
        {QStringLiteral("name"), QJsonValue::Null},
        {QStringLiteral("unique_id"), objectId(key)},
        {QStringLiteral("command_topic"), set(key)},
        {QStringLiteral("state_topic"), state(key)},
        {QStringLiteral("payload_on"), QStringLiteral("ON")},
        {QStringLiteral("payload_off"), QStringLiteral("OFF")},
        {QStringLiteral("availability_topic"), status()},
        {QStringLiteral("payload_available"), QStringLiteral("online")},
        {QStringLiteral("payload_not_available"), QStringLiteral("offline")},
        {QStringLiteral("device"), device},
    };
    if (dimmable) {
        config.insert(QStringLiteral("brightness_command_topic"), brightnessSet(key));
        config.insert(QStringLiteral("brightness_state_topic"), brightness(key));
        config.insert(QStringLiteral("brightness_scale"), 100);
        // Only the brightness for a dim, no "ON" after it that would send
        // the lamp to full; a plain turn-on sends the last brightness.
        config.insert(QStringLiteral("on_command_type"), QStringLiteral("brightness"));
    } else {
        config.insert(QStringLiteral("state_on"), QStringLiteral("ON"));
        config.insert(QStringLiteral("state_off"), QStringLiteral("OFF"));
    }
    return QJsonDocument(config).toJson(QJsonDocument::Compact);
}

QByteArray MqttTopics::trafficPayload(const QString& address, const QString& house, int function,
                                      int level)
{
    QString name;
    switch (function) {
    case InterfaceControl::On:
        name = QStringLiteral("on");
        break;
    case InterfaceControl::Off:
        name = QStringLiteral("off");
        break;
    case InterfaceControl::Dim:
        name = QStringLiteral("dim");
        break;
    case InterfaceControl::Bright:
        name = QStringLiteral("bright");
        break;
    default:
        name = QString::number(function);
    }
    QJsonObject object{
        {QStringLiteral("address"), address.toUpper()},
        {QStringLiteral("house"), house.toUpper()},
        {QStringLiteral("unit"), RoomRecord::leadingNumber(address.mid(1))},
        {QStringLiteral("function"), name},
        {QStringLiteral("code"), function},
    };
    if (function == InterfaceControl::Dim || function == InterfaceControl::Bright)
        object.insert(QStringLiteral("level"), level);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace casalux
