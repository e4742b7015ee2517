#pragma once

#include <QDateTime>
#include <QString>

#include <array>
#include <span>

namespace casalux {

// Sunrise, solar noon and sunset for a place and a day, with the built-in
// table of 62 cities the city selector offers. This is the class the
// scheduler and the main window know as clsSunrise; its members keep those
// names.
//
// Conventions: latitude north positive; longitude and time zone WEST
// positive (New York 74.01 and zone 5, Tokyo -139.69 and zone -9); the zone
// is the hours to add to local standard time to get universal time, and may
// hold a half or a quarter hour (New Delhi -5.5). Table coordinates are
// decimal degrees, not degrees and minutes.
//
// Where the sun does not rise or does not set on the day (polar day or
// night, the hour-angle cosine outside -1..1), the affected result is an
// invalid QDateTime: no event relative to it can come due that day.
class SunriseCalculator final {
public:
    struct CityRecord {
        const char* name;
        double longitude;
        double latitude;
        double timeZone; // hours; New Delhi's is -5.5
    };
    struct MonthRecord {
        const char* name; // not used by any computation
        int days;
    };

    SunriseCalculator();

    QDateTime sunrise() const { return m_sunrise; }
    QDateTime sunset() const { return m_sunset; }
    QDateTime SolarNoon() const { return m_solarNoon; }

    static int CityCount();
    // "(Error)" outside 0..CityCount()-1.
    static QString CityName(int nCity);

    // Selects a table city by name (blanks around it and letter case
    // ignored, first match wins) or by index; copies its zone, longitude
    // and latitude and clears DaySavings. No match zeroes all four.
    void City(const QString& name);
    void City(int index);

    double TimeZone() const { return m_timeZone; }
    void setTimeZone(double zone) { m_timeZone = zone; }
    bool DaySavings() const { return m_daySavings; }
    void setDaySavings(bool on) { m_daySavings = on; }
    double Longitude() const { return m_longitude; }
    void setLongitude(double degrees) { m_longitude = degrees; }
    double Latitude() const { return m_latitude; }
    void setLatitude(double degrees) { m_latitude = degrees; }
    QDateTime DateDay() const { return m_dateDay; }
    void setDateDay(const QDateTime& day) { m_dateDay = day; }

    // Computes sunrise, SolarNoon and sunset for DateDay at Latitude and
    // Longitude as local clock times in zone `tzone` (hours, west positive),
    // an hour later when DaySavings is on.
    void CalculateSun(double tzone);

    // The selector line of table city n: "Bridlington, England, 54.08, 0.19, 0".
    static QString cityLine(int nCity);

    static bool isLeapYear(int year);
    static int dayOfYear(const QDate& date);

    static std::span<const CityRecord> cities();
    static const std::array<MonthRecord, 12>& months(bool leapYear);

private:
    void clearPlace();

    QDateTime m_sunrise;
    QDateTime m_solarNoon;
    QDateTime m_sunset;
    double m_timeZone = 0;
    bool m_daySavings = false;
    double m_longitude = 0;
    double m_latitude = 0;
    QDateTime m_dateDay;
};

} // namespace casalux
