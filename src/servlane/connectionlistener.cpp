#include "connectionlistener.h"

#include <unistd.h>

namespace servlane {

void ConnectionListener::incomingConnection(qintptr descriptor)
{
    // Accepting is paused as soon as the socket listens; one that slipped
    // through is not kept in Qt's pending list, which nobody reads.
    ::close(int(descriptor));
}

} // namespace servlane
