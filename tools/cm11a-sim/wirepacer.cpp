#include "wirepacer.h"

#include "platform/clock.h"

#include <cmath>

namespace casalux::sim {

WirePacer::WirePacer(int baud, QObject* parent) : QObject(parent), m_baud(baud)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &WirePacer::finish);
}

void WirePacer::push(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    if (m_baud <= 0) {
        Q_EMIT delivered(bytes);
        return;
    }
    m_queue.append(bytes);
    if (!m_timer.isActive())
        startNext();
}

void WirePacer::startNext()
{
    if (m_queue.isEmpty())
        return;
    m_inFlight = m_queue.takeFirst();
    // Nearest whole millisecond: 1 byte at 4800 baud is 2.08 ms, 2 bytes 4.17 ms.
    const double ms = m_inFlight.size() * 10 * 1000.0 / m_baud;
    m_timer.start(casalux::Clock::instance().interval(static_cast<int>(std::lround(ms))));
}

void WirePacer::finish()
{
    const QByteArray bytes = std::exchange(m_inFlight, {});
    Q_EMIT delivered(bytes);
    startNext();
}

} // namespace casalux::sim
