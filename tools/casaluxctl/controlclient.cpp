#include "controlclient.h"

#include "control/controlsocketpath.h"
#include "platform/clock.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <sys/socket.h>
#include <qcoro/qcorolocalsocket.h>
#include <qcoro/qcorotimer.h>

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
    // Said straight to the socket: a program that refuses at once (every
    // place taken) may have answered and closed before this is written. Its
    // answer is still there to read then, where a failed write through the
    // socket object would drop the connection, answer and all.
    const QByteArray said = ControlProtocol::encode(request);
    const ssize_t sent =
        ::send(int(socket.socketDescriptor()), said.constData(), size_t(said.size()), MSG_NOSIGNAL);
    if (sent < 0 && errno != EPIPE && errno != ECONNRESET)
        socket.write(said);
    else if (sent >= 0 && sent < said.size())
        socket.write(said.mid(sent));
    // The program answers with one line and closes; a program that ends
    // meanwhile closes too, without the line. While the command waits its
    // turn the program says so every few seconds, and the wait goes on: the
    // time-out counts from the last word heard. (No cap on a line's size:
    // an answer comes only from a program serving a socket checked above,
    // and "events" grows with the event list.)
    // Everything that came is taken into `heard` before each wait, so the
    // wait is for news: more data, the close, or the time-out.
    QTimer waker;
    waker.setSingleShot(true);
    bool stirred = false;
    const auto stir = [&waker, &stirred] {
        stirred = true;
        waker.start(0);
    };
    QObject::connect(&socket, &QLocalSocket::readyRead, &waker, stir);
    QObject::connect(&socket, &QLocalSocket::disconnected, &waker, stir);
    QByteArray heard;
    QByteArray line;
    for (;;) {
        heard += socket.readAll();
        qsizetype end = -1;
        while (line.isEmpty() && (end = heard.indexOf('\n')) >= 0) {
            line = heard.left(end + 1);
            heard.remove(0, end + 1);
            if (ControlProtocol::isQueuedNotice(line))
                line.clear();
        }
        if (!line.isEmpty() || socket.state() == QLocalSocket::UnconnectedState)
            break;
        stirred = false;
        waker.start(Clock::instance().interval(answerTimeoutMs));
        co_await qCoro(waker).waitForTimeout();
        if (!stirred)
            co_return Result{
                Reach::Failed,
                {},
                QStringLiteral("the program serving %1 did not answer in time").arg(path)};
    }
    if (line.isEmpty())
        line = heard; // a last line without its "\n"
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
