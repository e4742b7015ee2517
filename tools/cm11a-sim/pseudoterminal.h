#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <memory>

namespace casalux::sim {

// The simulator's end of a pseudo-terminal. The driver opens the slave path
// as if it were a serial device. We keep a slave descriptor of our own open
// for our whole life, so the master never reads EIO when the driver closes
// its end between sessions.
class PseudoTerminal final : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    ~PseudoTerminal() override;

    // Returns an error text, empty on success.
    QString open();
    QString slavePath() const { return m_slavePath; }
    void write(const QByteArray& bytes);

Q_SIGNALS:
    void received(const QByteArray& bytes);

private:
    void onReadable();

    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace casalux::sim
