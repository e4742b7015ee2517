#pragma once

#include "commandpolicy.h"

#include <QString>

#include <functional>

#include <qcoro/qcorotask.h>

namespace casalux {

class InterfaceControl;
class StatusSink;

// Switching and dimming one device by its X10 address: the command
// sequences sent to the interface, the status texts, the pause after each
// command and the call to the macro engine.
class DeviceCommands final {
public:
    // Called after turnon/turnoff with the house code, the unit and the
    // function code (2 On, 3 Off, 4 for a dimmed on).
    using MacroHook = std::function<void(const QString& house, const QString& unit, int function)>;

    DeviceCommands(InterfaceControl& control, StatusSink& status, CommandPolicy policy);

    void setMacroHook(MacroHook hook) { m_macroHook = std::move(hook); }

    // Switches on; percent 100 is a plain On, anything else runs the dimming
    // sequence On (level 0), Bright (level 100), Dim (100 - percent).
    // Each returns true only when the interface carried out every command
    // of it. On false nothing counts: the macros are not told, and the
    // status bar and the log say why (also kept in lastFailure()).
    QCoro::Task<bool> turnon(QString house, QString unit, double percent);
    // One Dim step; percent is not used.
    QCoro::Task<bool> turndim(QString house, QString unit, double percent = 100);
    // One Bright step; percent is not used.
    QCoro::Task<bool> turnbright(QString house, QString unit, double percent = 100);
    QCoro::Task<bool> turnoff(QString house, QString unit);

    // True for the whole run of turnon, turndim and turnoff; the command
    // queue sends nothing meanwhile. Counted, so that two overlapping
    // commands (a timed event during a click) keep it until both are done.
    bool commandInProgress() const { return m_running > 0; }

    const CommandPolicy& policy() const { return m_policy; }

    // Why the last command that failed could not be sent, e.g. "the X10
    // interface did not answer".
    QString lastFailure() const { return m_failure; }

    // The percent of a loosely typed level text: its leading number, 100
    // when it has none.
    static double percentOf(const QString& text);

private:
    class Running;
    void report(const QString& text);
    void failed(const QString& what, const QString& house, const QString& unit);
    QString stamp() const;
    QCoro::Task<> afterCommand(QString house, QString unit, int function);

    InterfaceControl& m_control;
    StatusSink& m_status;
    CommandPolicy m_policy;
    int m_running = 0;
    MacroHook m_macroHook;
    QString m_failure;
};

} // namespace casalux
