#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <qcoro/qcorotask.h>

namespace casalux {

// One running copy of the desktop program per user. The running copy holds
// a lock file and listens on a local socket; a later copy finds it there,
// and may hand it a message (a phrase to carry out, for `casalux --say`)
// instead of starting. The lock makes looking and listening one step, so
// two copies started at the same moment cannot both find the name free.
class SingleInstance final : public QObject {
    Q_OBJECT

public:
    static constexpr int secondChanceSeconds = 5;

    // `key` names the socket; by default one per user.
    explicit SingleInstance(QString key = defaultKey(), QObject* parent = nullptr);
    ~SingleInstance() override;

    static QString defaultKey();

    // Whether another copy answers on the socket now.
    bool otherRunning() const;
    // Start-up: when another copy runs, waits five seconds and looks again.
    // True when this copy may go on: it holds the lock (or, where no lock
    // file can be made, really listens) and listens for later copies.
    QCoro::Task<bool> claim();
    bool claimed() const { return m_server.isListening(); }
    // The lock file, in the user's runtime folder.
    static QString lockPath(const QString& key);

    // Sends a phrase to the running copy. False when none answered.
    bool sendPhrase(const QString& phrase, int timeoutMs = 2000) const;

Q_SIGNALS:
    void phraseReceived(const QString& phrase);

private:
    bool listen();
    bool tryClaim();
    void readClient(class QLocalSocket* socket);

    QString m_key;
    QLockFile m_lock;
    QLocalServer m_server;
};

} // namespace casalux
