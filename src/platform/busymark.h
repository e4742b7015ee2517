#pragma once

#include <QObject>

#include <coroutine>
#include <deque>
#include <optional>
#include <utility>

#include <qcoro/qcorotask.h>

namespace casalux {

// A re-entrancy mark such as `filebusy` or `serving`: a plain flag on the
// object that owns it. Holding it is tied to a Hold object, so every way out
// of a routine (early return, exception, a coroutine destroyed mid-wait)
// lets go of it. Whoever waits for it is handed it when it is let go, in
// the order they came, and resumed from the event loop.
class BusyMark final : public QObject {
    Q_OBJECT

public:
    class [[nodiscard]] Hold final {
    public:
        Hold() = default;
        Hold(Hold&& other) noexcept : m_mark(std::exchange(other.m_mark, nullptr)) {}
        Hold& operator=(Hold&& other) noexcept;
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        ~Hold() { release(); }

        bool holds() const { return m_mark != nullptr; }
        void release();

    private:
        friend class BusyMark;
        explicit Hold(BusyMark* mark) : m_mark(mark) {}
        BusyMark* m_mark = nullptr;
    };

    BusyMark() = default;

    bool isHeld() const { return m_held; }

    // Takes the mark if it is free.
    std::optional<Hold> tryTake();

    // How long the removal of due once-events waits for a held mark before
    // it skips its turn.
    static constexpr int listStepSeconds = 2;

    // Takes the mark, waiting until it is let go when it is held.
    QCoro::Task<Hold> take();

private:
    class Awaiter;
    void letGo();

    bool m_held = false;
    // Waiting to be handed the mark, in the order they came. (A mark that
    // goes first leaves them waiting; they are never resumed into it.)
    std::deque<std::coroutine_handle<>> m_waiting;
};

} // namespace casalux
