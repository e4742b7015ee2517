#include "socketaddress.h"

#include <sys/socket.h>

namespace servlane {

QString SocketAddress::text(const QHostAddress& address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : address.toString();
}

QString SocketAddress::peerOf(int fd)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0)
        return {};
    return text(QHostAddress(reinterpret_cast<const sockaddr*>(&peer)));
}

} // namespace servlane
