#pragma once

#include <QString>
#include <functional>

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

    // Records a device switched on at exactly this level in percent
    // (0..100). setstatus's dim is an amount dimmed by, with special
    // values, and cannot say every level.
    void setlevel(const QString& devicename, int percent);

    // Called with the device key (spaces removed) after every record, so a
    // state can be passed on (to a hub) whichever path recorded it.
    using RecordedHook = std::function<void(const QString& deviceKey)>;
    void setRecordedHook(RecordedHook hook) { m_recorded = std::move(hook); }

    // The stored level in percent, or -1 when none was stored.
    int level(const QString& keyname) const;

    // The level setstatus stores for an "on" with this dim.
    static QString normaliseDim(const QString& dim);

private:
    void recorded(const QString& key) const
    {
        if (m_recorded)
            m_recorded(key);
    }

    SettingsStore& m_settings;
    RecordedHook m_recorded;
};

} // namespace casalux
