#include "voicecommand.h"

#include "home/roomrecord.h"

namespace casalux {

QList<VoiceCommand> VoiceCommand::standard()
{
    return {{QStringLiteral("Properties"), QStringLiteral("Change Speech Properties"),
             QStringLiteral("Speech Properties")},
            {QStringLiteral("repeat"), QStringLiteral("Repeat Command"),
             QStringLiteral("repeat command")}};
}

QList<VoiceCommand> VoiceCommand::forDevice(const RoomRecord& device)
{
    // Every word is needed: an action word and the device with its room. A
    // phrase that a bare room name or a stray word could complete would let
    // a conversation or the television switch lights.
    const QString address = device.address();
    const QString spaced = device.room + QLatin1Char(' ') + device.device;
    return {
        {QLatin1String("on~") + address, spaced + QLatin1String(" on"),
         spaced + QLatin1String(" on")},
        {QLatin1String("bright~") + address, QLatin1String("Bright ") + spaced,
         QLatin1String("Bright ") + spaced},
        {QLatin1String("dim~") + address, QLatin1String("Dim ") + spaced,
         QLatin1String("Dim ") + spaced},
        {QLatin1String("off~") + address, QLatin1String("Cancel ") + spaced,
         QLatin1String("Cancel ") + spaced},
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
