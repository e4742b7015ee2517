#include "interfacereconnector.h"

#include "interfacecontrol.h"
#include "platform/clock.h"

#include <QPointer>

namespace casalux {

InterfaceReconnector::InterfaceReconnector(InterfaceControl& control, QObject* parent)
    : QObject(parent), m_control(control)
{
    m_timer.setSingleShot(true);
    connect(&m_control, &InterfaceControl::lost, this, &InterfaceReconnector::start);
    connect(&m_control, &InterfaceControl::found, &m_timer, &QTimer::stop);
    connect(&m_timer, &QTimer::timeout, this, [this] { tryAgain(); });
}

void InterfaceReconnector::start()
{
    if (m_stopped || m_trying)
        return;
    m_timer.start(Clock::instance().interval(retrySeconds * 1000));
}

void InterfaceReconnector::stop()
{
    m_stopped = true;
    m_timer.stop();
}

QCoro::Task<> InterfaceReconnector::tryAgain()
{
    // A port closed by the program is no longer lost: leave it closed.
    if (m_stopped || !m_control.isLost())
        co_return;
    QPointer<InterfaceReconnector> self(this);
    m_trying = true;
    ++m_attempts;
    co_await m_control.open();
    if (!self)
        co_return;
    m_trying = false;
    if (m_control.isLost())
        start();
}

} // namespace casalux
