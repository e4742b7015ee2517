#include "hostnamecache.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QPointer>
#include <QTimer>

namespace servlane {

HostNameCache::HostNameCache(QObject* parent) : QObject(parent)
{
    m_clock.start();
}

HostNameCache::~HostNameCache()
{
    for (auto it = m_lookups.cbegin(); it != m_lookups.cend(); ++it)
        QHostInfo::abortHostLookup(it.key());
}

QString HostNameCache::cached(const QString& address) const
{
    const auto it = m_names.constFind(address);
    if (it == m_names.constEnd() || m_clock.elapsed() - it->at > kKeepMs)
        return {};
    return it->name;
}

void HostNameCache::prefetch(const QString& address)
{
    if (cached(address).isNull())
        startLookup(address);
}

void HostNameCache::resolve(const QString& address, int timeoutMs, QObject* context,
                            std::function<void()> done)
{
    if (!cached(address).isNull()) {
        done();
        return;
    }
    const quint64 id = ++m_nextId;
    m_waiting[address].append(Waiter{id, context, std::move(done)});
    startLookup(address);
    QTimer::singleShot(timeoutMs, this, [this, address, id] {
        auto it = m_waiting.find(address);
        if (it == m_waiting.end())
            return;
        for (qsizetype i = 0; i < it->size(); ++i) {
            if ((*it)[i].id != id)
                continue;
            const Waiter w = (*it)[i];
            it->removeAt(i);
            if (it->isEmpty())
                m_waiting.erase(it);
            if (w.context)
                w.done(); // goes on without the name; the look-up still fills the cache
            return;
        }
    });
}

void HostNameCache::startLookup(const QString& address)
{
    if (m_inFlight.contains(address))
        return;
    if (QHostAddress(address).isNull()) {
        m_names.insert(address, Entry{QStringLiteral("Unknown"), m_clock.elapsed()});
        return;
    }
    // A slot by name rather than a functor: Qt 6.4 loses a functor whose
    // context went away before the answer came, and a server that stops
    // lets go of its cache at once.
    const int id = QHostInfo::lookupHost(address, this, SLOT(lookedUp(QHostInfo)));
    m_inFlight.insert(address);
    m_lookups.insert(id, address);
}

void HostNameCache::lookedUp(const QHostInfo& info)
{
    const QString address = m_lookups.take(info.lookupId());
    if (address.isNull())
        return;
    m_inFlight.remove(address);
    QString name = info.hostName();
    // Without an answer the resolver hands back the address itself.
    if (info.error() != QHostInfo::NoError || name.isEmpty() || name == address)
        name = QStringLiteral("Unknown");
    if (m_names.size() >= kMaxEntries)
        m_names.clear();
    m_names.insert(address, Entry{name, m_clock.elapsed()});
    const QList<Waiter> waiters = m_waiting.take(address);
    for (const Waiter& w : waiters) {
        if (w.context)
            w.done();
    }
}

} // namespace servlane
