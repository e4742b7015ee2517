#pragma once

#include <QTimer>
#include <coroutine>

namespace casalux {

// A spot where one coroutine waits for "something arrived" or a timeout,
// without a nested event loop. Only the driver's single reader waits here.
class Cm11aWakeup final {
public:
    Cm11aWakeup();
    Cm11aWakeup(const Cm11aWakeup&) = delete;
    Cm11aWakeup& operator=(const Cm11aWakeup&) = delete;

    bool isWaiting() const { return static_cast<bool>(m_handle); }

    // Resumes the waiting coroutine, if any, on the caller's stack.
    void wake() { resume(true); }

    struct Awaiter {
        Cm11aWakeup& wakeup;
        int realMs;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle);
        bool await_resume() const noexcept { return wakeup.m_woken; }
    };
    // co_await yields true when woken, false when `realMs` passed first.
    Awaiter wait(int realMs) { return Awaiter{*this, realMs}; }

private:
    void resume(bool woken);

    QTimer m_timer;
    std::coroutine_handle<> m_handle;
    bool m_woken = false;
};

} // namespace casalux
