#include "scriptedinterface.h"

#include "platform/clock.h"

namespace casalux::test {

QString SentCommand::text() const
{
    return QStringLiteral("%1%2 %3 %4").arg(house, unit).arg(function).arg(level);
}

QCoro::Task<int> ScriptedInterface::open()
{
    openedPorts.append(port());
    const int answer = m_openAnswers.isEmpty() ? m_defaultOpen : m_openAnswers.takeFirst();
    isOpen = answer == Ready;
    co_return answer;
}

QCoro::Task<bool> ScriptedInterface::send(QString house, QString unit, int function, double level,
                                          int arg5, int arg6)
{
    sent.append({house, unit, function, level, arg5, arg6});
    if (m_sendSeconds > 0)
        co_await Clock::instance().sleep(m_sendSeconds);
    if (!m_sendResult)
        setFailureText(m_failure);
    co_return m_sendResult;
}

bool ScriptedInterface::close()
{
    ++closeCount;
    isOpen = false;
    return true;
}

void ScriptedInterface::injectTraffic(const QString& address, int function, int value)
{
    Q_EMIT traffic(address, address.left(1), function, value, 0);
}

} // namespace casalux::test
