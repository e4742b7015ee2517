#include "httpget.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <qcoro/qcoroabstractsocket.h>
#include <qcoro/qcoroiodevice.h>

namespace casalux::test {

QCoro::Task<QByteArray> httpGet(quint16 port, QString target, QString authorization, int timeoutMs)
{
    QStringList headers;
    if (!authorization.isEmpty())
        headers << QStringLiteral("Authorization: Basic ") +
                       QString::fromLatin1(authorization.toLatin1().toBase64());
    co_return co_await httpGetWith(port, std::move(target), std::move(headers), timeoutMs);
}

QCoro::Task<QByteArray> httpGetWith(quint16 port, QString target, QStringList headers,
                                    int timeoutMs)
{
    co_return co_await httpRequest(port, "GET", std::move(target), std::move(headers), timeoutMs);
}

QCoro::Task<QByteArray> httpRequest(quint16 port, QByteArray method, QString target,
                                    QStringList headers, int timeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!co_await qCoro(socket).waitForConnected(timeoutMs))
        co_return QByteArray();
    QByteArray request = method + ' ' + target.toLatin1() + " HTTP/1.0\r\n";
    if (!std::any_of(headers.cbegin(), headers.cend(), [](const QString& line) {
            return line.startsWith(QLatin1String("Host:"), Qt::CaseInsensitive);
        }))
        request += "Host: 127.0.0.1\r\n";
    for (const QString& line : std::as_const(headers))
        request += line.toLatin1() + "\r\n";
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
