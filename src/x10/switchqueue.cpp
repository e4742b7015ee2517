#include "switchqueue.h"

#include <QMetaObject>
#include <algorithm>
#include <utility>

namespace casalux {

// One command waiting for the line, and how its wait ended.
struct SwitchQueue::Waiting {
    SwitchQueue::Ask ask;
    std::coroutine_handle<> handle;
    bool decided = false;
    bool go = false;
    QString why; // when it may not go
};

class SwitchQueue::Awaiter final {
public:
    explicit Awaiter(std::shared_ptr<Waiting> waiting) : m_waiting(std::move(waiting)) {}
    bool await_ready() const noexcept { return m_waiting->decided; }
    void await_suspend(std::coroutine_handle<> handle) noexcept { m_waiting->handle = handle; }
    void await_resume() const noexcept {}

private:
    std::shared_ptr<Waiting> m_waiting;
};

SwitchQueue::Turn& SwitchQueue::Turn::operator=(Turn&& other) noexcept
{
    if (this != &other) {
        release();
        m_queue = std::exchange(other.m_queue, nullptr);
    }
    return *this;
}

void SwitchQueue::Turn::release()
{
    if (const QPointer<SwitchQueue> queue = std::exchange(m_queue, nullptr))
        queue->pass();
}

SwitchQueue::SwitchQueue(QObject* parent) : QObject(parent) {}

SwitchQueue::~SwitchQueue()
{
    // Commands still waiting end without the line; the queued calls that
    // would have resumed them go with this object. Each resumed one must
    // find out itself that what it was going to use is gone.
    std::vector<std::shared_ptr<Waiting>> left = std::move(m_woken);
    left.insert(left.end(), m_waiting.begin(), m_waiting.end());
    left.insert(left.end(), m_watching.begin(), m_watching.end());
    m_waiting.clear();
    m_watching.clear();
    for (const auto& waiting : left) {
        waiting->decided = true;
        waiting->go = false;
        waiting->why = QStringLiteral("the program is ending");
        if (const auto handle = std::exchange(waiting->handle, {}))
            handle.resume();
    }
}

QCoro::Task<SwitchQueue::Taken> SwitchQueue::take(const Ask& ask)
{
    if (!busy()) {
        m_held = true;
        co_return Taken{Turn(this), {}};
    }
    auto waiting = std::make_shared<Waiting>();
    waiting->ask = ask;
    m_waiting.push_back(waiting);
    co_await Awaiter(waiting);
    // Resumed by this object only (from the event loop or its destructor).
    if (!waiting->go)
        co_return Taken{Turn(), waiting->why};
    co_return Taken{Turn(this), {}};
}

std::optional<int> SwitchQueue::replaceWaiting(const QString& key, const QString& why)
{
    const auto older = std::find_if(m_waiting.begin(), m_waiting.end(),
                                    [&key](const auto& w) { return w->ask.key == key; });
    if (key.isEmpty() || older == m_waiting.end())
        return std::nullopt;
    const std::shared_ptr<Waiting> replaced = *older;
    m_waiting.erase(older);
    replaced->decided = true;
    replaced->why = why;
    resumeLater(replaced);
    return replaced->ask.value;
}

QCoro::Task<> SwitchQueue::turnPassed()
{
    if (!m_held)
        co_return;
    auto watching = std::make_shared<Waiting>();
    m_watching.push_back(watching);
    co_await Awaiter(watching);
}

void SwitchQueue::pass()
{
    m_held = false;
    for (const auto& watching : std::exchange(m_watching, {})) {
        watching->decided = true;
        resumeLater(watching);
    }
    if (!m_waiting.empty()) {
        const std::shared_ptr<Waiting> next = m_waiting.front();
        m_waiting.pop_front();
        m_held = true; // nobody asking meanwhile overtakes it
        next->decided = true;
        next->go = true;
        resumeLater(next);
    }
    Q_EMIT passed();
}

// From the event loop, never from inside another command's ending: each
// one resumed there would end, pass the turn and resume the next deeper
// down the same stack.
void SwitchQueue::resumeLater(std::shared_ptr<Waiting> waiting)
{
    m_woken.push_back(waiting);
    QMetaObject::invokeMethod(
        this,
        [this, waiting] {
            std::erase(m_woken, waiting);
            if (const auto handle = std::exchange(waiting->handle, {}))
                handle.resume();
        },
        Qt::QueuedConnection);
}

} // namespace casalux
