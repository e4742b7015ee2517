#include "devicestatus.h"

#include "settingsstore.h"

#include <algorithm>
#include <cmath>

namespace casalux {

namespace {

QString keyOf(const QString& name)
{
    QString key = name;
    key.remove(QLatin1Char(' '));
    return key;
}

QString casaluxPath()
{
    return QString::fromLatin1(settingkeys::casaluxPath);
}

} // namespace

bool DeviceStatus::getlaststatus(const QString& keyname) const
{
    return m_settings.GetString(SettingsStore::Root::LocalMachine, casaluxPath(), keyOf(keyname),
                                QStringLiteral("False")) == QLatin1String("True");
}

QString DeviceStatus::normaliseDim(const QString& dim)
{
    const QString text = dim.trimmed();
    if (text.isEmpty())
        return QStringLiteral("100");
    bool ok = false;
    const double amount = text.toDouble(&ok);
    if (!ok || !std::isfinite(amount))
        return QStringLiteral("100"); // not a number: treated like no dim at all
    if (amount == 0)
        return QStringLiteral("20");
    if (amount == 20 || amount == 100)
        return QString::number(amount);
    // An amount outside 0..100 would store a level no device can have.
    const double level = std::clamp(100.0 - amount, 0.0, 100.0);
    return QString::number(level);
}

void DeviceStatus::setstatus(const QString& devicename, const QString& state, const QString& dim)
{
    const QString key = keyOf(devicename);
    const auto root = SettingsStore::Root::LocalMachine;
    // State and level in one rewrite: the other program never reads one
    // without the other.
    {
        const SettingsStore::Batch both(m_settings);
        const bool on = state == QLatin1String("on");
        m_settings.SaveString(root, casaluxPath(), key,
                              on ? QStringLiteral("True") : QStringLiteral("False"));
        m_settings.SaveString(root, casaluxPath(), QLatin1String("dim") + key,
                              on ? normaliseDim(dim) : QStringLiteral("20"));
    }
    recorded(key);
}

void DeviceStatus::setlevel(const QString& devicename, int percent)
{
    const QString key = keyOf(devicename);
    const auto root = SettingsStore::Root::LocalMachine;
    {
        const SettingsStore::Batch both(m_settings);
        m_settings.SaveString(root, casaluxPath(), key, QStringLiteral("True"));
        m_settings.SaveString(root, casaluxPath(), QLatin1String("dim") + key,
                              QString::number(std::clamp(percent, 0, 100)));
    }
    recorded(key);
}

int DeviceStatus::level(const QString& keyname) const
{
    const QString text = m_settings.GetString(SettingsStore::Root::LocalMachine, casaluxPath(),
                                              QLatin1String("dim") + keyOf(keyname));
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok ? static_cast<int>(std::lround(value)) : -1;
}

} // namespace casalux
