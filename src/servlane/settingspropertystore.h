#pragma once

#include "propertystore.h"

#include <QSettings>
#include <memory>

// Properties kept in one group of a QSettings store.
class SettingsPropertyStore final : public PropertyStore {
public:
    // Without settings the application's default QSettings are used.
    explicit SettingsPropertyStore(std::unique_ptr<QSettings> settings = {},
                                   const QString& group = QStringLiteral("Servlane"));

    QString readValue(const QString& key, const QString& defaultValue) const override;
    void writeValue(const QString& key, const QString& value) override;

private:
    std::unique_ptr<QSettings> m_settings;
    QString m_group;
};
