#pragma once

#include <QTcpServer>
#include <functional>

namespace servlane {

// A listener that hands over each accepted connection as a bare socket
// descriptor instead of wrapping it in a QTcpSocket. Qt's event dispatcher
// polls every socket that has a notifier on each pass, so connections are
// kept as descriptors in the socket layer's one epoll set instead.
class ConnectionListener final : public QTcpServer {
public:
    using Handler = std::function<void(qintptr descriptor)>;

    explicit ConnectionListener(Handler handler, QObject* parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    Handler m_handler;
};

} // namespace servlane
