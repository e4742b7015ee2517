#include "voicecommand.h"

#include "home/roomrecord.h"

namespace casalux {

QList<VoiceCommand> VoiceCommand::standard()
{
    return {{QStringLiteral("Properties"), QStringLiteral("Change Speech Properties"),
             QStringLiteral("Speech Properties")},
            {QStringLiteral("repeat"), QStringLiteral("Repeat Command"),
             QStringLiteral("[repeat] command")}};
}

QList<VoiceCommand> VoiceCommand::forDevice(const RoomRecord& device)
{
    const QString address = device.address();
    const QString& room = device.room;
    const QString& name = device.device;
    const QString spaced = room + QLatin1Char(' ') + name;
    const QString optional = QLatin1String(" [") + name + QLatin1Char(']');
    return {
        {QLatin1String("on~") + address, spaced + QLatin1String(" on"),
         room + optional + QLatin1String(" [on]")},
        {QLatin1String("bright~") + address, QLatin1String("Bright ") + spaced,
         QLatin1String("Bright ") + room + optional},
        {QLatin1String("dim~") + address, QLatin1String("Dim ") + spaced,
         QLatin1String("Dim ") + room + optional},
        {QLatin1String("off~") + address, QLatin1String("Cancel ") + spaced,
         QLatin1String("[Cancel] ") + room + optional},
    };
}

QList<VoiceCommand> VoiceCommand::forHome(const QList<RoomRecord>& records)
{
    QList<VoiceCommand> commands = standard();
    for (const RoomRecord& record : records) {
        if (!record.isRoom())
            commands += forDevice(record);
    }
    return commands;
}

} // namespace casalux
