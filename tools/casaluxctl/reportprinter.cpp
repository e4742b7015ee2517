#include "reportprinter.h"

#include <QJsonArray>

namespace casalux {

QJsonObject ReportPrinter::holderUnknown(QJsonObject report, const QString& why)
{
    QJsonObject face = report.value(QLatin1String("interface")).toObject();
    face.insert(QStringLiteral("state"), QStringLiteral("unknown"));
    face.insert(QStringLiteral("why"), why);
    report.insert(QStringLiteral("interface"), face);
    return report;
}

QString ReportPrinter::status(const QJsonObject& report)
{
    const QJsonObject face = report.value(QLatin1String("interface")).toObject();
    const QString state = face.value(QLatin1String("state")).toString();
    const QJsonValue port = face.value(QLatin1String("port"));
    const QString path = face.value(QLatin1String("path")).toString();
    const QString portText = port.isDouble() ? QStringLiteral("port %1").arg(port.toInt())
                             : path.isEmpty() ? QStringLiteral("no port")
                                              : path;
    QString text;
    if (state == QLatin1String("unknown")) {
        text = QStringLiteral("Interface: not known whether a program holds it (%1; stored: %2)\n")
                   .arg(face.value(QLatin1String("why")).toString(), portText);
    } else if (state == QLatin1String("none")) {
        text = QStringLiteral("Interface: not held by any program (stored: %1)\n").arg(portText);
    } else {
        const QString holder = face.value(QLatin1String("holder")).toString();
        text = QStringLiteral("Interface: %1 on %2, held by the %3\n")
                   .arg(state == QLatin1String("ready") ? QStringLiteral("ready")
                                                        : QStringLiteral("lost (looking for it)"),
                        portText,
                        holder == QLatin1String("engine") ? QStringLiteral("engine (hearthcore)")
                                                          : QStringLiteral("desktop program"));
    }
    const QJsonArray devices = report.value(QLatin1String("devices")).toArray();
    if (devices.isEmpty())
        text += QStringLiteral("No devices.\n");
    for (const QJsonValue& value : devices) {
        const QJsonObject device = value.toObject();
        const bool on = device.value(QLatin1String("on")).toBool();
        QString state = on ? QStringLiteral("on") : QStringLiteral("off");
        if (on && device.value(QLatin1String("dimmable")).toBool())
            state += QStringLiteral(" %1%").arg(device.value(QLatin1String("level")).toInt());
        text += QStringLiteral("%1  %2 %3: %4\n")
                    .arg(device.value(QLatin1String("address")).toString(), -3)
                    .arg(device.value(QLatin1String("room")).toString(),
                         device.value(QLatin1String("name")).toString(), state);
    }
    return text;
}

QString ReportPrinter::events(const QJsonObject& report)
{
    const QJsonArray events = report.value(QLatin1String("events")).toArray();
    if (events.isEmpty())
        return QStringLiteral("No events.\n");
    QString text;
    for (const QJsonValue& value : events) {
        const QJsonObject event = value.toObject();
        const QString action = event.value(QLatin1String("action")).toString();
        const QString level = event.value(QLatin1String("level")).toString();
        text += QStringLiteral("%1  %2 %3 (%4)%5  %6 %7\n")
                    .arg(event.value(QLatin1String("time")).toString(), -8)
                    .arg(action, event.value(QLatin1String("device")).toString(),
                         event.value(QLatin1String("address")).toString(),
                         action == QLatin1String("on") && !level.isEmpty() &&
                                 level != QLatin1String("100")
                             ? QStringLiteral(" at %1%").arg(level)
                             : QString(),
                         event.value(QLatin1String("freq")).toString(),
                         event.value(QLatin1String("days")).toString());
    }
    return text;
}

} // namespace casalux
