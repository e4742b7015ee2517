#pragma once

#include "httprequest.h"
#include "querystringparser.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

class QTcpSocket;

namespace servlane {

// Where a connection slot stands. A slot serves one request and one
// response, then it is closed and made fresh for the next connection.
enum class SlotState {
    Closed,    // free, no peer
    Receiving, // connected, request still arriving
    Handling,  // request complete, response being produced
    Trapped,   // handed to the host, waiting for its answer
    Abandoned, // the client left while the host still owes an answer
    Sending,   // response queued, not yet all handed to the kernel
    Closing,   // response sent and our side shut; waiting for the client to close
};

// Everything the server keeps for one connection slot (index 2..N).
struct ConnectionSlot {
    int index = 0;
    quint64 generation = 0; // which connection holds the slot; grows with every accept
    QTcpSocket* socket = nullptr; // owned by the socket layer
    SlotState state = SlotState::Closed;
    QByteArray inbox; // bytes of the request so far, bounded by the limits
    bool headComplete = false;
    // The client may still be sending (a refused request, bytes beyond the
    // request): half-close and drain before closing, so it reads the answer.
    bool lingerOnClose = false;
    QElapsedTimer accepted;   // since the connection was taken
    QElapsedTimer stateSince; // since the last state change
    QString clientAddress;

    HttpRequest request;
    QueryStringParser query;

    // The host's answer (TrapFileDataEX) and the function tag answer.
    QString responseStatus;
    QString extraHeader;
    QString functionReturn;
};

} // namespace servlane
