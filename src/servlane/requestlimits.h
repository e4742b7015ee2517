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
    // When every slot is taken and a connection waits for one, a connection
    // that has sent nothing at all for this long gives way to it at once
    // (the one silent longest first); a waiting client whose request bytes
    // have arrived displaces a silent one even sooner. A connection that has
    // sent any byte is never displaced: the head deadline bounds it. Idle
    // sockets therefore cannot keep a talking client out for longer than
    // this grace.
    int silentGraceMs = 150;
    // Connections accepted while every slot is taken wait as bare
    // descriptors, at most this many; beyond it the one waiting longest
    // without a byte is closed, and if all of them have sent their request
    // the listener stops taking more until one gets a slot.
    int maxWaiting = 64;
    // What a CGI program or exec tag may write before it is stopped and its
    // output cut there.
    qint64 maxCgiOutput = 8 * 1024 * 1024;
    // How long a request waits for the reverse look-up of REMOTE_HOST before
    // it goes on with "Unknown".
    int hostLookupTimeoutMs = 2'000;
};

} // namespace servlane
