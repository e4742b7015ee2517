#pragma once

#include <functional>

#include <qcoro/qcorotask.h>

namespace casalux {

// At exit the programs wait for work that must not be cut off halfway (a
// command on the line, a command from a page, the hand-over of the port),
// but never for long: an interface that hangs must not keep them from
// ending when the service manager or the user asks.
class SettleWait final {
public:
    static constexpr int limitMs = 5000;
    static constexpr int stepMs = 20;

    // Suspends until `settled` reads true or `limit` milliseconds have
    // passed; true when it settled. Real time, not clock time: a fast test
    // clock must not shorten the wait for a slow far end. `settled` must
    // itself guard against objects that may have gone meanwhile.
    static QCoro::Task<bool> until(std::function<bool()> settled, int limit = limitMs);
};

} // namespace casalux
