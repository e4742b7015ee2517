#include "devicetype.h"

#include "settingkeys.h"
#include "settingsstore.h"

#include <array>

namespace casalux {

namespace {

struct TypeRow {
    const char* choice;
    const char* family;
    bool dimmable;
};

constexpr std::array<TypeRow, 5> typeTable{{
    {"Appliance Module (not dimmable)", "switch", false},
    {"Light Module (dimmable)", "bulb", true},
    {"Fan (appliance module)", "fan", false},
    {"Lamp Module (dimmable)", "bulb2", true},
    {"Radio (appliance module)", "radio", false},
}};

} // namespace

QStringList DeviceType::choices()
{
    QStringList out;
    for (const auto& row : typeTable)
        out.append(QString::fromLatin1(row.choice));
    return out;
}

QString DeviceType::fromChoice(const QString& choice)
{
    for (const auto& row : typeTable) {
        if (choice == QLatin1String(row.choice))
            return QString::fromLatin1(row.family);
    }
    return QStringLiteral("switch");
}

bool DeviceType::isDimmable(const QString& family)
{
    for (const auto& row : typeTable) {
        if (family == QLatin1String(row.family))
            return row.dimmable;
    }
    return false;
}

QString DeviceType::storedFamily(const SettingsStore& settings, const QString& deviceKey)
{
    const QString kind =
        settings.readShared(QString::fromLatin1(settingkeys::typeSection),
                            QString(deviceKey).remove(QLatin1Char(' ')),
                            QString::fromLatin1(settingkeys::typeFallback));
    for (const auto& row : typeTable) {
        if (kind == QLatin1String(row.family))
            return kind;
    }
    return QString::fromLatin1(settingkeys::typeFallback);
}

} // namespace casalux
