#pragma once

#include "home/devicestatus.h"

#include <QLocalServer>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <functional>
#include <qcoro/qcorotask.h>

class QLocalSocket;

namespace casalux {

class InterfaceControl;
class OutsideCommands;
class SettingsStore;

// Serves the control socket for the command line while this program holds
// the interface: one JSON request line per connection, one JSON answer
// line. Device commands go through the program's OutsideCommands, so they
// take their turn with the hub's and are recorded as a click would be.
//
// Bounded against any client: a request line of at most
// ControlProtocol::maxRequest bytes, arriving within a few seconds of
// the connection; at most maxClients connections at once (a newcomer
// beyond that closes the longest idle one, one that has not sent its
// request yet, or when every one has, is answered "busy"). Anything else
// is answered with an error and the connection closed.
class ControlServer final : public QObject {
    Q_OBJECT

public:
    struct Setup {
        QString programFolder;
        SettingsStore& settings;
        InterfaceControl& control;
        OutsideCommands& outside;
        QString holder; // "engine" or "desktop"
        // Whether the port is in hand now; none: while serving. (The
        // desktop program keeps serving through a new search of the ports,
        // which may find nothing.)
        std::function<bool()> holding = {};
    };

    static constexpr int defaultRequestTimeoutMs = 5000;
    static constexpr int maxClients = 16;
    // How long a refusal waits for the request it refuses.
    static constexpr int refusalWaitMs = 1000;

    explicit ControlServer(Setup setup, QObject* parent = nullptr);
    ~ControlServer() override;

    // Starts serving at ControlSocketPath::choose(). False (and
    // errorString()) when the place is unsafe, or another program answers
    // there: a live socket is never taken over; a dead one is replaced.
    bool start();
    // Stops taking connections; requests already in hand are answered.
    void stop();
    bool serving() const { return m_server.isListening(); }
    QString path() const { return m_path; }
    QString errorString() const { return m_error; }
    void setRequestTimeout(int ms) { m_requestTimeoutMs = ms; }

private:
    void accept();
    void readRequest(QLocalSocket* socket);
    // An idle client's request that has arrived but not been read yet is
    // read now and goes under way; false when the client has not spoken.
    bool takeArrivedRequest(QLocalSocket* socket);
    // Answers `answer` once the client has said its request, or a moment
    // later, and closes.
    void refuseWhenHeard(QLocalSocket* socket, const QByteArray& answer);
    QCoro::Task<> handle(QPointer<QLocalSocket> socket, QByteArray line);
    QCoro::Task<QByteArray> carryOut(QPointer<QLocalSocket> socket, QByteArray line);
    QJsonObject statusReport() const;
    static void finish(QLocalSocket* socket, const QByteArray& answer);

    Setup m_setup;
    DeviceStatus m_status;
    QLocalServer m_server;
    QString m_path;
    QString m_error;
    QSet<QLocalSocket*> m_open;
    // Connected, request not yet read, the longest waiting first.
    QList<QLocalSocket*> m_idle;
    int m_refusing = 0; // refusals waiting for their request
    int m_requestTimeoutMs = defaultRequestTimeoutMs;
};

} // namespace casalux
