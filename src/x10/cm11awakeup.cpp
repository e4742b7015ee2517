#include "cm11awakeup.h"

#include <utility>

namespace casalux {

Cm11aWakeup::Cm11aWakeup()
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { resume(false); });
}

void Cm11aWakeup::Awaiter::await_suspend(std::coroutine_handle<> handle)
{
    wakeup.m_handle = handle;
    wakeup.m_woken = false;
    wakeup.m_timer.start(realMs);
}

void Cm11aWakeup::resume(bool woken)
{
    if (!m_handle)
        return;
    m_timer.stop();
    m_woken = woken;
    // The coroutine may wait here again before resume() returns.
    std::exchange(m_handle, {}).resume();
}

} // namespace casalux
