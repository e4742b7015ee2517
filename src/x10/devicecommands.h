#pragma once

#include "commandpolicy.h"
#include "switchqueue.h"
#include "switchresult.h"

#include <QString>

#include <functional>

#include <qcoro/qcorotask.h>

namespace casalux {

class InterfaceControl;
class StatusSink;

// Switching and dimming one device by its X10 address: the command
// sequences sent to the interface, the status texts, the pause after each
// command and the call to the macro engine. Every command waits for the
// line in queue() and holds it to its end, pause included, so commands from
// every part of the program reach the interface one at a time, in the
// order asked.
class DeviceCommands final {
public:
    // Called after turnon/turnoff with the house code, the unit and the
    // function code (2 On, 3 Off, 4 for a dimmed on).
    using MacroHook = std::function<void(const QString& house, const QString& unit, int function)>;

    DeviceCommands(InterfaceControl& control, StatusSink& status, CommandPolicy policy);

    void setMacroHook(MacroHook hook) { m_macroHook = std::move(hook); }

    // Switches on; percent 100 is a plain On, anything else runs the dimming
    // sequence On (level 0), Bright (level 100), Dim (100 - percent).
    // Each is done only when the interface carried out every command of
    // it. Otherwise nothing counts: the macros are not told, and the status
    // bar, the log and the result say why.
    QCoro::Task<SwitchResult> turnon(QString house, QString unit, double percent);
    // One Dim step; percent is not used.
    QCoro::Task<SwitchResult> turndim(QString house, QString unit, double percent = 100);
    // One Bright step; percent is not used.
    QCoro::Task<SwitchResult> turnbright(QString house, QString unit, double percent = 100);
    QCoro::Task<SwitchResult> turnoff(QString house, QString unit);
    // The same for a caller that took its turn from queue() itself, to look
    // at the home once the line is its own, and holds it until it has
    // recorded the result.
    QCoro::Task<SwitchResult> turnon(const SwitchQueue::Turn& turn, QString house, QString unit,
                                     double percent);
    QCoro::Task<SwitchResult> turnoff(const SwitchQueue::Turn& turn, QString house, QString unit);

    SwitchQueue& queue() { return m_queue; }

    // True for the whole run of turnon, turndim and turnoff once it has the
    // line (held by the desktop's policy only).
    bool commandInProgress() const { return m_running > 0; }

    const CommandPolicy& policy() const { return m_policy; }

    // The percent of a loosely typed level text: its leading number, 100
    // when it has none.
    static double percentOf(const QString& text);

private:
    class Running;
    void report(const QString& text);
    SwitchResult failed(const QString& what, const QString& house, const QString& unit);
    QString stamp() const;
    QCoro::Task<> afterCommand(QString house, QString unit, int function);
    // function: InterfaceControl's On, Off, Dim or Bright.
    QCoro::Task<SwitchResult> onTheLine(int function, QString house, QString unit,
                                        double percent);
    QCoro::Task<SwitchResult> sendOn(QString house, QString unit, double percent);
    QCoro::Task<SwitchResult> sendOff(QString house, QString unit);
    QCoro::Task<SwitchResult> sendDim(QString house, QString unit);
    QCoro::Task<SwitchResult> sendBright(QString house, QString unit);

    InterfaceControl& m_control;
    StatusSink& m_status;
    CommandPolicy m_policy;
    int m_running = 0;
    MacroHook m_macroHook;
    SwitchQueue m_queue;
};

} // namespace casalux
