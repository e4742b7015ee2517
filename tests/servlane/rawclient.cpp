#include "rawclient.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>

int RawClient::Reply::status() const
{
    if (!bytes.startsWith("HTTP/"))
        return 0;
    const QList<QByteArray> parts = bytes.left(bytes.indexOf("\r\n")).split(' ');
    return parts.size() > 1 ? parts[1].toInt() : 0;
}

QByteArray RawClient::Reply::header() const
{
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    return end < 0 ? bytes : bytes.left(end + 2);
}

QByteArray RawClient::Reply::body() const
{
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : bytes.mid(end + 4);
}

QByteArray RawClient::Reply::headerValue(const QByteArray& name) const
{
    for (const QByteArray& line : header().split('\n')) {
        const QByteArray l = line.trimmed();
        if (l.toLower().startsWith(name.toLower() + ':'))
            return l.mid(name.size() + 1).trimmed();
    }
    return {};
}

RawClient::Reply RawClient::exchange(quint16 port, const QList<QByteArray>& chunks, int gapMs,
                                     int timeoutMs)
{
    Reply reply;
    QTcpSocket socket;
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket,
                     [&] { reply.bytes += socket.readAll(); });
    QObject::connect(&socket, &QTcpSocket::disconnected, &socket,
                     [&] { reply.closedByServer = true; });
    bool refused = false;
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &socket, [&] { refused = true; });
    socket.connectToHost(QHostAddress::LocalHost, port);
    reply.connected = QTest::qWaitFor(
        [&] { return refused || socket.state() == QAbstractSocket::ConnectedState; }, timeoutMs);
    reply.connected = reply.connected && !refused;
    if (!reply.connected)
        return reply;
    for (qsizetype i = 0; i < chunks.size(); ++i) {
        if (i > 0 && gapMs > 0)
            QTest::qWait(gapMs);
        socket.write(chunks[i]);
        socket.flush();
    }
    reply.closedByServer = QTest::qWaitFor([&] { return reply.closedByServer; }, timeoutMs);
    reply.bytes += socket.readAll();
    return reply;
}

RawClient::Reply RawClient::get(quint16 port, const QByteArray& target,
                                const QByteArray& extraHeaders)
{
    return exchange(port, {"GET " + target + " HTTP/1.0\r\nHost: box\r\n" + extraHeaders + "\r\n"});
}
