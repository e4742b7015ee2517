#include "singleinstance.h"

#include "clock.h"

#include <QDir>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <unistd.h>

namespace casalux {

namespace {
// One line per message: "say", a tab, the phrase in UTF-8.
constexpr QByteArrayView sayPrefix = "say\t";
constexpr qsizetype maxMessage = 4096;
Q_LOGGING_CATEGORY(lcInstance, "casalux.instance", QtWarningMsg)
} // namespace

SingleInstance::SingleInstance(QString key, QObject* parent)
    : QObject(parent), m_key(std::move(key)), m_lock(lockPath(m_key))
{
    // A copy that died keeps no claim: its lock is taken over at once when
    // its process is gone, and after a minute in any case.
    m_lock.setStaleLockTime(60 * 1000);
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

QString SingleInstance::lockPath(const QString& key)
{
    if (key.contains(QLatin1Char('/')))
        return key + QStringLiteral(".lock");
    // The user's own runtime folder: in the shared temporary folder another
    // user could make the file first and keep the program from starting.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + QLatin1Char('/') + key + QStringLiteral(".lock");
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

bool SingleInstance::tryClaim()
{
    if (m_lock.tryLock(0)) {
        // Ours: a socket file still there is a dead copy's, unless a copy
        // without the lock answers on it.
        if (listen())
            return true;
        if (otherRunning()) {
            m_lock.unlock();
            return false;
        }
        // The lock keeps other copies out; not listening costs only the
        // --say messages.
        qCWarning(lcInstance, "cannot listen on %s: %s", qPrintable(m_key),
                  qPrintable(m_server.errorString()));
        return true;
    }
    if (m_lock.error() == QLockFile::LockFailedError)
        return false; // another copy holds it
    // No lock file can be made here: the socket alone decides.
    return !otherRunning() && listen();
}

QCoro::Task<bool> SingleInstance::claim()
{
    if (tryClaim())
        co_return true;
    co_await Clock::instance().sleep(secondChanceSeconds);
    co_return tryClaim();
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
