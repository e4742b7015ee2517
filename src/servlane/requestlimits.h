#pragma once

#include <QtGlobal>

namespace servlane {

// Hard bounds on what one connection may make the server hold or wait for.
//
// Connections are read in the socket layer, outside the host's slots: a
// connection takes a slot (MaxConnections - 1 of them) only once its whole
// request has arrived, and gives it back the moment its answer is handed
// over; sending happens outside the slot too. So slow or idle clients can
// hold connections, never slots.
//
// Arithmetic behind the defaults: a request head is at most 8 KiB of request
// line plus 8 KiB of header lines, so a connection buffers at most ~16 KiB
// before its body, ~1 MiB with the body cap. 1024 connections trickling
// heads therefore hold at most ~16 MiB; bodies are bounded by the body
// deadline. Files above the cache's entry size are sent from disk with
// sendfile, so a slow download holds no file bytes in memory.
struct RequestLimits {
    qsizetype maxRequestLine = 8 * 1024; // longer: 414
    qsizetype maxHeaderBlock = 8 * 1024; // header lines after the request line; longer: 431
    int maxHeaderCount = 64;             // more lines: 431
    qsizetype maxBody = 1024 * 1024;     // announced POST length above this: 413
    int headTimeoutMs = 10'000;          // whole head, from accept
    int bodyTimeoutMs = 30'000;          // head and body, from accept
    int hostAnswerTimeoutMs = 60'000;    // trapped request left unanswered: 503
    // After the 503 (or after its client left) the slot stays reserved for
    // the answer the host still owes, so that answer cannot reach the next
    // request in the slot; a host that never answers gets it back after this.
    int owedAnswerTimeoutMs = 10 * 60'000;
    int lingerMs = 2'000; // wait for the client's close after our answer

    // Open client connections in all, whatever they are doing. When full, a
    // new connection makes room by closing the one that has been reading
    // its request longest (else one that only lingers, else the slowest
    // reader of an answer); connections with a complete request are never
    // closed for room, and if only those are left the newcomer is closed.
    // The process's descriptor limit is raised to fit when it is lower.
    int maxConnections = 1024;
    // Open connections from one client address, made room for in the same
    // way but only among that address's own connections: a flood from one
    // address churns its own connections and leaves the rest of the table
    // to everyone else. 256 leaves four such addresses room in the default
    // table and is far above what browsers open (6 to 8 per host), so a
    // household behind one NAT address stays well inside it.
    int maxConnectionsPerAddress = 256;

    // A client must read its answer at this average rate, measured over
    // consecutive windows once the grace has passed; a window with less
    // progress (none at all included) closes the connection with a reset.
    qint64 minSendBytesPerSecond = 1024;
    int sendGraceMs = 10'000;
    int sendRateWindowMs = 10'000;

    // What a CGI program or exec tag may write before it is stopped and its
    // output cut there.
    qint64 maxCgiOutput = 8 * 1024 * 1024;
    // How long a request waits for the reverse look-up of REMOTE_HOST before
    // it goes on with "Unknown".
    int hostLookupTimeoutMs = 2'000;
};

} // namespace servlane
