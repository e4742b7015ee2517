#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <qcoro/qcorotask.h>

namespace casalux::test {

// One HTTP/1.0 request to 127.0.0.1:port and the whole answer, read until
// the server closes the connection (or `timeoutMs` passes). Runs on the
// event loop, so a server in the same thread keeps working meanwhile.
QCoro::Task<QByteArray> httpGet(quint16 port, QString target, QString authorization = {},
                                int timeoutMs = 10000);

// The same request with more header lines ("Name: value"); a Host line
// among them takes the place of the default one.
QCoro::Task<QByteArray> httpGetWith(quint16 port, QString target, QStringList headers,
                                    int timeoutMs = 10000);

// The same with another method (HEAD, POST without a body).
QCoro::Task<QByteArray> httpRequest(quint16 port, QByteArray method, QString target,
                                    QStringList headers = {}, int timeoutMs = 10000);

// A TCP port nothing listens on right now.
quint16 freePort();

} // namespace casalux::test
