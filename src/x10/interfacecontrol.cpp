#include "interfacecontrol.h"

#include "serialportmap.h"

namespace casalux {

QString InterfaceControl::devicePath() const
{
    return m_path.isEmpty() ? SerialPortMap::devicePath(m_port) : m_path;
}

} // namespace casalux
