#pragma once

#include <coroutine>
#include <vector>

namespace casalux {

// Coroutines waiting for a turn to pass, woken when it does, never by a
// timer. Waking resumes them from the event loop, never from inside the
// caller (the turn's holder may still be unwinding). Whatever destroys the
// object resumes its waiters the same way: they must find out themselves
// (a QPointer) that what they waited for is gone.
class TurnSignal final {
public:
    TurnSignal() = default;
    ~TurnSignal();
    TurnSignal(const TurnSignal&) = delete;
    TurnSignal& operator=(const TurnSignal&) = delete;

    struct Awaiter {
        TurnSignal& signal;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> waiter) { signal.m_waiting.push_back(waiter); }
        void await_resume() const noexcept {}
    };
    // co_await wait(): until the next wake().
    Awaiter wait() { return Awaiter{*this}; }
    void wake();

private:
    std::vector<std::coroutine_handle<>> m_waiting;
};

} // namespace casalux
