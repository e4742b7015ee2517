#include "epollwatcher.h"

#include <QSocketNotifier>
#include <cerrno>
#include <sys/epoll.h>
#include <unistd.h>

namespace servlane {

namespace {

// Events taken per wake-up; more ready descriptors keep the epoll
// descriptor readable, so the notifier fires again on the next pass and
// the listener and timers get their turn in between.
constexpr int kBatch = 128;

} // namespace

EpollWatcher::EpollWatcher(Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler)), m_epoll(::epoll_create1(EPOLL_CLOEXEC))
{
    if (m_epoll < 0)
        return;
    m_notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &EpollWatcher::onReady);
}

EpollWatcher::~EpollWatcher()
{
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (m_epoll >= 0)
        ::close(m_epoll);
}

bool EpollWatcher::add(int fd, quint64 token, quint32 events)
{
    epoll_event e{};
    e.events = events;
    e.data.u64 = token;
    return m_epoll >= 0 && ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &e) == 0;
}

bool EpollWatcher::modify(int fd, quint64 token, quint32 events)
{
    epoll_event e{};
    e.events = events;
    e.data.u64 = token;
    return m_epoll >= 0 && ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &e) == 0;
}

void EpollWatcher::remove(int fd)
{
    if (m_epoll >= 0) {
        epoll_event e{}; // ignored, but kernels before 2.6.9 wanted one
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, &e);
    }
}

void EpollWatcher::onReady()
{
    epoll_event events[kBatch];
    int n = 0;
    do {
        n = ::epoll_wait(m_epoll, events, kBatch, 0);
    } while (n < 0 && errno == EINTR);
    // The handler may end connections that appear later in this batch; it
    // looks each token up again and skips those that are gone.
    for (int i = 0; i < n; ++i)
        m_handler(events[i].data.u64, events[i].events);
}

} // namespace servlane
