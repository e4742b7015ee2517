#pragma once

#include <QList>
#include <QString>

namespace casalux {

struct RoomRecord;

// One spoken command as the speech character knows it: the name the
// program receives ("off~A3"), the caption shown in the character's command
// list and the voice text, the phrase to say ("Cancel Lounge Lamp"; square
// brackets would mark optional words, which the home's commands avoid).
struct VoiceCommand {
    QString name;
    QString caption;
    QString voiceText;

    bool operator==(const VoiceCommand&) const = default;

    // The two commands every home has: the property sheet and "repeat".
    static QList<VoiceCommand> standard();
    // The four commands of one device: on, bright, dim and off.
    static QList<VoiceCommand> forDevice(const RoomRecord& device);
    // The whole set for a home, in registration order.
    static QList<VoiceCommand> forHome(const QList<RoomRecord>& records);
};

} // namespace casalux
