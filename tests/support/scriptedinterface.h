#pragma once

#include "x10/interfacecontrol.h"

#include <QList>

namespace casalux::test {

struct SentCommand {
    QString house;
    QString unit;
    int function = 0;
    double level = 0;
    int arg5 = 0;
    int arg6 = 0;

    // "A3 2 20": house+unit, function code, level; short enough to compare in tests.
    QString text() const;
};

// An interface that records every send and answers open() with codes the
// test queues up (Ready once the queue is empty, unless told otherwise).
class ScriptedInterface : public InterfaceControl {
    Q_OBJECT

public:
    using InterfaceControl::InterfaceControl;

    void queueOpenAnswers(const QList<int>& answers) { m_openAnswers += answers; }
    void setDefaultOpenAnswer(int answer) { m_defaultOpen = answer; }
    // A failed send gives this reason, as a real interface gives its own.
    void setSendResult(bool ok,
                       const QString& why = QStringLiteral("the X10 interface did not answer"))
    {
        m_sendResult = ok;
        m_failure = why;
    }
    // Each send takes this long on the test clock, as a busy line would.
    void setSendSeconds(double seconds) { m_sendSeconds = seconds; }

    QCoro::Task<int> open() override;
    QCoro::Task<bool> send(QString house, QString unit, int function, double level, int arg5,
                           int arg6) override;
    bool close() override;

    // Raises the traffic signal as the interface would for a command seen on the line.
    void injectTraffic(const QString& address, int function, int value = 0);

    QList<SentCommand> sent;
    QList<int> openedPorts;
    int closeCount = 0;
    bool isOpen = false;

private:
    QList<int> m_openAnswers;
    int m_defaultOpen = Ready;
    bool m_sendResult = true;
    QString m_failure;
    double m_sendSeconds = 0;
};

} // namespace casalux::test
