#pragma once

#include <QString>
#include <QStringList>

#include <functional>

#include <qcoro/qcorotask.h>

namespace casalux {

class BusyMark;
class CommandQueue;
class Prompts;
class StatusSink;

// Macros link two devices: when a trigger device is switched on, off or
// dimmed, a target device is switched on or off. Each macro is one line of
// macs.hlk, an English sentence with every blank written as "~":
//
//   When~A3~Lounge~Lamp~turns~on~Turn~On~B5~Hall~Light
//
// The trigger entry (amacros) sees every command on the power line and each
// on/off the program sends, and queues the targets of matching macros.
class MacroList final {
public:
    static constexpr const char* fileName = "macs.hlk";
    static constexpr const char* tempName = "tempmac.txt";

    // The trigger actions offered, and the target actions.
    static QStringList triggerActions();
    static QStringList targetActions();

    MacroList(const QString& programFolder, CommandQueue& queue, BusyMark& filebusy,
              StatusSink& status, Prompts& prompts);

    // Runs after the file changed (the macro list view reloads from it).
    void setReloadHook(std::function<void()> hook) { m_reloaded = std::move(hook); }

    // The file line for a macro built from the selectors' texts ("Lounge
    // Lamp A3"), or empty when a device text holds no address.
    static QString line(const QString& triggerDevice, const QString& triggerAction,
                        const QString& targetDevice, const QString& targetAction);

    // The lines of macs.hlk as the macro list shows them: "~" as blanks.
    QStringList shownLines() const;

    QCoro::Task<bool> save(QString triggerDevice, QString triggerAction, QString targetDevice,
                           QString targetAction);
    // Deletes the shown line `selected` (and any line containing it).
    // listEmpty: the macro list shows nothing.
    QCoro::Task<bool> deletemacro(QString selected, bool listEmpty);

    // A command for house code + unit with function code 2 On, 3 Off or 4 Dim
    // was seen or sent: queues the target of every macro it triggers, in
    // file order.
    void amacros(const QString& housecode, const QString& singleunit, int command);

private:
    QString path() const;

    QString m_folder;
    CommandQueue& m_queue;
    BusyMark& m_filebusy;
    StatusSink& m_status;
    Prompts& m_prompts;
    std::function<void()> m_reloaded;
};

} // namespace casalux
