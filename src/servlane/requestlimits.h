#pragma once

#include <QtGlobal>

namespace servlane {

// Hard bounds on what one connection may make the server hold or wait for.
//
// Arithmetic behind the defaults: a request head is at most 8 KiB of request
// line plus 8 KiB of header lines, so a slot buffers at most ~16 KiB before
// its body; with the body cap that is ~1 MiB per slot. At the slot ceiling
// of 10 000 that would be ~10 GiB, which is why hosts keep MaxConnections
// small (the default is 2) and why a head must arrive within a total
// deadline instead of an idle timer that each trickled byte resets.
struct RequestLimits {
    qsizetype maxRequestLine = 8 * 1024; // longer: 414
    qsizetype maxHeaderBlock = 8 * 1024; // header lines after the request line; longer: 431
    int maxHeaderCount = 64;             // more lines: 431
    qsizetype maxBody = 1024 * 1024;     // announced POST length above this: 413
    int headTimeoutMs = 10'000;          // whole head, from accept
    int bodyTimeoutMs = 30'000;          // head and body, from accept
    int hostAnswerTimeoutMs = 60'000;    // trapped request left unanswered: 503
    int sendTimeoutMs = 120'000;         // a client that stops reading its response
    int lingerMs = 2'000;                // wait for the client's close after our answer
    // When every slot is taken, a connection still waiting for its head after
    // this long is dropped in favour of a new one, so idle sockets cannot
    // starve clients that talk.
    int evictStalledAfterMs = 1'000;
    // What a CGI program or exec tag may write before it is stopped and its
    // output cut there.
    qint64 maxCgiOutput = 8 * 1024 * 1024;
    // How long a request waits for the reverse look-up of REMOTE_HOST before
    // it goes on with "Unknown".
    int hostLookupTimeoutMs = 2'000;
};

} // namespace servlane
