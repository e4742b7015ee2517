#include "sunrisecalculator.h"

#include "platform/clock.h"

#include <QLocale>

#include <cmath>

namespace casalux {

namespace {

// The constants the times have always been computed with; more exact values
// would move some results by a minute.
constexpr double pi = 3.1415926535;
constexpr double twoPi = 6.283185307;
constexpr double zenith = 90.833; // degrees: refraction and the sun's disc
constexpr double latitudeLimit = 89.8;

// Name, longitude (west positive), latitude, zone (west positive).
constexpr std::array<SunriseCalculator::CityRecord, 62> cityTable{{
    {"Bridlington, England", 0.19, 54.08, 0},
    {"Norwich, England", -1.3, 52.63, 0},
    {"Ipswich, England", -1.16, 52.06, 0},
    {"Bristol, England", 2.59, 51.45, 0},
    {"Peterborough, England", 0.24, 52.57, 0},
    {"Brighton, England", 0.14, 50.82, 0},
    {"York, England", 1.08, 53.96, 0},
    {"Middlesborough, England", 1.23, 54.58, 0},
    {"Huddersfield, England", 1.78, 53.65, 0},
    {"Manchester, England", 2.24, 53.48, 0},
    {"Leeds, England", 1.55, 53.8, 0},
    {"Birmingham, England", 1.89, 52.49, 0},
    {"Plymouth, England", 4.14, 50.38, 0},
    {"Cardiff, Wales", 3.18, 51.48, 0},
    {"Llandudno, Wales", 3.83, 53.32, 0},
    {"Inverness, Scotland", 4.22, 57.48, 0},
    {"Glasgow, Scotland", 4.25, 55.86, 0},
    {"Blackpool, England", 3.05, 53.82, 0},
    {"Albuquerque, NM", 106.65, 35.08, 7},
    {"Anchorage, AK", 149.9, 61.22, 9},
    {"Atlanta, GA", 84.39, 33.75, 5},
    {"Boston, MA", 71.06, 42.36, 5},
    {"Boulder, CO", 105.27, 40.01, 7},
    {"Chicago, IL", 87.63, 41.88, 6},
    {"Dallas, TX", 96.8, 32.78, 6},
    {"Denver, CO", 104.99, 39.74, 7},
    {"Detroit, MI", 83.05, 42.33, 5},
    {"Honolulu, HA", 157.86, 21.31, 10},
    {"Indianapolis, IN", 86.16, 39.77, 5},
    {"Kansas City, MO", 94.58, 39.1, 6},
    {"Los Angeles, CA", 118.24, 34.05, 8},
    {"Miami, FL", 80.19, 25.76, 5},
    {"Minneapolis, nMonth", 93.27, 44.98, 6},
    {"New Orleans, LA", 90.07, 29.95, 6},
    {"New York City, NY", 74.01, 40.71, 5},
    {"Oklahoma City, OK", 97.52, 35.47, 6},
    {"Philadelphia, PA", 75.17, 39.95, 5},
    {"Phoenix, AZ", 112.07, 33.45, 7},
    {"Saint Louis, MO", 90.2, 38.63, 6},
    {"San Fransisco, CA", 122.42, 37.77, 8},
    {"Seattle, WA", 122.33, 47.61, 8},
    {"Washington DC", 77.04, 38.91, 5},
    {"Beijing, China", -116.41, 39.9, -8},
    {"Berlin, Germany", -13.4, 52.52, -1},
    {"Buenos Aires, Argentina", 58.38, -34.6, 3},
    {"Cairo, Egypt", -31.24, 30.04, -2},
    {"Cape Town, South Africa", -18.42, -33.92, -2},
    {"Caracas, Venezula", 66.9, 10.48, 4},
    {"Helsinki, Finland", -24.94, 60.17, -2},
    {"Hong Kong, China", -114.17, 22.32, -8},
    {"London, England", 0.13, 51.51, 0},
    {"Mexico City, Mexico", 99.13, 19.43, 6},
    {"Moscow, Russia", -37.62, 55.76, -3},
    {"New Delhi, India", -77.21, 28.61, -5.5},
    {"Ottawa, Canada", 75.7, 45.42, 5},
    {"Paris, France", -2.35, 48.86, -1},
    {"Rio de Janeiro, Brazil", 43.17, -22.91, 3},
    {"Riyadh, Saudi Arabia", -46.68, 24.71, -3},
    {"Rome, Italy", -12.5, 41.9, -1},
    {"Sydney, Australia", -151.21, -33.87, -10},
    {"Tokyo, Japan", -139.69, 35.69, -9},
    {"Zurich, Switzerland", -8.54, 47.38, -1},
}};

constexpr std::array<SunriseCalculator::MonthRecord, 12> commonYear{{
    {"January", 31}, {"February", 28}, {"March", 31}, {"April", 30},
    {"May", 31}, {"June", 30}, {"July", 31}, {"August", 31},
    {"September", 30}, {"October", 31}, {"November", 30}, {"DEcember", 31},
}};
constexpr std::array<SunriseCalculator::MonthRecord, 12> leapYear{{
    {"January", 31}, {"February", 29}, {"March", 31}, {"April", 30},
    {"May", 31}, {"June", 30}, {"July", 31}, {"August", 31},
    {"September", 30}, {"October", 31}, {"November", 30}, {"DEcember", 31},
}};

double radians(double degrees)
{
    return degrees * pi / 180;
}

double degrees(double radians)
{
    return radians * 180 / pi;
}

// Arc cosine through the arc tangent, as the times were always computed.
// Outside -1..1 the result is NaN: the sun does not cross the horizon.
double arcCosine(double x)
{
    return std::atan(-x / std::sqrt(1 - x * x)) + 2 * std::atan(1.0);
}

// Halves to even, as the rounding of whole hours and seconds always went.
double roundEven(double value)
{
    return std::nearbyint(value);
}

// Fractional year in radians for day d, and hour h of that day.
double fractionalYear(int day, double hour = 0)
{
    return twoPi / 365 * (day - 1 + hour / 24);
}

double equationOfTime(double g)
{
    return 229.18 * (0.000075 + 0.001868 * std::cos(g) - 0.032077 * std::sin(g) -
                     0.014615 * std::cos(2 * g) - 0.040849 * std::sin(2 * g));
}

double declination(double g)
{
    return 0.006918 - 0.399912 * std::cos(g) + 0.070257 * std::sin(g) -
           0.006758 * std::cos(2 * g) + 0.000907 * std::sin(2 * g);
}

// Hour angle in degrees; positive for sunrise, negative for sunset.
double hourAngle(double latitude, double g, bool rising)
{
    const double phi = radians(latitude);
    const double delta = declination(g);
    const double x =
        std::cos(radians(zenith)) / (std::cos(phi) * std::cos(delta)) - std::tan(phi) * std::tan(delta);
    const double h = degrees(arcCosine(x));
    return rising ? h : -h;
}

// Universal time in minutes of the sunrise (or sunset) of day d: a first
// pass at the start of the day (of the next day for the sunset) finds the
// hour, a second pass at that hour gives the time.
double sunEvent(int day, double latitude, double longitude, bool rising)
{
    const double g1 = rising ? fractionalYear(day) : fractionalYear(day + 1);
    const double t1 = 720 + 4 * (longitude - hourAngle(latitude, g1, rising)) - equationOfTime(g1);
    const double hour = roundEven(t1 / 60);
    const double g2 = fractionalYear(day, hour);
    return 720 + 4 * (longitude - hourAngle(latitude, g2, rising)) - equationOfTime(g2);
}

double solarNoon(int day, double longitude)
{
    const double g = fractionalYear(day, roundEven(longitude / 15 + 12));
    return 720 + 4 * longitude - equationOfTime(g);
}

// Local minutes after midnight of `date` as a date-time; times before
// midnight or after the day's end fall on the neighbouring date. Built from
// the wall clock fields so that a daylight saving change on the day does not
// shift it.
QDateTime atMinutes(const QDate& date, double minutes)
{
    if (!std::isfinite(minutes) || !date.isValid())
        return {};
    constexpr qint64 secondsPerDay = 24 * 60 * 60;
    const auto seconds = static_cast<qint64>(roundEven(minutes * 60));
    const qint64 days = seconds >= 0 ? seconds / secondsPerDay : -((-seconds + secondsPerDay - 1) / secondsPerDay);
    const qint64 rest = seconds - days * secondsPerDay;
    return QDateTime(date.addDays(days), QTime(0, 0).addSecs(static_cast<int>(rest)));
}

} // namespace

SunriseCalculator::SunriseCalculator() : m_dateDay(Clock::instance().now()) {}

int SunriseCalculator::CityCount()
{
    return static_cast<int>(cityTable.size());
}

QString SunriseCalculator::CityName(int nCity)
{
    if (nCity < 0 || nCity >= CityCount())
        return QStringLiteral("(Error)");
    return QString::fromLatin1(cityTable[static_cast<size_t>(nCity)].name);
}

void SunriseCalculator::clearPlace()
{
    m_timeZone = 0;
    m_longitude = 0;
    m_latitude = 0;
    m_daySavings = false;
}

void SunriseCalculator::City(const QString& name)
{
    const QString wanted = name.trimmed();
    for (int i = 0; i < CityCount(); ++i) {
        if (CityName(i).trimmed().compare(wanted, Qt::CaseInsensitive) == 0) {
            City(i);
            return;
        }
    }
    clearPlace();
}

void SunriseCalculator::City(int index)
{
    if (index < 0 || index >= CityCount()) {
        clearPlace();
        return;
    }
    const CityRecord& city = cityTable[static_cast<size_t>(index)];
    m_timeZone = city.timeZone;
    m_longitude = city.longitude;
    m_latitude = city.latitude;
    m_daySavings = false;
}

void SunriseCalculator::CalculateSun(double tzone)
{
    const double saving = m_daySavings ? 60 : 0;
    double latitude = m_latitude;
    if (latitude > latitudeLimit && latitude <= 90)
        latitude = latitudeLimit;
    else if (latitude < -latitudeLimit && latitude >= -90)
        latitude = -latitudeLimit;

    const QDate date = m_dateDay.date();
    const int day = dayOfYear(date);
    const auto local = [&](double universal) { return universal - 60.0 * tzone + saving; };
    m_sunrise = atMinutes(date, local(sunEvent(day, latitude, m_longitude, true)));
    m_solarNoon = atMinutes(date, local(solarNoon(day, m_longitude)));
    m_sunset = atMinutes(date, local(sunEvent(day, latitude, m_longitude, false)));
}

QString SunriseCalculator::cityLine(int nCity)
{
    if (nCity < 0 || nCity >= CityCount())
        return {};
    const CityRecord& city = cityTable[static_cast<size_t>(nCity)];
    const QLocale c = QLocale::c();
    const auto shortest = [&](double v) { return c.toString(v, 'g', QLocale::FloatingPointShortest); };
    return QStringLiteral("%1, %2, %3, %4")
        .arg(QLatin1String(city.name), shortest(city.latitude), shortest(city.longitude),
             shortest(city.timeZone));
}

bool SunriseCalculator::isLeapYear(int year)
{
    return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0);
}

int SunriseCalculator::dayOfYear(const QDate& date)
{
    const auto& table = months(isLeapYear(date.year()));
    int day = date.day();
    for (int m = 1; m < date.month(); ++m)
        day += table[static_cast<size_t>(m - 1)].days;
    return day;
}

std::span<const SunriseCalculator::CityRecord> SunriseCalculator::cities()
{
    return cityTable;
}

const std::array<SunriseCalculator::MonthRecord, 12>& SunriseCalculator::months(bool leap)
{
    return leap ? leapYear : commonYear;
}

} // namespace casalux
