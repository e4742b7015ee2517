#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <functional>

class QHostInfo;

namespace servlane {

// Host names of client addresses for REMOTE_HOST, found by reverse look-up.
// A look-up runs in the background and is waited for at most a bounded
// time, so a slow or dead resolver delays one request a little and never
// stalls the server. Answers, failures included ("Unknown"), are kept for a
// few minutes.
class HostNameCache final : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 kKeepMs = 5 * 60 * 1000;
    static constexpr qsizetype kMaxEntries = 1024;

    explicit HostNameCache(QObject* parent = nullptr);
    ~HostNameCache() override;

    // The name if known, else a null string.
    QString cached(const QString& address) const;
    // Calls `done` (on `context`'s thread, while `context` lives) once the
    // name is known or `timeoutMs` has passed, whichever comes first.
    void resolve(const QString& address, int timeoutMs, QObject* context,
                 std::function<void()> done);
    // Starts a look-up for later requests without waiting for it.
    void prefetch(const QString& address);

private:
    struct Entry {
        QString name;
        qint64 at = 0;
    };
    struct Waiter {
        quint64 id = 0;
        QPointer<QObject> context;
        std::function<void()> done;
    };
    Q_SLOT void lookedUp(const QHostInfo& info);
    void startLookup(const QString& address);

    QHash<QString, Entry> m_names;
    QHash<QString, QList<Waiter>> m_waiting; // address -> requests waiting for it
    QSet<QString> m_inFlight;                // addresses being looked up
    QHash<int, QString> m_lookups;           // look-up id -> address
    quint64 m_nextId = 0;
    QElapsedTimer m_clock;
};

} // namespace servlane
