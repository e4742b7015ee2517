#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <utility>

namespace casalux {

struct RoomRecord;

// The topics and payloads the bridge speaks, as pure functions, so their
// shape can be checked without a broker.
class MqttTopics final {
public:
    MqttTopics(QString prefix, QString discovery)
        : m_prefix(std::move(prefix)), m_discovery(std::move(discovery))
    {
    }

    // A device key made safe for one topic level and for a hub's object id:
    // letters, digits, '_' and '-' stay, anything else ('+', '#', '/',
    // spaces, accents) becomes '_'.
    static QString topicKey(const QString& deviceKey);

    QString prefix() const { return m_prefix; }
    QString discovery() const { return m_discovery; }

    QString status() const { return m_prefix + QStringLiteral("/status"); }
    QString traffic() const { return m_prefix + QStringLiteral("/traffic"); }
    QString state(const QString& key) const { return device(key) + QStringLiteral("/state"); }
    QString brightness(const QString& key) const
    {
        return device(key) + QStringLiteral("/brightness");
    }
    QString set(const QString& key) const { return device(key) + QStringLiteral("/set"); }
    QString brightnessSet(const QString& key) const
    {
        return device(key) + QStringLiteral("/brightness/set");
    }
    // Where Home Assistant says "online" when it (re)starts, asking for the
    // configurations again.
    QString hubStatus() const { return m_discovery + QStringLiteral("/status"); }
    // The hub's object id and unique_id of a device: the prefix made safe,
    // then the key ("casalux_LoungeLamp", "casalux_upstairs_LoungeLamp"
    // for prefix "casalux/upstairs"), so homes with their own prefixes on
    // one broker never share one.
    QString objectId(const QString& key) const;
    // "light" for dimmable kinds, "switch" for the others.
    static QString component(bool dimmable);
    QString config(const QString& key, bool dimmable) const;

    // The filters the bridge subscribes to.
    QString setFilter() const { return m_prefix + QStringLiteral("/+/set"); }
    QString brightnessSetFilter() const { return m_prefix + QStringLiteral("/+/brightness/set"); }
    QString configFilter(bool dimmable) const;

    // What an incoming topic asks for: the topic key and whether it is a
    // brightness. None for topics that are not commands of this prefix.
    struct Command {
        QString key;
        bool brightness = false;
    };
    std::optional<Command> command(const QString& topic) const;
    // The topic key of a hub configuration named as this bridge names its
    // own ("<discovery>/light/<objectId>/config"), or none. (Whether it is
    // this bridge's is for its content to say: another prefix's object ids
    // may start the same.)
    std::optional<QString> configKey(const QString& topic) const;

    // "ON"/"OFF" (letter case aside): on or off; anything else: none.
    static std::optional<bool> onOff(const QByteArray& payload);
    // A whole number 0..100, spaces aside; anything else: none.
    static std::optional<int> percent(const QByteArray& payload);

    // The hub's discovery configuration of a device.
    QByteArray configPayload(const RoomRecord& record, const QString& kind, bool dimmable) const;
    // One command seen on the power line.
    static QByteArray trafficPayload(const QString& address, const QString& house, int function,
                                     int level);

private:
    QString objectPrefix() const;
    QString device(const QString& key) const { return m_prefix + QLatin1Char('/') + key; }

    QString m_prefix;
    QString m_discovery;
};

} // namespace casalux
