#include "busymark.h"

#include "clock.h"

namespace casalux {

BusyMark::Hold& BusyMark::Hold::operator=(Hold&& other) noexcept
{
    if (this != &other) {
        release();
        m_mark = std::exchange(other.m_mark, nullptr);
    }
    return *this;
}

void BusyMark::Hold::release()
{
    if (m_mark) {
        m_mark->m_held = false;
        m_mark = nullptr;
    }
}

std::optional<BusyMark::Hold> BusyMark::tryTake()
{
    if (m_held)
        return std::nullopt;
    m_held = true;
    return Hold(this);
}

QCoro::Task<BusyMark::Hold> BusyMark::take(int stepSeconds)
{
    while (m_held)
        co_await Clock::instance().sleep(stepSeconds);
    m_held = true;
    co_return Hold(this);
}

} // namespace casalux
