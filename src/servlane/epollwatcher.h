#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace servlane {

// One epoll set for every client connection, watched through a single
// QSocketNotifier on the epoll descriptor: Qt's event loop polls one
// descriptor however many clients are connected, and only the connections
// that are ready are looked at. Level-triggered; each descriptor carries a
// token (the connection's id) that comes back with its events.
class EpollWatcher final : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<void(quint64 token, quint32 events)>;

    explicit EpollWatcher(Handler handler, QObject* parent = nullptr);
    ~EpollWatcher() override;

    bool isValid() const { return m_epoll >= 0; }
    // `events` are EPOLLIN, EPOLLOUT, EPOLLRDHUP …; errors and hang-ups are
    // always reported.
    bool add(int fd, quint64 token, quint32 events);
    bool modify(int fd, quint64 token, quint32 events);
    void remove(int fd);

private:
    void onReady();

    Handler m_handler;
    int m_epoll = -1;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace servlane
