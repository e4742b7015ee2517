#include "socketaddress.h"

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>

namespace servlane {

QString SocketAddress::text(const QHostAddress& address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : address.toString();
}

QString SocketAddress::of(const sockaddr_storage& peer)
{
    if (peer.ss_family == AF_INET) {
        // The common case, written out: QHostAddress's text costs more than
        // the rest of taking a connection.
        const auto* in = reinterpret_cast<const sockaddr_in*>(&peer);
        const quint32 a = ntohl(in->sin_addr.s_addr);
        char written[16];
        const int n = std::snprintf(written, sizeof written, "%u.%u.%u.%u", a >> 24,
                                    (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
        return QString::fromLatin1(written, n);
    }
    if (peer.ss_family != AF_INET6)
        return {};
    return text(QHostAddress(reinterpret_cast<const sockaddr*>(&peer)));
}

} // namespace servlane
