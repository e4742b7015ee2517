#include "deviceselector.h"

namespace casalux {

QString DeviceSelector::text(const RoomRecord& device)
{
    return device.room + QLatin1Char(' ') + device.device + QLatin1Char(' ') + device.address();
}

std::optional<DeviceSelector::Choice> DeviceSelector::split(const QString& text)
{
    if (text.size() < 3)
        return std::nullopt;
    QString address = text.right(3);
    if (address.startsWith(QLatin1Char(' ')))
        address.remove(0, 1);
    QString device = text.left(text.size() - 3);
    while (device.endsWith(QLatin1Char(' ')))
        device.chop(1);

    const QString house = address.left(1).toUpper();
    const int unit = RoomRecord::leadingNumber(address.mid(1));
    if (device.isEmpty() || house.isEmpty() || house[0] < QLatin1Char('A') ||
        house[0] > QLatin1Char('P') || unit < 1 || unit > 16)
        return std::nullopt;
    return Choice{device, house, unit};
}

} // namespace casalux
