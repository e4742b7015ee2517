#pragma once

#include "httprequest.h"
#include "httpstatus.h"
#include "querystringparser.h"

#include <QElapsedTimer>
#include <QString>

namespace servlane {

// Where a host slot stands. A slot holds one complete request from the
// moment it is handed up until its answer is handed to the connection;
// sending happens outside the slot.
enum class SlotState {
    Closed,   // free
    Handling, // request complete, answer being produced
    Trapped,  // handed to the host, waiting for its answer
    // The host still owes an answer that has no one to go to: the client
    // left, or it already got a 503 because the host was late. The slot is
    // kept so the late answer finds it (and frees it) instead of reaching
    // the next request in this slot.
    Abandoned,
};

// Everything the server keeps for one host slot (index 2..N).
struct ConnectionSlot {
    int index = 0;
    // Which request holds the slot: unique, grows with every request handed
    // to a slot, never reused (0: none).
    quint64 generation = 0;
    quint64 connection = 0; // id of the client connection, 0 once it has gone
    SlotState state = SlotState::Closed;
    bool answerOverdue = false; // the host's deadline passed: its client gets (or got) a 503
    QElapsedTimer accepted;     // since the connection was taken
    QElapsedTimer stateSince;   // since the last state change
    QString clientAddress;

    HttpRequest request;
    QueryStringParser query;

    // The host's answer (TrapFileDataEX) and the function tag answer.
    HttpStatus responseStatus;
    QString extraHeader;
    QString functionReturn;
};

} // namespace servlane
