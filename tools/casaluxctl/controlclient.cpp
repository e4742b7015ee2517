#include "controlclient.h"

#include "control/controlsocketpath.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalSocket>
#include <chrono>
#include <qcoro/qcorolocalsocket.h>

namespace casalux {

QCoro::Task<ControlClient::Result> ControlClient::ask(QString path,
                                                      ControlProtocol::Request request)
{
    using Reach = Result::Reach;
    if (!QFileInfo::exists(path))
        co_return Result{Reach::NoServer, {}, {}};
    // Where another user could have put the socket, it is not ours to trust;
    // no program of ours serves there either.
    if (const QString unsafe = ControlSocketPath::unsafe(path); !unsafe.isEmpty())
        co_return Result{
            Reach::NoServer, {}, QStringLiteral("control socket not used: %1").arg(unsafe)};
    QLocalSocket socket;
    // A local connect is settled at once (refused, missing, or made), but
    // for a server whose backlog is full.
    socket.connectToServer(path);
    bool connected = socket.state() == QLocalSocket::ConnectedState;
    if (!connected && socket.state() == QLocalSocket::ConnectingState)
        connected = co_await qCoro(socket).waitForConnected(connectTimeoutMs);
    if (!connected) {
        // A file left by a program that died.
        if (socket.error() == QLocalSocket::ConnectionRefusedError ||
            socket.error() == QLocalSocket::ServerNotFoundError)
            co_return Result{Reach::NoServer, {}, {}};
        QString why = socket.errorString();
        if (socket.error() == QLocalSocket::SocketAccessError)
            why += QStringLiteral(" (is this user in group casalux?)");
        co_return Result{Reach::Failed, {}, QStringLiteral("cannot use %1: %2").arg(path, why)};
    }
    socket.write(ControlProtocol::encode(request));
    // The program answers with one line and closes; a program that ends
    // meanwhile closes too, without the line.
    if (socket.state() != QLocalSocket::UnconnectedState)
        co_await qCoro(socket).waitForDisconnected(answerTimeoutMs);
    // No cap of its own: an answer comes only from a program serving a
    // socket checked above, and "events" grows with the event list.
    const QByteArray line = socket.readLine();
    if (socket.state() != QLocalSocket::UnconnectedState && !line.endsWith('\n'))
        co_return Result{Reach::Failed,
                         {},
                         QStringLiteral("the program serving %1 did not answer in time").arg(path)};
    const QJsonDocument answer = QJsonDocument::fromJson(line);
    if (!answer.isObject())
        co_return Result{Reach::Failed,
                         {},
                         QStringLiteral("the program serving %1 ended without an answer: the "
                                        "command may not have been carried out")
                             .arg(path)};
    co_return Result{Reach::Answered, answer.object(), {}};
}

} // namespace casalux
