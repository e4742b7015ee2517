#pragma once

#include <QHostAddress>
#include <QString>

namespace servlane {

// Addresses as the server writes them (logs, REMOTE_ADDR): an IPv4 address
// reached over an IPv6 socket reads as plain IPv4.
class SocketAddress final {
public:
    static QString text(const QHostAddress& address);
    // The address of the peer of a connected socket; empty when unknown.
    static QString peerOf(int fd);
};

} // namespace servlane
