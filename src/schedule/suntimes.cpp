#include "suntimes.h"

#include "sunrisecalculator.h"
#include "home/settingkeys.h"
#include "home/settingsstore.h"
#include "platform/clock.h"

#include <QStringList>

#include <cmath>
#include <limits>

namespace casalux {

namespace {

std::optional<double> number(QString text)
{
    text.remove(QLatin1Char(' '));
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

SunTimes::SunTimes(SettingsStore& settings) : m_settings(settings) {}

std::optional<SunTimes::Place> SunTimes::parseCityText(const QString& text, QString* why)
{
    const QStringList fields = text.split(QLatin1Char(','));
    // Five fields, or four for a table city without a region.
    if (fields.size() != 5 && fields.size() != 4)
        return std::nullopt;
    const qsizetype n = fields.size();
    const auto latitude = number(fields.at(n - 3));
    const auto longitude = number(fields.at(n - 2));
    const auto zone = number(fields.at(n - 1));
    if (!latitude || !longitude || !zone || std::abs(*latitude) > 90 ||
        std::abs(*longitude) > 360 || std::abs(*zone) > 24)
        return std::nullopt;
    constexpr double zoneStepsPerHour = 4;
    const double steps = *zone * zoneStepsPerHour;
    if (std::abs(steps - std::nearbyint(steps)) > 1e-9) {
        if (why) {
            *why = QStringLiteral("The time zone %1 is not a time zone: give it in whole hours, or "
                                  "with a half or quarter hour such as -5.5.")
                       .arg(fields.at(n - 1).trimmed());
        }
        return std::nullopt;
    }
    return Place{*latitude, *longitude, *zone};
}

bool SunTimes::compute(const QString& cityText, QString* why)
{
    const auto place = parseCityText(cityText, why);
    if (!place)
        return false;
    SunriseCalculator sun;
    sun.setLatitude(place->latitude);
    sun.setLongitude(place->longitude);
    sun.setTimeZone(place->timeZone);
    sun.setDateDay(Clock::instance().now());
    sun.setDaySavings(m_settings.read(settingkeys::dst) == QLatin1String("1"));
    sun.CalculateSun(place->timeZone);
    m_sunrise = sun.sunrise();
    m_sunset = sun.sunset();
    m_computed = true;
    return true;
}

bool SunTimes::dosunset()
{
    m_day = Clock::instance().now().date();
    return compute(m_settings.read(settingkeys::city));
}

bool SunTimes::selectCity(const QString& cityText, QString* why)
{
    // Only a text that reads is kept: an unreadable one stored here would
    // leave every later start without sun times.
    if (!compute(cityText, why))
        return false;
    m_settings.write(settingkeys::city, cityText);
    return true;
}

bool SunTimes::setDaylightSaving(bool on)
{
    m_settings.write(settingkeys::dst, on ? QStringLiteral("1") : QStringLiteral("0"));
    return dosunset();
}

QString SunTimes::label() const
{
    if (!m_computed)
        return {};
    const auto shown = [](const QDateTime& t) {
        return t.isValid() ? t.toString(QStringLiteral("hh:mm")) : QStringLiteral("none");
    };
    QString text = QStringLiteral("Todays Sunrise time is:") + shown(m_sunrise) +
                   QStringLiteral(" Todays Sunset time is:") + shown(m_sunset);
    if (!m_sunrise.isValid() || !m_sunset.isValid())
        text += QStringLiteral(" (the sun does not rise or set here today)");
    return text;
}

} // namespace casalux
