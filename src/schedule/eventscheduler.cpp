#include "eventscheduler.h"

#include "eventlist.h"
#include "eventrecord.h"
#include "home/settingkeys.h"
#include "home/settingsstore.h"
#include "home/textlistfile.h"
#include "platform/busymark.h"
#include "platform/clock.h"
#include "platform/prompts.h"
#include "platform/statussink.h"
#include "suntimes.h"
#include "x10/devicecommands.h"

#include <QPointer>

namespace casalux {

namespace {

constexpr int clockPanel = 1;
// Ticks aim half a second into the minute, so a timer that fires a little
// early still reads the minute it was meant for.
constexpr int tickOffsetMs = 500;

const QString minuteFormat = QStringLiteral("hh:mm");

// Clock milliseconds from `now` to half a second into the next minute.
int toNextMinute(const QDateTime& now)
{
    const QTime t = now.time();
    const int past = t.second() * 1000 + t.msec();
    return EventScheduler::minuteMs - past + tickOffsetMs;
}

// The hours of "sSet:+1" (from the 6th character) or "sRise:-2" (from the
// 7th): two characters read as a signed whole number.
std::optional<int> offsetHours(const QString& time, qsizetype from)
{
    bool ok = false;
    const int hours = time.mid(from, 2).trimmed().toInt(&ok);
    if (!ok)
        return std::nullopt;
    return hours;
}

} // namespace

EventScheduler::EventScheduler(EventList& events, SettingsStore& settings,
                               DeviceCommands& commands, DeviceStatus& status,
                               StatusSink& statusBar, SchedulerPolicy policy, QObject* parent)
    : QObject(parent), m_events(events), m_settings(settings), m_commands(commands),
      m_statusBar(statusBar), m_policy(policy), m_switch(commands, status)
{
    // A coarse timer may fire seconds early or late; the minute tick must not.
    m_eventTimer.setTimerType(Qt::PreciseTimer);
    // Detached tasks: each lives on by itself while it waits, and checks
    // that the scheduler is still there after every wait.
    connect(&m_eventTimer, &QTimer::timeout, this, [this] { minuteTick(); });
    connect(&m_deleteTimer, &QTimer::timeout, this, [this] { timerdelete(); });
    connect(&m_clockTimer, &QTimer::timeout, this, &EventScheduler::timetimer);
}

void EventScheduler::armEventTimer()
{
    m_eventTimer.start(Clock::instance().interval(toNextMinute(Clock::instance().now())));
    if (m_policy.clock)
        m_clockTimer.start(Clock::instance().interval(clockMs));
}

void EventScheduler::armRemovalTimer()
{
    m_deleteTimer.start(Clock::instance().interval(removalMs));
}

void EventScheduler::stop()
{
    m_eventTimer.stop();
    m_deleteTimer.stop();
    m_clockTimer.stop();
}

void EventScheduler::status(int panel, const QString& text)
{
    if (m_policy.statusTexts)
        m_statusBar.setStatus(panel, text);
}

// Every 60 000 ms, less however late this tick came (more if it came a
// little early), so ticks stay on the minute instead of drifting until one
// minute is skipped.
void EventScheduler::rearm()
{
    m_eventTimer.start(Clock::instance().interval(toNextMinute(Clock::instance().now())));
}

bool EventScheduler::installing()
{
    if (m_policy.installingFromUserStore)
        return m_settings.read(settingkeys::userInstalling) == QLatin1String("True");
    m_settings.sync(); // the flag is written by another program
    return m_settings.read(settingkeys::installing) == QLatin1String("True");
}

std::optional<QString> EventScheduler::dueTime(const EventRecord& event, bool sunEvents,
                                               const QDateTime& sunrise, const QDateTime& sunset)
{
    if (!sunEvents)
        return event.time;

    const auto relative = [](const QDateTime& base,
                             std::optional<int> hours) -> std::optional<QString> {
        if (!base.isValid() || !hours)
            return std::nullopt; // no sunrise (or sunset) today, or no readable offset
        // The base is taken to the minute, then moved by whole hours; QTime
        // wraps past midnight (sunset 23:10 with +2 gives 01:10).
        const QTime minute(base.time().hour(), base.time().minute());
        return minute.addSecs(*hours * 3600).toString(minuteFormat);
    };
    if (event.time.contains(QLatin1String("sSet"), Qt::CaseInsensitive))
        return relative(sunset, offsetHours(event.time, 5));
    if (event.time.contains(QLatin1String("sRise"), Qt::CaseInsensitive))
        return relative(sunrise, offsetHours(event.time, 6));

    // A clock time, taken as a time of day ("7:30" is 07:30).
    QTime time = QTime::fromString(event.time.trimmed(), QStringLiteral("H:mm"));
    if (!time.isValid())
        time = QTime::fromString(event.time.trimmed(), QStringLiteral("H:m"));
    if (!time.isValid())
        return std::nullopt;
    return time.toString(minuteFormat);
}

// Most lines of a long list are clock times of other minutes: they are
// passed over here, so the tick reads only the few that may be due. Anything
// out of the ordinary (a sun time, a time that is not plain digits) goes the
// full way through dueTime.
bool EventScheduler::notDueAt(QStringView time, bool sunEvents, const QString& tickTime)
{
    if (time.isNull())
        return true; // too few fields to be an event at all
    if (!sunEvents)
        return time != tickTime;
    const QStringView clock = time.trimmed();
    const qsizetype colon = clock.indexOf(QLatin1Char(':'));
    const auto number = [](QStringView digits) {
        int value = 0;
        for (const QChar c : digits) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return -1;
            value = value * 10 + (c.unicode() - '0');
        }
        return value;
    };
    if (colon < 1 || colon > 2 || clock.size() - colon - 1 < 1 || clock.size() - colon - 1 > 2)
        return false;
    const int hour = number(clock.first(colon));
    const int minute = number(clock.sliced(colon + 1));
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59)
        return false;
    return hour != QStringView(tickTime).first(2).toInt() ||
           minute != QStringView(tickTime).sliced(3).toInt();
}

void EventScheduler::queueOnce(const QString& text)
{
    for (int slot = m_policy.firstSlot; slot <= m_policy.lastSlot && slot < slotCount; ++slot) {
        QString& pending = m_pending[static_cast<size_t>(slot)];
        if (pending.isEmpty()) {
            pending = text;
            return;
        }
    }
    // All slots taken: the event stays in the list this time.
}

QCoro::Task<> EventScheduler::minuteTick()
{
    const QPointer<EventScheduler> self(this);

    if (m_policy.firstRunSwitch && m_settings.read(settingkeys::run1) == QLatin1String("False")) {
        m_settings.write(settingkeys::run1, QStringLiteral("True"));
        if (m_firstRun)
            m_firstRun();
    }
    rearm();
    if (installing()) {
        stop();
        if (m_quit)
            m_quit();
        co_return;
    }

    // One reading of the clock for every comparison of this tick.
    const QDateTime now = Clock::instance().now();
    const QString tickTime = now.toString(minuteFormat);
    const QString minuteKey = now.date().toString(Qt::ISODate) + tickTime;
    if (minuteKey == m_lastMinute)
        co_return; // this minute has had its tick
    m_lastMinute = minuteKey;

    if (!m_events.exists()) {
        status(StatusSink::Activity, QStringLiteral("Timer running, no events to run."));
        co_return;
    }

    auto hold = co_await m_events.filebusy().take();
    if (!self)
        co_return;
    // The states this tick records reach the disk in one rewrite, or one per
    // wait on the line, instead of one each (see SettingsStore::Batch).
    const SettingsStore::Batch states(m_settings);
    status(StatusSink::Activity, QStringLiteral("Timer, Loading rooms list"));

    sunForToday(now.date());
    const QDateTime sunrise = m_sun ? m_sun->sunrise() : QDateTime();
    const QDateTime sunset = m_sun ? m_sun->sunset() : QDateTime();
    // Blank or malformed lines are skipped; the tick goes on.
    const QStringList lines = TextListFile::readLines(m_events.path());
    for (const QString& line : lines) {
        if (notDueAt(EventRecord::timeField(line), m_policy.sunEvents, tickTime))
            continue;
        const auto parsed = EventRecord::parse(line);
        if (!parsed)
            continue;
        const EventRecord& event = *parsed;
        const auto at = dueTime(event, m_policy.sunEvents, sunrise, sunset);
        if (!at || *at != tickTime)
            continue;
        status(StatusSink::Activity,
               QStringLiteral("Timer, found match with %1 and %2").arg(*at, tickTime));

        if (event.allowsDay(now.date())) {
            const QString unit = QString::number(event.unit);
            const bool on = event.action == QLatin1String("on");
            // An on records the level it was sent at. (Named: GCC 12 can
            // destroy a temporary of a co_await expression twice.)
            const int percent = static_cast<int>(DeviceCommands::percentOf(event.dim));
            const QStringList keys{event.device};
            co_await m_switch.switchTo(event.housecode, unit, on, percent, keys);
            if (!self)
                co_return;
        }
        // A due once-event goes whether or not today allowed it to fire. It
        // is found again by the line as read: text rebuilt from the fields
        // would miss a line written differently ("07" for unit 7), and the
        // event would fire every day.
        if (event.freq == QLatin1String("once"))
            queueOnce(line);
    }
}

QCoro::Task<> EventScheduler::timerdelete()
{
    if (m_removing)
        co_return; // the previous turn is still waiting
    const QPointer<EventScheduler> self(this);
    m_removing = true;
    BusyMark& filebusy = m_events.filebusy();
    if (filebusy.isHeld()) {
        co_await waitseconds(BusyMark::listStepSeconds);
        if (!self)
            co_return;
        if (filebusy.isHeld()) {
            m_removing = false;
            co_return; // skip this turn
        }
    }

    bool changed = false;
    for (int slot = m_policy.firstSlot; slot <= m_policy.lastSlot && slot < slotCount; ++slot) {
        QString& pending = m_pending[static_cast<size_t>(slot)];
        if (pending.isEmpty())
            continue;
        auto hold = filebusy.tryTake();
        if (!hold)
            break;
        status(StatusSink::Activity, QStringLiteral("Found an old event to delete, deleting now"));
        // A list that cannot be rewritten keeps the slot, so the next turn
        // tries again instead of the event firing again next time.
        if (m_events.removeLine(pending)) {
            status(StatusSink::Activity,
                   QStringLiteral("Old event deleted at ") +
                       Clock::instance().now().toString(minuteFormat));
            pending.clear();
            changed = true;
        }
    }
    m_removing = false;
    if (changed && m_reload)
        m_reload();
}

void EventScheduler::timetimer()
{
    const QDateTime now = Clock::instance().now();
    status(clockPanel, now.toString(QStringLiteral("h:mm:ss")));
    sunForToday(now.date());
}

// By the date rather than the minute 00:00: a machine asleep at midnight
// would otherwise keep yesterday's times all day.
void EventScheduler::sunForToday(const QDate& today)
{
    if (!m_sun || m_sun->day() == today)
        return;
    m_sun->dosunset();
    Q_EMIT sunTimesUpdated();
}

QCoro::Task<> EventScheduler::runeventnow(int eventCount, QStringList row)
{
    if (eventCount <= 0) {
        if (m_prompts) {
            co_await m_prompts->message(QStringLiteral("You dont have any events to run"),
                                        QStringLiteral("No events"), Prompts::Icon::Information);
        }
        co_return;
    }
    if (row.size() < 6)
        co_return;
    const QString house = row.at(1);
    const QString unit = row.at(2);
    const QString dim = QString(row.at(3)).remove(QLatin1Char('%'));
    const QString action = row.at(5);
    if (action == QLatin1String("on"))
        co_await m_commands.turnon(house, unit, DeviceCommands::percentOf(dim));
    else if (action == QLatin1String("off"))
        co_await m_commands.turnoff(house, unit);
}

} // namespace casalux
