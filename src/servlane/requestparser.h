#pragma once

#include "httprequest.h"
#include "requestlimits.h"

#include <QByteArray>

namespace servlane {

// Turns the bytes received on one connection into a request. It is a pure
// function of the bytes so far: the socket layer calls it again whenever
// more arrive, and it answers "need more", "complete" or "refused with this
// status". Every size is bounded by RequestLimits before anything is kept.
class RequestParser final {
public:
    enum class State { NeedMore, Complete, Rejected };

    struct Result {
        State state = State::NeedMore;
        // Status to answer with when rejected. `refusal` is set for answers
        // sent with their real status line (limits, malformed input); a POST
        // without length is answered like any other error page.
        int status = 0;
        bool refusal = true;
        bool headComplete = false;
        qsizetype consumed = 0; // bytes the complete request used, head and body
        // The head is in, and its client waits for a "100 Continue" before
        // it sends the body (Expect: 100-continue).
        bool expectsContinue = false;

        HttpRequest request;
    };

    static Result parse(const QByteArray& data, const RequestLimits& limits);

    // True when the request line carries a raw control byte or a
    // percent-encoded one (%00..%1F, %7F).
    static bool hasControlCharacters(const QByteArray& requestLine);
    // Cuts the request target from the request line: from the fifth
    // character up to the first space after it, trimmed; empty without one.
    static QString requestTarget(const QString& requestLine);
    // Path part of a target, the host of an absolute URL dropped; empty when
    // the target holds no "/".
    static QString remainingPath(const QString& target);
};

} // namespace servlane
