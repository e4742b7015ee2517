#include "connectionlistener.h"

namespace servlane {

ConnectionListener::ConnectionListener(Handler handler, QObject* parent)
    : QTcpServer(parent), m_handler(std::move(handler))
{
}

void ConnectionListener::incomingConnection(qintptr descriptor)
{
    // Never added to Qt's pending list, so Qt keeps taking connections off
    // the kernel's queue; the socket layer decides how many it keeps.
    m_handler(descriptor);
}

} // namespace servlane
