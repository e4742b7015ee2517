#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <coroutine>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include <qcoro/qcorotask.h>

namespace casalux {

// The one line every device command goes through: one command at a time,
// in the order asked, whichever part of the program asked (a click, a
// page, a hub, the command line, a timed event, a macro, a spoken word).
// A waiting command is resumed from the event loop when its turn comes,
// never by a timer.
class SwitchQueue final : public QObject {
    Q_OBJECT

public:
    // Holding one is having the line; letting it go (on every way out)
    // passes the line to the next command.
    class [[nodiscard]] Turn final {
    public:
        Turn() = default;
        Turn(Turn&& other) noexcept : m_queue(std::exchange(other.m_queue, nullptr)) {}
        Turn& operator=(Turn&& other) noexcept;
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;
        ~Turn() { release(); }

        bool holds() const { return !m_queue.isNull(); }
        void release();

    private:
        friend class SwitchQueue;
        explicit Turn(SwitchQueue* queue) : m_queue(queue) {}
        // The queue may go first (the program ending with a command on the line).
        QPointer<SwitchQueue> m_queue;
    };

    // What take() gives: the turn, or why the command may not go.
    struct Taken {
        Turn turn;
        QString why;
    };

    // A command may name what it switches (`key`): a newer command for the
    // same key can then replace it while it waits (replaceWaiting).
    struct Ask {
        QString key;
        int value = 0; // the caller's own, handed to whoever replaces it
    };

    explicit SwitchQueue(QObject* parent = nullptr);
    ~SwitchQueue() override;

    // Waits for the line. Refused only when the waiting command is
    // replaced or the queue goes away.
    // `ask` is read before the first wait only. (The caller names it: GCC 12
    // destroys temporaries of a co_await expression twice.)
    QCoro::Task<Taken> take(const Ask& ask);
    QCoro::Task<Taken> take() { return take(m_plainAsk); }

    // Refuses the waiting command asked with `key`, if any, with `why`;
    // its value, or nothing when none waits.
    std::optional<int> replaceWaiting(const QString& key, const QString& why);

    // A command has the line or waits for it.
    bool busy() const { return m_held || !m_waiting.empty(); }
    // Commands waiting for the line (the one on it not counted).
    int waitingCount() const { return int(m_waiting.size()); }

    // co_await turnPassed(): until the command on the line now has ended,
    // at once when none is (a page that shows its result waits so).
    QCoro::Task<> turnPassed();

Q_SIGNALS:
    // The command on the line has ended; the next may go.
    void passed();

private:
    struct Waiting;
    class Awaiter;
    void pass();
    void resumeLater(std::shared_ptr<Waiting> waiting);

    const Ask m_plainAsk;
    bool m_held = false;
    std::deque<std::shared_ptr<Waiting>> m_waiting;
    // Told to go on (or to give up), but not yet resumed.
    std::vector<std::shared_ptr<Waiting>> m_woken;
    // Waiting for the turn on the line to pass, not for a turn of their own.
    std::vector<std::shared_ptr<Waiting>> m_watching;
};

} // namespace casalux
