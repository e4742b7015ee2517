#pragma once

#include <QString>

namespace casalux {

class SettingsStore;

// The last known state and level of each device, kept machine-wide so both
// programs and the web pages agree: a value named by the device key ("True"
// = on) and one named "dim" + the device key (brightness in percent).
class DeviceStatus final {
public:
    explicit DeviceStatus(SettingsStore& settings) : m_settings(settings) {}

    // True exactly when the device was last switched on. Spaces in keyname
    // are ignored, so a room and device name may be passed joined as typed.
    bool getlaststatus(const QString& keyname) const;

    // Records a switch. state "on" (exactly) stores "True" and the level; any
    // other state stores "False" and level "20". dim is the amount dimmed by:
    // empty means full (100), 0 means 20, 20 and 100 stand as they are, and
    // any other amount d leaves 100 - d.
    void setstatus(const QString& devicename, const QString& state, const QString& dim);

    // The stored level in percent, or -1 when none was stored.
    int level(const QString& keyname) const;

    // The level setstatus stores for an "on" with this dim.
    static QString normaliseDim(const QString& dim);

private:
    SettingsStore& m_settings;
};

} // namespace casalux
