#include "eventeditor.h"

#include "eventlist.h"
#include "home/deviceselector.h"
#include "home/textlistfile.h"
#include "platform/busymark.h"
#include "platform/clock.h"
#include "platform/prompts.h"
#include "platform/statussink.h"

#include <algorithm>

namespace casalux {

namespace {

const QChar separator = QLatin1Char('~');

// A field holding "~" or a line break would shift every field after it (or
// split the record in two), and a character outside the file's single-byte
// set would be stored as something else.
bool fitsInAField(const QString& text)
{
    return !text.contains(separator) && !text.contains(QLatin1Char('\r')) &&
           !text.contains(QLatin1Char('\n')) && TextListFile::isStorable(text);
}

} // namespace

QString EventEditor::noDeviceText()
{
    return QStringLiteral("Please select a device for this event");
}

QString EventEditor::unstorableText()
{
    return QStringLiteral("This event cannot be saved: its texts may not contain ~, line breaks "
                          "or characters outside the Latin-1 set.");
}

EventEditor::EventEditor(EventList& events, StatusSink& status, Prompts& prompts)
    : m_events(events), m_status(status), m_prompts(prompts)
{
}

QString EventEditor::daysText(const std::array<bool, 7>& days)
{
    QString text;
    for (size_t i = 0; i < days.size(); ++i) {
        if (days[i])
            text += QLatin1Char(EventRecord::dayLetters[i]);
    }
    return text;
}

std::optional<QString> EventEditor::buildLine(const Selection& selection)
{
    const auto device = DeviceSelector::split(selection.deviceText);
    if (!device)
        return std::nullopt;
    const bool off = selection.action == QLatin1String("off");
    const QString dim = off ? QStringLiteral(" ") : QString(selection.dimText).remove(QLatin1Char('%'));
    const QString action = off ? QStringLiteral("off") : selection.action;
    const QStringList fields{device->device,
                             device->house,
                             QString::number(device->unit),
                             dim,
                             selection.hour + QLatin1Char(':') + selection.minute,
                             action,
                             selection.freq,
                             daysText(selection.days)};
    if (!std::all_of(fields.begin(), fields.end(), fitsInAField))
        return std::nullopt;
    return fields.join(separator);
}

std::pair<QString, QString> EventEditor::splitTime(const QString& time)
{
    if (time.contains(QLatin1String("sRise"), Qt::CaseInsensitive))
        return {QStringLiteral("sRise"), time.mid(6, 2)};
    if (time.contains(QLatin1String("sSet"), Qt::CaseInsensitive))
        return {QStringLiteral("sSet"), time.mid(5, 2)};
    return {time.left(2), time.mid(3, 2)};
}

EventEditor::Selection EventEditor::fromRecord(const EventRecord& event)
{
    Selection s;
    s.deviceText = event.device + QLatin1Char(' ') + event.housecode + QString::number(event.unit);
    std::tie(s.hour, s.minute) = splitTime(event.time);
    s.action = event.action;
    s.dimText = event.dim + QLatin1Char('%');
    s.freq = event.freq;
    for (size_t i = 0; i < s.days.size(); ++i)
        s.days[i] = event.days.contains(QLatin1Char(EventRecord::dayLetters[i]), Qt::CaseInsensitive);
    return s;
}

QCoro::Task<EventEditor::Outcome> EventEditor::save(Selection selection,
                                                    std::optional<EventRecord> editing)
{
    const auto line = buildLine(selection);
    if (!line) {
        const bool noDevice = !DeviceSelector::split(selection.deviceText);
        const QString text = noDevice ? noDeviceText() : unstorableText();
        const QString title = noDevice ? QStringLiteral("No device") : QStringLiteral("Event not saved");
        co_await m_prompts.message(text, title, Prompts::Icon::Exclamation);
        co_return Outcome::Refused;
    }

    const auto hold = co_await m_events.filebusy().take();
    bool ok = false;
    if (editing && m_events.exists()) {
        m_status.setStatus(StatusSink::Activity,
                           QStringLiteral("Please wait, preparing to edit your event"));
        ok = m_events.replaceRecord(*editing, *line);
        if (ok)
            m_status.setStatus(StatusSink::Activity,
                               QStringLiteral("Old event deleted, now cleaning up"));
    } else {
        m_status.setStatus(StatusSink::Activity,
                           QStringLiteral("Please wait, saving your new event now"));
        ok = m_events.append(*line);
    }
    if (!ok)
        co_return Outcome::Failed;
    m_status.setStatus(StatusSink::Activity,
                       QStringLiteral("New event saved at ") +
                           Clock::instance().now().toString(QStringLiteral("hh:mm")));
    co_return Outcome::Saved;
}

QCoro::Task<EventEditor::Outcome> EventEditor::deleteevent(int key, int eventCount,
                                                           QStringList row)
{
    if (key != deleteKey)
        co_return Outcome::WrongKey;
    if (eventCount <= 0) {
        co_await m_prompts.message(QStringLiteral("You dont have any events to delete"),
                                   QStringLiteral("No events"), Prompts::Icon::Information);
        co_return Outcome::Refused;
    }
    const auto event = EventRecord::fromRow(row);
    if (!event || !m_events.exists())
        co_return Outcome::NotFound;

    const auto hold = co_await m_events.filebusy().take();
    bool found = false;
    if (!m_events.replaceRecord(*event, QString(), &found))
        co_return Outcome::Failed;
    co_return found ? Outcome::Deleted : Outcome::NotFound;
}

} // namespace casalux
