#include "macrolist.h"

#include "home/deviceselector.h"
#include "home/textlistfile.h"
#include "platform/busymark.h"
#include "platform/prompts.h"
#include "platform/statussink.h"
#include "x10/commandqueue.h"

#include <QFile>

namespace casalux {

namespace {

// The trigger verbs as written in the sentence. A dim trigger is written
// "turns dimmed", which the trigger entry recognises by "turns~dimm"; lines
// written earlier with the verb "Dimms" are recognised as well.
QString verbFor(const QString& action)
{
    if (action == QLatin1String("On"))
        return QStringLiteral("turns on");
    if (action == QLatin1String("Off"))
        return QStringLiteral("turns off");
    if (action == QLatin1String("Dim") || action == QLatin1String("Dimm"))
        return QStringLiteral("turns dimmed");
    return {};
}

bool triggeredBy(const QString& line, int command)
{
    switch (command) {
    case 2:
        return line.contains(QLatin1String("turns~on"), Qt::CaseInsensitive);
    case 3:
        return line.contains(QLatin1String("turns~off"), Qt::CaseInsensitive);
    case 4:
        return line.contains(QLatin1String("turns~dimm"), Qt::CaseInsensitive) ||
               line.contains(QLatin1String("~dimms~"), Qt::CaseInsensitive);
    default:
        return false;
    }
}

struct Target {
    int code = 0; // 2 Turn On, 3 Turn Off
    QString house;
    QString unit;
};

// The target action and address follow the trigger verb; searching from
// there keeps a device name such as "Turn On Light" from being taken for
// the action.
std::optional<Target> targetOf(const QString& line)
{
    qsizetype from = line.indexOf(QLatin1String("~turns~"), 0, Qt::CaseInsensitive);
    if (from < 0)
        from = line.indexOf(QLatin1String("~dimms~"), 0, Qt::CaseInsensitive);
    if (from < 0)
        from = 0;
    const qsizetype onAt = line.indexOf(QLatin1String("~Turn~On~"), from);
    const qsizetype offAt = line.indexOf(QLatin1String("~Turn~Off~"), from);
    if (onAt < 0 && offAt < 0)
        return std::nullopt;
    const bool on = offAt < 0 || (onAt >= 0 && onAt < offAt);
    const qsizetype wordStart = on ? onAt + 9 : offAt + 10;
    const qsizetype wordEnd = line.indexOf(QLatin1Char('~'), wordStart);
    const QString address =
        wordEnd < 0 ? line.mid(wordStart) : line.mid(wordStart, wordEnd - wordStart);
    if (address.size() < 2)
        return std::nullopt;
    return Target{on ? 2 : 3, address.left(1), address.mid(1)};
}

} // namespace

QStringList MacroList::triggerActions()
{
    return {QStringLiteral("On"), QStringLiteral("Off"), QStringLiteral("Dim")};
}

QStringList MacroList::targetActions()
{
    return {QStringLiteral("Turn On"), QStringLiteral("Turn Off")};
}

MacroList::MacroList(const QString& programFolder, CommandQueue& queue, BusyMark& filebusy,
                     StatusSink& status, Prompts& prompts)
    : m_folder(programFolder), m_queue(queue), m_filebusy(filebusy), m_status(status),
      m_prompts(prompts)
{
}

QString MacroList::path() const
{
    return m_folder + QLatin1Char('/') + QLatin1String(fileName);
}

QString MacroList::line(const QString& triggerDevice, const QString& triggerAction,
                        const QString& targetDevice, const QString& targetAction)
{
    const auto trigger = DeviceSelector::split(triggerDevice);
    const auto target = DeviceSelector::split(targetDevice);
    if (!trigger || !target)
        return {};
    QString sentence = QStringLiteral("When ") + trigger->address() + QLatin1Char(' ') +
                       trigger->device + QLatin1Char(' ') + verbFor(triggerAction) +
                       QLatin1Char(' ') + targetAction + QLatin1Char(' ') + target->address() +
                       QLatin1Char(' ') + target->device;
    return sentence.replace(QLatin1Char(' '), QLatin1Char('~'));
}

QStringList MacroList::shownLines() const
{
    QStringList shown;
    const QStringList lines = TextListFile::readLines(path());
    for (QString l : lines) {
        if (!l.isEmpty())
            shown.append(l.replace(QLatin1Char('~'), QLatin1Char(' ')));
    }
    return shown;
}

QCoro::Task<bool> MacroList::save(QString triggerDevice, QString triggerAction,
                                  QString targetDevice, QString targetAction)
{
    // A macro without both addresses, or without a trigger the engine can
    // recognise, would sit in the file and never act.
    const QString text = line(triggerDevice, triggerAction, targetDevice, targetAction);
    if (text.isEmpty() || verbFor(triggerAction).isEmpty() ||
        !targetActions().contains(targetAction)) {
        co_await m_prompts.message(
            QStringLiteral("Please choose a trigger device, its action, a device to trigger and "
                           "the action to take."),
            QStringLiteral("Error!"), Prompts::Icon::Exclamation);
        co_return false;
    }
    QString error;
    if (!TextListFile::append(path(), text, &error)) {
        m_status.setStatus(StatusSink::Activity, error);
        co_return false;
    }
    if (m_reloaded)
        m_reloaded();
    co_return true;
}

QCoro::Task<bool> MacroList::deletemacro(QString selected, bool listEmpty)
{
    const auto answer = co_await m_prompts.message(
        QStringLiteral("Do you want to delete the selected Macro?"), QStringLiteral("Delete?"),
        Prompts::Icon::Question, Prompts::Buttons::YesNo);
    if (answer != Prompts::Answer::Yes)
        co_return false;
    if (listEmpty) {
        co_await m_prompts.message(QStringLiteral("You dont have any macros to delete"),
                                   QStringLiteral("No Macros"), Prompts::Icon::Information);
        co_return false;
    }
    const QString search = QString(selected).replace(QLatin1Char(' '), QLatin1Char('~'));
    if (search.isEmpty() || !QFile::exists(path()))
        co_return false;

    bool replaced = false;
    {
        auto hold = co_await m_filebusy.take();
        QStringList keep;
        const QStringList lines = TextListFile::readLines(path());
        for (const QString& l : lines) {
            if (!l.contains(search, Qt::CaseInsensitive))
                keep.append(l);
        }
        QString error;
        replaced = TextListFile::replace(path(), m_folder + QLatin1Char('/') +
                                                     QLatin1String(tempName),
                                         keep, &error);
        if (!replaced)
            m_status.setStatus(StatusSink::Activity, error);
    }
    if (replaced && m_reloaded)
        m_reloaded();
    co_return replaced;
}

void MacroList::amacros(const QString& housecode, const QString& singleunit, int command)
{
    // The file is read in one go, with no wait, so the queue timer cannot
    // send anything before every triggered target is queued.
    const QString address = housecode + singleunit;
    const QStringList lines = TextListFile::readLines(path());
    for (const QString& l : lines) {
        if (l.section(QLatin1Char('~'), 1, 1).compare(address, Qt::CaseInsensitive) != 0)
            continue;
        if (!triggeredBy(l, command))
            continue;
        const auto target = targetOf(l);
        if (!target)
            continue;
        m_status.setStatus(StatusSink::Activity, QStringLiteral("Macro created and added to queue"));
        m_queue.append(target->code, target->house, target->unit);
    }
}

} // namespace casalux
