#include "nullinterface.h"

namespace casalux {

QCoro::Task<int> NullInterface::open()
{
    setFailureText(QStringLiteral("no X10 interface is fitted"));
    co_return PortUnusable;
}

QCoro::Task<bool> NullInterface::send(QString, QString, int, double, int, int)
{
    setFailureText(QStringLiteral("no X10 interface is fitted"));
    co_return false;
}

} // namespace casalux
