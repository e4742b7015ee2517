#include "busymark.h"

#include <QTimer>

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
    if (m_mark)
        std::exchange(m_mark, nullptr)->letGo();
}

// Suspends while the mark is held; resumed holding it.
class BusyMark::Awaiter final {
public:
    explicit Awaiter(BusyMark& mark) : m_mark(mark) {}
    bool await_ready() const noexcept { return !m_mark.m_held; }
    void await_suspend(std::coroutine_handle<> waiter) { m_mark.m_waiting.push_back(waiter); }
    void await_resume() const noexcept {}

private:
    BusyMark& m_mark;
};

void BusyMark::letGo()
{
    if (m_waiting.empty()) {
        m_held = false;
        return;
    }
    // Handed on, not freed: nobody takes it in between. The waiter goes on
    // from the event loop, not inside whatever let go of the mark.
    const std::coroutine_handle<> next = m_waiting.front();
    m_waiting.pop_front();
    QTimer::singleShot(0, this, [next] { next.resume(); });
}

std::optional<BusyMark::Hold> BusyMark::tryTake()
{
    if (m_held)
        return std::nullopt;
    m_held = true;
    return Hold(this);
}

QCoro::Task<BusyMark::Hold> BusyMark::take()
{
    if (m_held)
        co_await Awaiter(*this); // resumed holding it
    else
        m_held = true;
    co_return Hold(this);
}

} // namespace casalux
