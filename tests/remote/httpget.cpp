#include "httpget.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <qcoro/qcoroabstractsocket.h>
#include <qcoro/qcoroiodevice.h>

namespace casalux::test {

QCoro::Task<QByteArray> httpGet(quint16 port, QString target, QString authorization, int timeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!co_await qCoro(socket).waitForConnected(timeoutMs))
        co_return QByteArray();
    QByteArray request = "GET " + target.toLatin1() + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
    if (!authorization.isEmpty())
        request += "Authorization: Basic " + authorization.toLatin1().toBase64() + "\r\n";
    request += "\r\n";
    socket.write(request);
    QByteArray answer;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        answer += socket.readAll();
        if (socket.state() != QAbstractSocket::ConnectedState)
            break;
        co_await qCoro(socket).waitForReadyRead(100);
    }
    answer += socket.readAll();
    co_return answer;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace casalux::test
