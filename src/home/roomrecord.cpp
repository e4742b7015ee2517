#include "roomrecord.h"

#include <QStringList>

namespace casalux {

std::optional<RoomRecord> RoomRecord::parse(const QString& line)
{
    if (line.trimmed().isEmpty() || !line.contains(QLatin1Char('~')))
        return std::nullopt;

    const QString room = line.section(QLatin1Char('~'), 0, 0);
    if (line.contains(QLatin1String("~~~")))
        return makeRoom(room);

    const QStringList fields = line.split(QLatin1Char('~'));
    if (fields.size() < 4)
        return std::nullopt;
    const QString house = fields[2].trimmed().toUpper();
    // The unit is the rest of the line after the third separator.
    const int unit = leadingNumber(line.section(QLatin1Char('~'), 3));
    if (house.size() != 1 || house[0] < QLatin1Char('A') || house[0] > QLatin1Char('P') ||
        unit < 1 || unit > 16)
        return std::nullopt;
    return makeDevice(room, fields[1], house, unit);
}

QString RoomRecord::line() const
{
    if (isRoom())
        return room + QLatin1String("~~~");
    return QStringList{room, device, house, QString::number(unit)}.join(QLatin1Char('~'));
}

QString RoomRecord::deviceKey(const QString& room, const QString& device)
{
    QString key = room + device;
    key.remove(QLatin1Char(' '));
    return key;
}

int RoomRecord::leadingNumber(const QString& text)
{
    const QString t = text.trimmed();
    int value = 0;
    for (const QChar c : t) {
        if (!c.isDigit() || c.unicode() > '9')
            break;
        value = value * 10 + (c.unicode() - '0');
        if (value > 100000)
            break; // far outside any unit; avoid overflow on junk
    }
    return value;
}

} // namespace casalux
