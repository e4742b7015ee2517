#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>

#include <qcoro/qcorotask.h>

namespace casalux {

// The one source of local time and of waiting for both programs.
//
// Production reads the system clock. For demos and end-to-end tests the clock
// can start from a chosen date-time and run faster by a scale factor: every
// sleep and timer interval shrinks by that factor and now() advances by it.
// Unit tests may also freeze now() at one instant while sleeps stay fast.
class Clock final {
public:
    static Clock& instance();

    QDateTime now() const;

    // Suspends the calling coroutine for `seconds` of clock time. The event
    // loop keeps running meanwhile; nothing here nests an event loop.
    QCoro::Task<> sleep(double seconds) const;

    // Real milliseconds for a timer interval given in clock milliseconds.
    int interval(int milliseconds) const;

    double scale() const { return m_scale; }

    // now() reads `origin` at this moment and advances `scale` times faster
    // than real time; sleeps are shortened by the same factor.
    void start(const QDateTime& origin, double scale = 1.0);
    // Like start(), but now() stays at `at` until the clock is started again.
    void freeze(const QDateTime& at, double scale = 1.0);
    void useSystemTime();

    // Reads CASALUX_NOW (ISO date-time) and CASALUX_TIME_SCALE (factor > 0).
    // Returns an error text for a value that cannot be used; the clock is then
    // left on system time.
    QString configureFromEnvironment();

private:
    Clock() = default;

    enum class Mode { System, Shifted, Frozen };
    Mode m_mode = Mode::System;
    QDateTime m_origin;
    QElapsedTimer m_elapsed;
    double m_scale = 1.0;
};

// Waits n whole seconds of clock time while the event loop runs on. Measures
// elapsed time, so a wait across midnight ends after n seconds like any other.
QCoro::Task<> waitseconds(int seconds);
// A fraction would be cut to whole seconds without a word; such waits call
// Clock::sleep.
QCoro::Task<> waitseconds(double seconds) = delete;

} // namespace casalux
