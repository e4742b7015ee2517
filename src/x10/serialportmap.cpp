#include "serialportmap.h"

#include <QtGlobal>

namespace casalux {

QString SerialPortMap::defaultPath(int port)
{
    if (port >= 1 && port <= 4)
        return QStringLiteral("/dev/ttyS%1").arg(port - 1);
    if (port >= 5 && port <= 12)
        return QStringLiteral("/dev/ttyUSB%1").arg(port - 5);
    if (port >= 13 && port <= 15)
        return QStringLiteral("/dev/ttyACM%1").arg(port - 13);
    return {};
}

QString SerialPortMap::devicePath(int port)
{
    if (port < FirstPort || port > LastPort)
        return {};
    const QString override =
        qEnvironmentVariable(QStringLiteral("CASALUX_SERIAL_%1").arg(port).toLatin1().constData())
            .trimmed();
    return override.isEmpty() ? defaultPath(port) : override;
}

} // namespace casalux
