#include "cm11alinelock.h"

#include <utility>

namespace casalux {

Cm11aLineLock::Cm11aLineLock()
{
    m_handover.setSingleShot(true);
    QObject::connect(&m_handover, &QTimer::timeout, &m_handover, [this] { resumeNext(); });
}

bool Cm11aLineLock::Awaiter::await_ready() const noexcept
{
    if (lock.m_busy)
        return false;
    lock.m_busy = true;
    return true;
}

void Cm11aLineLock::unlock()
{
    if (m_waiters.empty()) {
        m_busy = false;
        if (m_idle)
            m_idle();
        return;
    }
    // The line passes straight to the next waiter (it stays busy, so nobody
    // overtakes), which resumes from the event loop rather than inside the
    // releasing coroutine's clean-up.
    m_next = m_waiters.front();
    m_waiters.pop_front();
    m_handover.start(0);
}

void Cm11aLineLock::drain()
{
    m_handover.stop();
    m_idle = nullptr;
    while (m_next || !m_waiters.empty()) {
        std::coroutine_handle<> handle = m_next;
        if (handle) {
            m_next = {};
        } else {
            handle = m_waiters.front();
            m_waiters.pop_front();
        }
        m_busy = true;
        handle.resume(); // its unlock() may hand over to m_next; the loop takes it
        m_handover.stop();
    }
}

void Cm11aLineLock::resumeNext()
{
    if (m_next)
        std::exchange(m_next, {}).resume();
}

} // namespace casalux
