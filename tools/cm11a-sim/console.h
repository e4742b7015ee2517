#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <memory>

namespace casalux::sim {

class SimInterface;

// Standard input and output of the simulator: reads command lines and
// carries them out on the interface; prints each line whole and flushed,
// so a program reading the pipe sees it at once.
class Console final : public QObject {
    Q_OBJECT

public:
    explicit Console(SimInterface& sim, QObject* parent = nullptr);

    void startReading();
    static void print(const QString& line);
    static void printError(const QString& line);
    void run(const QString& line);

Q_SIGNALS:
    void quitRequested();

private:
    void onReadable();

    SimInterface& m_sim;
    QByteArray m_partial;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace casalux::sim
