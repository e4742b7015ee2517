#pragma once

#include <QString>

// Where a Servlane keeps its properties between runs. The host may supply
// its own; by default a QSettings group is used (SettingsPropertyStore).
// Values are text; a key that was never written reads as the default.
class PropertyStore {
public:
    virtual ~PropertyStore() = default;
    virtual QString readValue(const QString& key, const QString& defaultValue) const = 0;
    virtual void writeValue(const QString& key, const QString& value) = 0;
};
