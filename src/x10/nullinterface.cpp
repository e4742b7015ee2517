#include "nullinterface.h"

namespace casalux {

QCoro::Task<int> NullInterface::open()
{
    co_return PortUnusable;
}

QCoro::Task<bool> NullInterface::send(QString, QString, int, double, int, int)
{
    co_return false;
}

} // namespace casalux
