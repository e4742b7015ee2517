#pragma once

#include <QString>
#include <QStringList>

namespace casalux {

class SettingsStore;

// The kinds of device a user can add. Each maps to a picture family: the
// family name followed by "on.gif" or "off.gif" in the html folder.
class DeviceType final {
public:
    // The five choices offered when adding a device, in order.
    static QStringList choices();

    // The family stored for a choice; any other text stores "switch".
    static QString fromChoice(const QString& choice);

    // The family stored for a device (its key, spaces aside), "switch" when
    // none is stored or the stored one has no pictures.
    static QString storedFamily(const SettingsStore& settings, const QString& deviceKey);

    // Whether a device of this family can be dimmed.
    static bool isDimmable(const QString& family);

    static QString pictureOn(const QString& family) { return family + QLatin1String("on.gif"); }
    static QString pictureOff(const QString& family) { return family + QLatin1String("off.gif"); }
};

} // namespace casalux
