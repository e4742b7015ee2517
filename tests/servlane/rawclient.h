#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A test client that speaks raw bytes to a server running on the same event
// loop. It never blocks: every wait spins the loop with a deadline.
class RawClient final {
public:
    struct Reply {
        QByteArray bytes;
        bool connected = false; // the connection was accepted at all
        bool closedByServer = false;
        int status() const;        // code of the status line, 0 if none
        QByteArray header() const; // up to the blank line
        QByteArray body() const;   // after the blank line
        QByteArray headerValue(const QByteArray& name) const;
    };

    // Sends the chunks with `gapMs` between them, then reads until the
    // server closes or `timeoutMs` passes.
    static Reply exchange(quint16 port, const QList<QByteArray>& chunks, int gapMs = 0,
                          int timeoutMs = 5000);
    static Reply get(quint16 port, const QByteArray& target, const QByteArray& extraHeaders = {});
};
