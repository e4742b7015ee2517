#include "controlreport.h"

#include "home/devicestatus.h"
#include "schedule/eventlist.h"
#include "x10/interfacefinder.h"

#include <QJsonArray>

namespace casalux {

ControlReport::Interface ControlReport::nobodyHolds(const SettingsStore& settings)
{
    return {QStringLiteral("none"), InterfaceFinder::savedPort(settings).value_or(0), QString(),
            InterfaceFinder::savedDevicePath(settings).value_or(QString())};
}

QJsonObject ControlReport::status(const QList<OutsideCommands::Device>& devices,
                                  const DeviceStatus& states, const Interface& interface)
{
    QJsonArray list;
    for (const OutsideCommands::Device& device : devices) {
        const QString key = device.key();
        const bool on = states.getlaststatus(key);
        const int level = states.level(key);
        list.append(QJsonObject{
            {QStringLiteral("room"), device.record.room},
            {QStringLiteral("name"), device.record.device},
            {QStringLiteral("address"), device.record.address()},
            {QStringLiteral("key"), key},
            {QStringLiteral("kind"), device.kind},
            {QStringLiteral("dimmable"), device.dimmable},
            {QStringLiteral("on"), on},
            // An off device keeps no level worth showing.
            {QStringLiteral("level"), on ? QJsonValue(level < 0 ? 100 : level) : QJsonValue(0)},
        });
    }
    QJsonObject face{{QStringLiteral("state"), interface.state},
                     {QStringLiteral("holder"), interface.holder.isEmpty()
                                                    ? QJsonValue(QJsonValue::Null)
                                                    : QJsonValue(interface.holder)}};
    face.insert(QStringLiteral("port"),
                interface.port > 0 ? QJsonValue(interface.port) : QJsonValue(QJsonValue::Null));
    face.insert(QStringLiteral("path"),
                interface.path.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(interface.path));
    return {{QStringLiteral("interface"), face}, {QStringLiteral("devices"), list}};
}

QJsonObject ControlReport::events(const QString& programFolder)
{
    QJsonArray list;
    const QString path = programFolder + QLatin1Char('/') + QLatin1String(EventList::fileName);
    for (const EventRecord& record : EventList::readRecords(path)) {
        list.append(QJsonObject{
            {QStringLiteral("device"), record.device},
            {QStringLiteral("address"), record.housecode + QString::number(record.unit)},
            {QStringLiteral("time"), record.time},
            {QStringLiteral("action"), record.action},
            {QStringLiteral("level"), record.dim.trimmed()},
            {QStringLiteral("freq"), record.freq},
            {QStringLiteral("days"), record.days},
        });
    }
    return {{QStringLiteral("events"), list}};
}

} // namespace casalux
