#include "settlewait.h"

#include <QElapsedTimer>

#include <qcoro/qcorotimer.h>

#include <chrono>

namespace casalux {

QCoro::Task<bool> SettleWait::until(std::function<bool()> settled, int limit)
{
    QElapsedTimer waited;
    waited.start();
    while (!settled()) {
        if (waited.elapsed() >= limit)
            co_return false;
        co_await QCoro::sleepFor(std::chrono::milliseconds(stepMs));
    }
    co_return true;
}

} // namespace casalux
