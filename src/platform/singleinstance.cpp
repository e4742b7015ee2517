#include "singleinstance.h"

#include "clock.h"

#include <QLocalSocket>
#include <unistd.h>

namespace casalux {

namespace {
// One line per message: "say", a tab, the phrase in UTF-8.
constexpr QByteArrayView sayPrefix = "say\t";
constexpr qsizetype maxMessage = 4096;
} // namespace

SingleInstance::SingleInstance(QString key, QObject* parent)
    : QObject(parent), m_key(std::move(key))
{
    // Only the user who runs the program may talk to it.
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readClient(socket); });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

SingleInstance::~SingleInstance()
{
    m_server.close();
}

QString SingleInstance::defaultKey()
{
    return QStringLiteral("casalux-%1").arg(::getuid());
}

bool SingleInstance::otherRunning() const
{
    QLocalSocket probe;
    probe.connectToServer(m_key);
    const bool answered = probe.waitForConnected(1000);
    probe.abort();
    return answered;
}

bool SingleInstance::listen()
{
    if (m_server.listen(m_key))
        return true;
    // A socket file left by a copy that crashed: nobody answers on it.
    if (m_server.serverError() == QAbstractSocket::AddressInUseError && !otherRunning()) {
        QLocalServer::removeServer(m_key);
        return m_server.listen(m_key);
    }
    return false;
}

QCoro::Task<bool> SingleInstance::claim()
{
    if (otherRunning()) {
        co_await Clock::instance().sleep(secondChanceSeconds);
        if (otherRunning())
            co_return false;
    }
    // Not listening (no socket folder, say) costs only the --say messages.
    listen();
    co_return true;
}

bool SingleInstance::sendPhrase(const QString& phrase, int timeoutMs) const
{
    QLocalSocket socket;
    socket.connectToServer(m_key);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QByteArray message = sayPrefix.toByteArray() + phrase.simplified().toUtf8() + '\n';
    socket.write(message);
    const bool sent = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    return sent;
}

void SingleInstance::readClient(QLocalSocket* socket)
{
    while (socket->canReadLine()) {
        const QByteArray line = socket->readLine(maxMessage).trimmed();
        if (line.startsWith(sayPrefix))
            Q_EMIT phraseReceived(QString::fromUtf8(line.mid(sayPrefix.size())));
    }
    // A client that never ends its line does not get to fill our memory.
    if (socket->bytesAvailable() > maxMessage)
        socket->abort();
}

} // namespace casalux
