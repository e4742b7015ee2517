#pragma once

#include <QTimer>
#include <coroutine>
#include <deque>
#include <functional>

namespace casalux {

// One conversation with the interface at a time: a send, an open, or the
// servicing of a poll the interface started. Waiters take their turn in the
// order they came, each as a suspended coroutine.
class Cm11aLineLock final {
public:
    Cm11aLineLock();
    Cm11aLineLock(const Cm11aLineLock&) = delete;
    Cm11aLineLock& operator=(const Cm11aLineLock&) = delete;

    bool isBusy() const { return m_busy; }

    // Called whenever the line falls idle (no holder, nobody waiting).
    void setIdleHandler(std::function<void()> handler) { m_idle = std::move(handler); }

    // Resumes every waiter at once, each in turn holding the line, for an
    // owner that goes away: they must find the port closed and return.
    void drain();

    struct Awaiter {
        Cm11aLineLock& lock;
        bool await_ready() const noexcept;
        void await_suspend(std::coroutine_handle<> handle) { lock.m_waiters.push_back(handle); }
        void await_resume() const noexcept {}
    };
    // co_await lock() returns holding the line; pair it with a Held.
    Awaiter lock() { return Awaiter{*this}; }
    void unlock();

    // Releases the line on every way out of the holder's scope.
    class Held final {
    public:
        explicit Held(Cm11aLineLock& lock) : m_lock(lock) {}
        ~Held() { m_lock.unlock(); }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;

    private:
        Cm11aLineLock& m_lock;
    };

private:
    void resumeNext();

    bool m_busy = false;
    std::deque<std::coroutine_handle<>> m_waiters;
    std::coroutine_handle<> m_next;
    QTimer m_handover;
    std::function<void()> m_idle;
};

} // namespace casalux
