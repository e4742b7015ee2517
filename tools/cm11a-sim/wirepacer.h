#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTimer>

namespace casalux::sim {

// Holds bytes for as long as they would take on a serial wire (10 bits a
// byte at the given baud rate) before passing them on, so that round trips
// against the simulator cost what they would against a real interface's
// serial link. One pacer per direction; baud 0 passes bytes straight on.
class WirePacer final : public QObject {
    Q_OBJECT

public:
    explicit WirePacer(int baud, QObject* parent = nullptr);

    void push(const QByteArray& bytes);

Q_SIGNALS:
    void delivered(const QByteArray& bytes);

private:
    void startNext();
    void finish();

    int m_baud;
    QList<QByteArray> m_queue;
    QByteArray m_inFlight;
    QTimer m_timer;
};

} // namespace casalux::sim
