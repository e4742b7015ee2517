#include "clock.h"

#include <QTimer>
#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include <qcoro/qcorotimer.h>

namespace casalux {

Clock& Clock::instance()
{
    static Clock clock;
    return clock;
}

QDateTime Clock::now() const
{
    switch (m_mode) {
    case Mode::System:
        return QDateTime::currentDateTime();
    case Mode::Frozen:
        return m_origin;
    case Mode::Shifted:
        break;
    }
    const auto advanced = static_cast<qint64>(std::llround(m_elapsed.elapsed() * m_scale));
    return m_origin.addMSecs(advanced);
}

int Clock::interval(int milliseconds) const
{
    if (milliseconds <= 0)
        return 0;
    const auto real = std::llround(milliseconds / m_scale);
    return static_cast<int>(std::clamp<long long>(real, 1, std::numeric_limits<int>::max()));
}

QCoro::Task<> Clock::sleep(double seconds) const
{
    const int ms = seconds > 0 ? interval(static_cast<int>(std::llround(seconds * 1000.0))) : 0;
    co_await QCoro::sleepFor(std::chrono::milliseconds(ms));
}

void Clock::start(const QDateTime& origin, double scale)
{
    m_mode = Mode::Shifted;
    m_origin = origin;
    m_scale = scale > 0 ? scale : 1.0;
    m_elapsed.start();
}

void Clock::freeze(const QDateTime& at, double scale)
{
    start(at, scale);
    m_mode = Mode::Frozen;
}

void Clock::useSystemTime()
{
    m_mode = Mode::System;
    m_scale = 1.0;
}

QString Clock::configureFromEnvironment()
{
    const QString nowText = qEnvironmentVariable("CASALUX_NOW").trimmed();
    const QString scaleText = qEnvironmentVariable("CASALUX_TIME_SCALE").trimmed();
    if (nowText.isEmpty() && scaleText.isEmpty()) {
        useSystemTime();
        return {};
    }

    double scale = 1.0;
    if (!scaleText.isEmpty()) {
        bool ok = false;
        scale = scaleText.toDouble(&ok);
        if (!ok || !std::isfinite(scale) || scale <= 0 || scale > 100000) {
            useSystemTime();
            return QStringLiteral("CASALUX_TIME_SCALE must be a number above 0 and at most 100000, not \"%1\"")
                .arg(scaleText);
        }
    }

    QDateTime origin = QDateTime::currentDateTime();
    if (!nowText.isEmpty()) {
        origin = QDateTime::fromString(nowText, Qt::ISODate);
        if (!origin.isValid()) {
            useSystemTime();
            return QStringLiteral("CASALUX_NOW must be a date-time such as 2026-03-05T07:29:55, not \"%1\"")
                .arg(nowText);
        }
        if (origin.timeSpec() != Qt::LocalTime)
            origin = origin.toLocalTime();
    }
    start(origin, scale);
    return {};
}

QCoro::Task<> waitseconds(int seconds)
{
    co_await Clock::instance().sleep(seconds);
}

} // namespace casalux
