#pragma once

#include <QObject>

class QSocketNotifier;

namespace casalux {

// Turns SIGTERM and SIGINT into a Qt signal on the event loop. The handler
// itself only writes the signal number to a socket pair; no Qt call is ever
// made inside it.
class UnixSignalWatcher final : public QObject {
    Q_OBJECT

public:
    explicit UnixSignalWatcher(QObject* parent = nullptr);
    ~UnixSignalWatcher() override;

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace casalux
