#include "controlserver.h"

#include "controlprotocol.h"
#include "controlreport.h"
#include "controlsocketpath.h"
#include "switchrequest.h"
#include "home/settingsstore.h"
#include "platform/clock.h"
#include "x10/interfacecontrol.h"
#include "x10/interfacefinder.h"
#include "x10/outsidecommands.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QTimer>
#include <sys/stat.h>

namespace casalux {

namespace {
Q_LOGGING_CATEGORY(lcControl, "casalux.control", QtWarningMsg)

// One folder, whichever way it is written (links, "..", a trailing "/").
bool sameFolder(const QString& a, const QString& b)
{
    const auto canonical = [](const QString& path) {
        const QFileInfo info(path);
        const QString real = info.canonicalFilePath();
        return real.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : real;
    };
    return canonical(a) == canonical(b);
}

// Whether something answers on the socket now (a live program).
bool answering(const QString& path)
{
    QLocalSocket probe;
    probe.connectToServer(path);
    const bool answered = probe.waitForConnected(1000);
    probe.abort();
    return answered;
}
} // namespace

ControlServer::ControlServer(Setup setup, QObject* parent)
    : QObject(parent), m_setup(std::move(setup)), m_status(m_setup.settings)
{
    connect(&m_server, &QLocalServer::newConnection, this, &ControlServer::accept);
}

ControlServer::~ControlServer()
{
    m_server.close();
}

bool ControlServer::start()
{
    if (m_server.isListening())
        return true;
    const ControlSocketPath::Choice choice = ControlSocketPath::choose(m_setup.programFolder);
    m_path = choice.path;
    m_error.clear();
    if (!choice.shared && !ControlSocketPath::prepareFolder(m_path, &m_error))
        return false;
    if (const QString unsafe = ControlSocketPath::unsafe(m_path); !unsafe.isEmpty()) {
        m_error = QStringLiteral("not serving the control socket: %1").arg(unsafe);
        qCWarning(lcControl).noquote() << m_error;
        return false;
    }
    m_server.setSocketOptions(choice.shared
                                  ? QLocalServer::UserAccessOption | QLocalServer::GroupAccessOption
                                  : QLocalServer::UserAccessOption);
    if (QFile::exists(m_path)) {
        // Left by a program that died: nobody answers on it.
        if (answering(m_path)) {
            m_error = QStringLiteral("another program serves %1").arg(m_path);
            qCWarning(lcControl).noquote() << m_error;
            return false;
        }
        QLocalServer::removeServer(m_path);
    }
    if (!m_server.listen(m_path)) {
        m_error = QStringLiteral("cannot serve %1: %2").arg(m_path, m_server.errorString());
        qCWarning(lcControl).noquote() << m_error;
        return false;
    }
    // Qt gives a socket made with access options the folder-like modes
    // 0700/0770; read and write are what a socket needs.
    ::chmod(QFile::encodeName(m_path).constData(), choice.shared ? 0660 : 0600);
    return true;
}

void ControlServer::stop()
{
    // close() also removes the socket file.
    m_server.close();
}

void ControlServer::accept()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        while (m_open.size() >= maxClients && !m_idle.isEmpty()) {
            // Connections that have said nothing yet make room for a new
            // one, the longest silent first: a few idle clients must not
            // lock everyone out until their deadlines. One whose request
            // has come but not been read yet has spoken, and keeps its place.
            QLocalSocket* oldest = m_idle.first();
            if (takeArrivedRequest(oldest))
                continue;
            m_idle.removeFirst();
            m_open.remove(oldest);
            if (auto* deadline = oldest->findChild<QTimer*>())
                deadline->stop();
            finish(oldest, ControlProtocol::failure(
                               ControlProtocol::timedOut,
                               QStringLiteral("no request in time (closed to make room)")));
            break;
        }
        if (m_open.size() >= maxClients) {
            // Every place holds a command under way: said, not just closed.
            refuseWhenHeard(socket, ControlProtocol::failure(
                                        ControlProtocol::busy,
                                        QStringLiteral("%1 requests are under way: try again shortly")
                                            .arg(maxClients)));
            continue;
        }
        m_open.insert(socket);
        m_idle.append(socket);
        connect(socket, &QObject::destroyed, this, [this, socket] {
            m_open.remove(socket);
            m_idle.removeOne(socket);
        });
        // The whole request must come within the deadline; a client that
        // connects and says nothing is let go.
        auto* deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, socket, [this, socket] {
            m_idle.removeOne(socket);
            finish(socket, ControlProtocol::failure(ControlProtocol::timedOut,
                                                    QStringLiteral("no request in time")));
        });
        deadline->start(m_requestTimeoutMs);
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket, deadline] {
            if (!deadline->isActive()) {
                socket->readAll(); // answered or under way: the rest is dropped, not kept
                return;
            }
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > ControlProtocol::maxRequest) {
                    deadline->stop();
                    m_idle.removeOne(socket);
                    finish(socket, ControlProtocol::failure(ControlProtocol::tooLong,
                                                            QStringLiteral("request too long")));
                }
                return;
            }
            deadline->stop();
            m_idle.removeOne(socket);
            readRequest(socket);
        });
    }
}

bool ControlServer::takeArrivedRequest(QLocalSocket* socket)
{
    socket->waitForReadyRead(0); // takes in what the client has sent, without waiting
    if (!m_idle.contains(socket))
        return true; // its readyRead took the request just now
    if (!socket->canReadLine())
        return false;
    if (auto* deadline = socket->findChild<QTimer*>())
        deadline->stop();
    m_idle.removeOne(socket);
    readRequest(socket);
    return true;
}

void ControlServer::refuseWhenHeard(QLocalSocket* socket, const QByteArray& answer)
{
    // A client says its request as soon as it connects. Closed before the
    // request comes, or with it unread, the client's end is reset, and a
    // client may lose the answer with it; so the refusal waits a moment for
    // the request and reads it first. Only so many wait: beyond that the
    // refusal is immediate.
    if (m_refusing >= maxClients) {
        finish(socket, answer);
        return;
    }
    ++m_refusing;
    connect(socket, &QObject::destroyed, this, [this] { --m_refusing; });
    auto* wait = new QTimer(socket);
    wait->setSingleShot(true);
    const auto refuse = [socket, wait, answer] {
        socket->readAll();
        if (!wait->isActive())
            return; // answered already
        wait->stop();
        finish(socket, answer);
    };
    connect(wait, &QTimer::timeout, socket, [socket, answer] { finish(socket, answer); });
    connect(socket, &QLocalSocket::readyRead, socket, refuse);
    wait->start(Clock::instance().interval(refusalWaitMs));
    if (socket->bytesAvailable() > 0)
        refuse();
}

void ControlServer::readRequest(QLocalSocket* socket)
{
    // The line is at most maxRequest bytes and its "\n"; a longer one is cut
    // here and so fails to parse.
    const QByteArray line = socket->readLine(ControlProtocol::maxRequest + 2);
    if (!line.endsWith('\n')) {
        finish(socket, ControlProtocol::failure(ControlProtocol::tooLong,
                                                QStringLiteral("request too long")));
        return;
    }
    handle(socket, line);
}

QCoro::Task<> ControlServer::handle(QPointer<QLocalSocket> socket, QByteArray line)
{
    QPointer<ControlServer> self(this);
    const QByteArray answer = co_await carryOut(socket, std::move(line));
    // The client may have gone, or the program may be ending.
    if (self && socket)
        finish(socket, answer);
}

QCoro::Task<QByteArray> ControlServer::carryOut(QPointer<QLocalSocket> socket, QByteArray line)
{
    QString error;
    const auto request = ControlProtocol::parse(line, &error);
    if (!request)
        co_return ControlProtocol::failure(ControlProtocol::usageError, error);
    if (!request->home.isEmpty() && !sameFolder(request->home, m_setup.programFolder))
        co_return ControlProtocol::failure(
            ControlProtocol::otherHome,
            QStringLiteral("the program serving this socket runs the home in %1, not %2")
                .arg(QDir::toNativeSeparators(m_setup.programFolder),
                     QDir::toNativeSeparators(request->home)));
    using Command = ControlProtocol::Command;
    switch (request->command) {
    case Command::Status:
        co_return ControlProtocol::answer(statusReport());
    case Command::Events:
        co_return ControlProtocol::answer(ControlReport::events(m_setup.programFolder));
    default:
        break;
    }
    QPointer<ControlServer> self(this);
    OutsideCommands& outside = m_setup.outside;
    QByteArray failure;
    const auto device = SwitchRequest::find(outside, *request, &failure);
    if (!device)
        co_return failure;
    // The client hears that its command is still to come, so it never gives
    // up on one that will be carried out; one whose client has gone is not.
    QTimer notice;
    if (socket) {
        connect(&notice, &QTimer::timeout, socket.data(),
                [socket] { socket->write(ControlProtocol::queuedNotice()); });
        notice.start(Clock::instance().interval(ControlProtocol::queuedNoticeMs));
        if (outside.busy())
            socket->write(ControlProtocol::queuedNotice());
    }
    // A command that could not start in time is not carried out either: a
    // script's "on" at dusk must not switch the lamp at midnight.
    QElapsedTimer asked;
    asked.start();
    const OutsideCommands::StillWanted stillWanted = [socket, asked] {
        if (!socket || socket->state() != QLocalSocket::ConnectedState)
            return QStringLiteral("the caller has gone");
        if (asked.elapsed() > Clock::instance().interval(ControlProtocol::startDeadlineMs))
            return QStringLiteral("not carried out: it could not start within %1 minutes")
                .arg(ControlProtocol::startDeadlineMs / 60'000);
        return QString();
    };
    const SwitchResult result =
        co_await SwitchRequest::carryOut(outside, *device, *request, stillWanted);
    if (!self)
        co_return QByteArray();
    notice.stop();
    switch (result.outcome()) {
    case SwitchResult::Outcome::Done:
        co_return ControlProtocol::answer({});
    case SwitchResult::Outcome::NotSent:
        co_return ControlProtocol::failure(ControlProtocol::notSent, result.why());
    case SwitchResult::Outcome::Refused:
        break;
    }
    co_return ControlProtocol::failure(ControlProtocol::refused, result.why());
}

QJsonObject ControlServer::statusReport() const
{
    // The other program may have written states before the hand-over.
    m_setup.settings.sync();
    const InterfaceControl& control = m_setup.control;
    if (m_setup.holding && !m_setup.holding())
        return ControlReport::status(m_setup.outside.devices(), m_status,
                                     ControlReport::nobodyHolds(m_setup.settings));
    const ControlReport::Interface face{
        control.isLost() ? QStringLiteral("lost") : QStringLiteral("ready"), control.port(),
        m_setup.holder, control.port() > 0 ? QString() : control.portText()};
    return ControlReport::status(m_setup.outside.devices(), m_status, face);
}

void ControlServer::finish(QLocalSocket* socket, const QByteArray& answer)
{
    socket->write(answer);
    // Sends what is written, then closes; disconnected() frees it.
    socket->disconnectFromServer();
}

} // namespace casalux
