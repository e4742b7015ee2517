#pragma once

#include "clientconnection.h"

#include <QHash>
#include <QString>
#include <memory>
#include <unordered_map>
#include <vector>

namespace servlane {

// Every open client connection by id, with how many each client address
// holds. Ids grow with every accept and are never reused, so an event or a
// queue entry for a connection that has gone finds nothing.
class ConnectionTable final {
public:
    ClientConnection* add(int fd, const QString& address);
    ClientConnection* find(quint64 id) const;
    // Forgets the connection and closes its descriptor.
    void remove(quint64 id);
    void clear();

    int size() const { return int(m_connections.size()); }
    int countFor(const QString& address) const { return m_perAddress.value(address); }
    std::vector<quint64> ids() const;

    // The connection to close to make room for a new one, of `address` or,
    // when it is null, of anyone: the one that has been reading its request
    // longest; else one whose answer is out and that only lingers; else the
    // sender that has moved the fewest bytes in its current rate window.
    // Connections with a complete request (queued or in a slot) never give
    // way. Null when none may.
    ClientConnection* victim(const QString* address) const;

private:
    std::unordered_map<quint64, std::unique_ptr<ClientConnection>> m_connections;
    QHash<QString, int> m_perAddress;
    quint64 m_lastId = 0;
};

} // namespace servlane
