#include "turnsignal.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace casalux {

TurnSignal::~TurnSignal()
{
    wake();
}

void TurnSignal::wake()
{
    std::vector<std::coroutine_handle<>> waiting;
    waiting.swap(m_waiting);
    for (const std::coroutine_handle<> waiter : waiting)
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [waiter] { waiter.resume(); }, Qt::QueuedConnection);
}

} // namespace casalux
