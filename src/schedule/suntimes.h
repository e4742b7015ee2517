#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace casalux {

class SettingsStore;

// Today's sunrise and sunset as the main window holds them: computed from
// the chosen city text and the daylight saving setting at start-up, on the
// first clock tick of each new date and whenever either setting changes. The scheduler reads
// them for sRise/sSet events.
class SunTimes final {
public:
    // The place a city text describes.
    struct Place {
        double latitude = 0;
        double longitude = 0; // west positive
        double timeZone = 0;  // hours, west positive
    };

    explicit SunTimes(SettingsStore& settings);

    // A city text is "City, Region, latitude, longitude, zone"
    // ("London, England, 51.3, 0.1, 0"); blanks are ignored, numbers use a
    // decimal point. A table city without a region has four fields
    // ("Washington DC, 38.53, 77.02, 5"); its numbers are then the last
    // three fields too. Any other field count (a decimal comma, a name
    // with a comma of its own), or a number that does not read, gives
    // nothing rather than a place read from the wrong fields. The zone is
    // whole hours, or a half or quarter hour as some zones are (New Delhi
    // -5.5); any other fraction is refused with `why` set, rather than
    // rounded to a zone the place is not in.
    static std::optional<Place> parseCityText(const QString& text, QString* why = nullptr);

    // Recomputes from the stored "city" and "dst" settings for today's date
    // (the clock's). A stored city text that does not read leaves the times
    // as they were and returns false.
    bool dosunset();

    // The city selector's text changed (after the main window has loaded):
    // recomputes from it and stores it. A text that does not read changes
    // nothing: neither the times nor the stored city. `why` as for
    // parseCityText.
    bool selectCity(const QString& cityText, QString* why = nullptr);

    // The daylight saving box changed: stores "1" or "0" and recomputes.
    bool setDaylightSaving(bool on);

    // The date the last dosunset() was for (also when the city did not
    // read), invalid before the first; the clock compares it with today's.
    QDate day() const { return m_day; }

    // Invalid when the sun does not rise (or set) today at that place.
    QDateTime sunrise() const { return m_sunrise; }
    QDateTime sunset() const { return m_sunset; }

    // lab_sunset: "Todays Sunrise time is:07:05 Todays Sunset time is:16:32";
    // a time the sun does not reach today shows as "none", followed by a
    // note that there is no sunrise or sunset today.
    QString label() const;

private:
    bool compute(const QString& cityText, QString* why = nullptr);

    SettingsStore& m_settings;
    QDateTime m_sunrise;
    QDateTime m_sunset;
    QDate m_day;
    bool m_computed = false;
};

} // namespace casalux
