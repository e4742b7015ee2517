#pragma once

#include <optional>
#include <utility>

#include <qcoro/qcorotask.h>

namespace casalux {

// A re-entrancy mark such as `filebusy` or `serving`: a plain flag on the
// object that owns it. Holding it is tied to a Hold object, so every way out
// of a routine (early return, exception, a coroutine destroyed mid-wait)
// lets go of it.
class BusyMark final {
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
    BusyMark(const BusyMark&) = delete;
    BusyMark& operator=(const BusyMark&) = delete;

    bool isHeld() const { return m_held; }

    // Takes the mark if it is free.
    std::optional<Hold> tryTake();

    // How long the list operations wait between looks at a held mark.
    static constexpr int listStepSeconds = 2;

    // Waits in steps of `stepSeconds` (clock time) until the mark is free,
    // then takes it.
    QCoro::Task<Hold> take(int stepSeconds = listStepSeconds);

private:
    bool m_held = false;
};

} // namespace casalux
