#pragma once

#include <QObject>
#include <QTimer>
#include <qcoro/qcorotask.h>

namespace casalux {

class InterfaceControl;

// Looks for a lost interface again: every few seconds it opens the same port
// once more, until the interface answers (the control then reports it found)
// or the program lets go of the port. Nothing else changes meanwhile: the
// port number, and with it a /dev/serial/by-id path set for it, stay as they
// were, so an adapter that comes back under the same name is found again.
class InterfaceReconnector final : public QObject {
    Q_OBJECT

public:
    static constexpr int retrySeconds = 5;

    explicit InterfaceReconnector(InterfaceControl& control, QObject* parent = nullptr);

    // The program lets go of the port for good (hand-over, exit): no attempt
    // is made from now on, and one under way does not try again.
    void stop();

    bool looking() const { return m_timer.isActive() || m_trying; }
    int attempts() const { return m_attempts; }

private:
    void start();
    QCoro::Task<> tryAgain();

    InterfaceControl& m_control;
    QTimer m_timer;
    bool m_stopped = false;
    bool m_trying = false;
    int m_attempts = 0;
};

} // namespace casalux
