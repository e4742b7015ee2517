#include "devicecommands.h"

#include "interfacecontrol.h"
#include "home/roomrecord.h"
#include "platform/clock.h"
#include "platform/statussink.h"

#include <QLoggingCategory>

namespace casalux {

namespace {
Q_LOGGING_CATEGORY(lcCommands, "casalux.x10.commands", QtInfoMsg)
constexpr int plainLevel = 20;
constexpr int arg5 = 20;
constexpr int arg6 = 50;
} // namespace

DeviceCommands::DeviceCommands(InterfaceControl& control, StatusSink& status, CommandPolicy policy)
    : m_control(control), m_status(status), m_policy(policy)
{
}

double DeviceCommands::percentOf(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || !t[0].isDigit())
        return 100;
    return RoomRecord::leadingNumber(t);
}

// Marks a command in progress for as long as it lives, on every way out.
class DeviceCommands::Running final {
public:
    explicit Running(DeviceCommands& owner)
        : m_count(owner.m_policy.holdCommandMark ? &owner.m_running : nullptr)
    {
        if (m_count)
            ++*m_count;
    }
    ~Running()
    {
        if (m_count)
            --*m_count;
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

private:
    int* m_count;
};

void DeviceCommands::report(const QString& text)
{
    if (m_policy.statusTexts)
        m_status.setStatus(StatusSink::Activity, text);
}

QString DeviceCommands::stamp() const
{
    return Clock::instance().now().toString(QStringLiteral("HH:mm:ss"));
}

QCoro::Task<> DeviceCommands::afterCommand(QString house, QString unit, int function)
{
    if (m_policy.waitAfterCommand)
        co_await waitseconds(1);
    if (m_policy.notifyMacros && m_macroHook)
        m_macroHook(house, unit, function);
}

// Nothing switched: no pause, no macros, and a text that says why, in the
// status bar and the log (the engine has no status bar).
SwitchResult DeviceCommands::failed(const QString& what, const QString& house,
                                    const QString& unit)
{
    QString why = m_control.failureText();
    if (why.isEmpty())
        why = QStringLiteral("the X10 interface did not take the command");
    const QString text = QStringLiteral("Could not send %1 to device with housecode %2%3 at %4: %5")
                             .arg(what, house, unit, stamp(), why);
    qCWarning(lcCommands).noquote() << text;
    report(text);
    return SwitchResult::notSent(why);
}

// Each waits for the line, then sends. Refused only when the program ends
// while it waits; nothing of this object is touched then.
QCoro::Task<SwitchResult> DeviceCommands::turnon(QString house, QString unit, double percent)
{
    return onTheLine(InterfaceControl::On, std::move(house), std::move(unit), percent);
}

QCoro::Task<SwitchResult> DeviceCommands::turndim(QString house, QString unit, double)
{
    return onTheLine(InterfaceControl::Dim, std::move(house), std::move(unit), 0);
}

QCoro::Task<SwitchResult> DeviceCommands::turnbright(QString house, QString unit, double)
{
    return onTheLine(InterfaceControl::Bright, std::move(house), std::move(unit), 0);
}

QCoro::Task<SwitchResult> DeviceCommands::turnoff(QString house, QString unit)
{
    return onTheLine(InterfaceControl::Off, std::move(house), std::move(unit), 0);
}

QCoro::Task<SwitchResult> DeviceCommands::onTheLine(int function, QString house, QString unit,
                                                    double percent)
{
    const SwitchQueue::Taken taken = co_await m_queue.take();
    if (!taken.turn.holds())
        co_return SwitchResult::refused(taken.why);
    SwitchResult result;
    if (function == InterfaceControl::On)
        result = co_await sendOn(house, unit, percent);
    else if (function == InterfaceControl::Dim)
        result = co_await sendDim(house, unit);
    else if (function == InterfaceControl::Bright)
        result = co_await sendBright(house, unit);
    else
        result = co_await sendOff(house, unit);
    co_return result;
}

QCoro::Task<SwitchResult> DeviceCommands::turnon(const SwitchQueue::Turn& turn, QString house,
                                                 QString unit, double percent)
{
    Q_ASSERT(turn.holds());
    const SwitchResult result = co_await sendOn(house, unit, percent);
    co_return result;
}

QCoro::Task<SwitchResult> DeviceCommands::turnoff(const SwitchQueue::Turn& turn, QString house,
                                                  QString unit)
{
    Q_ASSERT(turn.holds());
    const SwitchResult result = co_await sendOff(house, unit);
    co_return result;
}

QCoro::Task<SwitchResult> DeviceCommands::sendOn(QString house, QString unit, double percent)
{
    const Running running(*this);
    if (percent != 100) {
        report(QStringLiteral("Please wait, setting dim level"));
        const double amount = 100 - percent;
        // A step that failed ends the sequence: the rest would only fail
        // the same way, or leave the lamp at a level nobody asked for.
        bool ok = co_await m_control.send(house, unit, InterfaceControl::On, 0, arg5, arg6);
        if (ok)
            ok = co_await m_control.send(house, unit, InterfaceControl::Bright, 100, arg5, arg6);
        if (ok)
            ok = co_await m_control.send(house, unit, InterfaceControl::Dim, amount, arg5, arg6);
        if (!ok) {
            co_return failed(QStringLiteral("DIM %1%").arg(percent), house, unit);
        }
        report(QStringLiteral("DIMMED device with housecode %1%2 to %3% at %4")
                   .arg(house, unit, QString::number(percent), stamp()));
        co_await afterCommand(house, unit, InterfaceControl::Dim);
    } else {
        const bool sent =
            co_await m_control.send(house, unit, InterfaceControl::On, plainLevel, arg5, arg6);
        if (!sent) {
            co_return failed(QStringLiteral("ON"), house, unit);
        }
        report(
            QStringLiteral("Turned ON device with housecode %1%2 at %3").arg(house, unit, stamp()));
        co_await afterCommand(house, unit, InterfaceControl::On);
    }
    co_return SwitchResult::done();
}

// Each result is named before it is tested: GCC 12 can lose the frame of a
// coroutine whose co_await sits in an if condition.
QCoro::Task<SwitchResult> DeviceCommands::sendDim(QString house, QString unit)
{
    const Running running(*this);
    const bool sent =
        co_await m_control.send(house, unit, InterfaceControl::Dim, plainLevel, arg5, arg6);
    if (!sent) {
        co_return failed(QStringLiteral("DIM"), house, unit);
    }
    report(QStringLiteral("DIMMED device with housecode %1%2 at %3").arg(house, unit, stamp()));
    co_return SwitchResult::done();
}

QCoro::Task<SwitchResult> DeviceCommands::sendBright(QString house, QString unit)
{
    const bool sent =
        co_await m_control.send(house, unit, InterfaceControl::Bright, plainLevel, arg5, arg6);
    if (!sent) {
        co_return failed(QStringLiteral("BRIGHT"), house, unit);
    }
    report(QStringLiteral("BRIGHT command sent to device with housecode %1%2 at %3")
               .arg(house, unit, stamp()));
    co_return SwitchResult::done();
}

QCoro::Task<SwitchResult> DeviceCommands::sendOff(QString house, QString unit)
{
    const Running running(*this);
    const bool sent =
        co_await m_control.send(house, unit, InterfaceControl::Off, plainLevel, arg5, arg6);
    if (!sent) {
        co_return failed(QStringLiteral("OFF"), house, unit);
    }
    report(QStringLiteral("Turned OFF device with housecode %1%2 at %3").arg(house, unit, stamp()));
    co_await afterCommand(house, unit, InterfaceControl::Off);
    co_return SwitchResult::done();
}

} // namespace casalux
