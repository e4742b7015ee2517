#pragma once

#include <QHostAddress>
#include <QString>
#include <sys/socket.h>

namespace servlane {

// Addresses as the server writes them (logs, REMOTE_ADDR): an IPv4 address
// reached over an IPv6 socket reads as plain IPv4.
class SocketAddress final {
public:
    static QString text(const QHostAddress& address);
    // A peer's address as accept() gave it; empty for anything but IPv4
    // and IPv6.
    static QString of(const sockaddr_storage& peer);
};

} // namespace servlane
