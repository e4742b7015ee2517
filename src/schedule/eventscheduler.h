#pragma once

#include "schedulerpolicy.h"
#include "x10/deviceswitch.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <array>
#include <functional>
#include <optional>

#include <qcoro/qcorotask.h>

namespace casalux {

class DeviceCommands;
class DeviceStatus;
class EventList;
class Prompts;
class RoomView;
class SettingsStore;
class StatusSink;
class SunTimes;
struct EventRecord;

// Fires the events of evelst.rvf at their minute. Three timers:
// `eventtimer` reads the whole list once a minute and switches every due
// event's device on an allowed weekday; `timerdelete` removes due once-events
// from the list every ten seconds; `timetimer` (desktop only) runs the clock
// and recomputes the sun times once the date has changed.
//
// Both programs use this class; SchedulerPolicy holds their differences.
// Ticks are coroutines: while one waits (for `filebusy`, for a device
// command) the event loop runs the others.
class EventScheduler final : public QObject {
    Q_OBJECT

public:
    static constexpr int minuteMs = 60000;
    static constexpr int removalMs = 10000;
    static constexpr int clockMs = 1000;
    static constexpr int slotCount = 51; // pendingdeletes 0..50; the policy picks the used ones

    EventScheduler(EventList& events, SettingsStore& settings, DeviceCommands& commands,
                   DeviceStatus& status, StatusSink& statusBar, SchedulerPolicy policy,
                   QObject* parent = nullptr);

    // Today's sun times (desktop); without them sun events never come due.
    void setSunTimes(SunTimes* sun) { m_sun = sun; }
    // The room view whose pictures follow fired events (desktop).
    void setRoomView(RoomView* view)
    {
        m_switch.setRoomView(m_policy.refreshRoomView ? view : nullptr);
    }
    // Message boxes of "Run this event now" (desktop).
    void setPrompts(Prompts* prompts) { m_prompts = prompts; }
    // The first tick after the very first start: the desktop ticks its
    // "Run as a service" box (if not ticked yet), which installs the service.
    void setFirstRunHook(std::function<void()> hook) { m_firstRun = std::move(hook); }
    // "installing" read "True": the host closes its main window and ends.
    void setQuitHook(std::function<void()> hook) { m_quit = std::move(hook); }
    // A removal changed the list: the host reloads its event list view.
    void setReloadHook(std::function<void()> hook) { m_reload = std::move(hook); }

    // Arms `eventtimer` to tick at the start of the next minute, and
    // `timetimer` when the policy runs the clock. Called once the interface
    // has been found.
    void armEventTimer();
    // Arms `timerdelete` (end of start-up in the desktop, the interface
    // search in the engine).
    void armRemovalTimer();
    void stop();

    bool eventTimerActive() const { return m_eventTimer.isActive(); }
    int eventTimerInterval() const { return m_eventTimer.interval(); }

    // One tick of each timer; the timers call these, tests may too.
    QCoro::Task<> minuteTick();
    QCoro::Task<> timerdelete();
    void timetimer();

    // "Run this event now" on a row of the event list: switches the device
    // by the row's action at once, whatever its time and days. Nothing is
    // recorded and the room view is left as it is. `eventCount` is the
    // number of rows in the list.
    QCoro::Task<> runeventnow(int eventCount, QStringList row);

    // The "hh:mm" at which an event comes due today, or nothing when it
    // cannot: an unreadable time, or a sunrise/sunset the sun does not reach
    // today. With `sunEvents` off the time text must itself be the minute.
    static std::optional<QString> dueTime(const EventRecord& event, bool sunEvents,
                                          const QDateTime& sunrise, const QDateTime& sunset);

    // True when a line with this time field cannot come due at this minute
    // ("HH:mm"), told without reading the rest of the line. False when it
    // may: the line is then read in full and its due time worked out.
    static bool notDueAt(QStringView time, bool sunEvents, const QString& tickTime);

    const std::array<QString, slotCount>& pendingdeletes() const { return m_pending; }

Q_SIGNALS:
    // The sun times were recomputed for a new date (the label changes).
    void sunTimesUpdated();

private:
    void status(int panel, const QString& text);
    bool installing();
    void rearm();
    void queueOnce(const QString& text);
    void sunForToday(const QDate& today);

    EventList& m_events;
    SettingsStore& m_settings;
    DeviceCommands& m_commands;
    StatusSink& m_statusBar;
    SchedulerPolicy m_policy;
    DeviceSwitch m_switch;
    SunTimes* m_sun = nullptr;
    Prompts* m_prompts = nullptr;
    std::function<void()> m_firstRun;
    std::function<void()> m_quit;
    std::function<void()> m_reload;

    QTimer m_eventTimer;
    QTimer m_deleteTimer;
    QTimer m_clockTimer;
    std::array<QString, slotCount> m_pending;
    QString m_lastMinute; // the minute the last tick handled
    bool m_removing = false;
};

} // namespace casalux
