#include "connectiontable.h"

namespace servlane {

ClientConnection* ConnectionTable::add(int fd, const QString& address)
{
    const quint64 id = ++m_lastId;
    auto connection = std::make_unique<ClientConnection>(id, fd, address);
    ClientConnection* raw = connection.get();
    m_connections.emplace(id, std::move(connection));
    ++m_perAddress[address];
    return raw;
}

ClientConnection* ConnectionTable::find(quint64 id) const
{
    const auto it = m_connections.find(id);
    return it == m_connections.end() ? nullptr : it->second.get();
}

void ConnectionTable::remove(quint64 id)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    const QString address = it->second->address();
    if (--m_perAddress[address] <= 0)
        m_perAddress.remove(address);
    m_connections.erase(it);
}

void ConnectionTable::clear()
{
    m_connections.clear();
    m_perAddress.clear();
}

std::vector<quint64> ConnectionTable::ids() const
{
    std::vector<quint64> out;
    out.reserve(m_connections.size());
    for (const auto& [id, c] : m_connections)
        out.push_back(id);
    return out;
}

ClientConnection* ConnectionTable::victim(const QString* address) const
{
    using Phase = ClientConnection::Phase;
    ClientConnection* reader = nullptr;
    ClientConnection* lingerer = nullptr;
    ClientConnection* sender = nullptr;
    for (const auto& [id, owned] : m_connections) {
        ClientConnection* c = owned.get();
        if (address && c->address() != *address)
            continue;
        switch (c->phase()) {
        case Phase::Reading:
            if (!reader || c->age() > reader->age())
                reader = c;
            break;
        case Phase::Lingering:
            if (!lingerer || c->inPhase() > lingerer->inPhase())
                lingerer = c;
            break;
        case Phase::Sending: {
            // Progress per millisecond of the window, compared without
            // dividing: a * tb < b * ta.
            const auto slower = [](const ClientConnection* a, const ClientConnection* b) {
                return a->windowProgress() * (b->windowAge() + 1) <
                       b->windowProgress() * (a->windowAge() + 1);
            };
            if (!sender || slower(c, sender))
                sender = c;
            break;
        }
        case Phase::Queued:
        case Phase::InSlot:
            break;
        }
    }
    return reader ? reader : lingerer ? lingerer : sender;
}

} // namespace servlane
