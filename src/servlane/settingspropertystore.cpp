#include "settingspropertystore.h"

SettingsPropertyStore::SettingsPropertyStore(std::unique_ptr<QSettings> settings,
                                             const QString& group)
    : m_settings(settings ? std::move(settings) : std::make_unique<QSettings>()), m_group(group)
{
}

QString SettingsPropertyStore::readValue(const QString& key, const QString& defaultValue) const
{
    return m_settings->value(m_group + QLatin1Char('/') + key, defaultValue).toString();
}

void SettingsPropertyStore::writeValue(const QString& key, const QString& value)
{
    m_settings->setValue(m_group + QLatin1Char('/') + key, value);
}
