#pragma once

#include <QTcpServer>

namespace servlane {

// The listening socket. Qt binds it and reports why it cannot; the socket
// layer takes the connections itself, from its own epoll set, so Qt never
// wraps one in a QTcpSocket or polls it.
class ConnectionListener final : public QTcpServer {
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override;
};

} // namespace servlane
