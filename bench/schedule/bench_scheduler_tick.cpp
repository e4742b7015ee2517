// One minute tick of the scheduler over event lists of 100, 10 000 and
// 100 000 lines: none of them due, and 1 % of them due, switched through a
// fake interface that takes every command at once.
//
// The tick re-reads the whole list every minute by design, so its cost is
// bounded below by reading the file and cutting it into lines and fields.
// The peer measured in the same run is exactly that: QFile::readAll, one
// split at the line ends and one split of every line at "~". The ratio
// tick / peer shows what the scheduler adds on top of the bare reading.
//
// The due events run the real device commands, state recording and room
// view refresh, but without the one-second pause after each command, so the
// figure is the tick's own work rather than 1 000 seconds of waiting. Each
// fired event records the device's state, two values of machine.ini; the
// tick writes the states it records together, one rewrite synced to disk.
//
// A second table puts that against the old way in the same run: the same
// 1 % ticks with batching off in the settings store, so every value is its
// own rewrite and sync, as before. The ratio old/batched is the gain; the
// lists and settings must be on a disk for it to mean anything, so the
// scratch folder's file system is printed, and a RAM folder (tmpfs) for
// TMPDIR is left for one under the working directory unless TMPDIR was
// set on purpose (TMPDIR=/dev/shm shows the cost without the disk).
//
// Usage: [TMPDIR=folder] bench_scheduler_tick [repetitions at 10 000 lines]
#include "home/devicestatus.h"
#include "home/settingkeys.h"
#include "home/settingsstore.h"
#include "platform/busymark.h"
#include "platform/clock.h"
#include "platform/statussink.h"
#include "schedule/eventlist.h"
#include "schedule/eventscheduler.h"
#include "schedule/suntimes.h"
#include "x10/devicecommands.h"
#include "x10/interfacecontrol.h"
#include "x10/roomview.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <qcoro/qcorotask.h>

using namespace casalux;

namespace {

// Thursday, a few seconds into noon; London sets at 17:46 that day.
const QDateTime tickAt(QDate(2026, 3, 5), QTime(12, 0, 0, 500));

class FakeInterface final : public InterfaceControl {
public:
    int sent = 0;
    QCoro::Task<int> open() override { co_return Ready; }
    QCoro::Task<bool> send(QString, QString, int, double, int, int) override
    {
        ++sent;
        co_return true;
    }
    bool close() override { return true; }
};

class CountingStatus final : public StatusSink {
public:
    int texts = 0;
    void setStatus(int, const QString&) override { ++texts; }
};

// The Lounge with its ten devices on show.
class LoungeView final : public RoomView {
public:
    int pictures = 0;
    QString shownRoom() const override { return QStringLiteral("Lounge"); }
    QString slotName(int index) const override { return QStringLiteral("Lamp %1").arg(index); }
    void setpictureon(int, const QString&) override { ++pictures; }
    void setpictureoff(int, const QString&) override { ++pictures; }
    void setSliderLevel(int, int) override {}
    void setBusy(bool) override {}
};

// A plausible schedule: rooms and devices of every kind, clock times all
// over the day and one line in five relative to sunrise or sunset. Every
// hundredth line is due at the tick when `due` is set; no other line is.
QByteArray makeList(int lines, bool due)
{
    static const char* rooms[] = {"Lounge", "Hall", "Kitchen", "Bedroom 1", "Garden"};
    static const char* days[] = {"mtwufsr", "mtwuf", "sr", "u", "", "MTWUFSR"};
    static const char* sun[] = {"sRise:-1", "sRise:00", "sRise:+2", "sSet:-3", "sSet:00", "sSet:+1"};
    QByteArray out;
    out.reserve(lines * 48);
    for (int i = 0; i < lines; ++i) {
        const bool on = i % 3 != 0;
        QByteArray time;
        if (due && i % 100 == 50) {
            time = "12:00";
        } else if (i % 5 == 4) {
            time = sun[i % 6];
        } else {
            int minute = (i * 37) % (24 * 60);
            if (minute == 12 * 60)
                minute += 1; // never the tick's minute
            time = QByteArray::number(minute / 60).rightJustified(2, '0') + ':' +
                   QByteArray::number(minute % 60).rightJustified(2, '0');
        }
        const bool allDays = due && i % 100 == 50;
        out += QByteArray(rooms[i % 5]) + " Lamp " + QByteArray::number(i % 10) + '~' +
               char('A' + i % 16) + '~' + QByteArray::number(1 + i % 16) + '~' +
               (on ? QByteArray::number(10 + 5 * (i % 19)) : QByteArray(" ")) + '~' + time + '~' +
               (on ? "on" : "off") + '~' + (i % 7 == 0 ? "once" : "daily") + '~' +
               (allDays ? "mtwufsr" : days[i % 6]) + "\r\n";
    }
    return out;
}

// The floor: read the file, cut it into lines and every line into fields.
qsizetype readAndSplit(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QString text = QString::fromLatin1(file.readAll());
    qsizetype fields = 0;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& line : lines)
        fields += line.split(QLatin1Char('~')).size();
    return fields;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Figures {
    double tickMs = 0;
    double floorMs = 0;
    int sent = 0;
    quint64 rewrites = 0; // of the settings files, per tick
};

Figures measure(const QString& folder, int lines, bool due, int repetitions, bool batching = true)
{
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    {
        QFile file(QDir(folder).filePath(QLatin1String(EventList::fileName)));
        if (!file.open(QIODevice::WriteOnly) || file.write(makeList(lines, due)) < 0)
            qFatal("cannot write the event list");
    }

    SettingsStore settings(QDir(folder).filePath(QStringLiteral("machine.ini")),
                           QDir(folder).filePath(QStringLiteral("user")));
    settings.write(settingkeys::run1, QStringLiteral("True"));
    settings.setBatching(batching);
    BusyMark filebusy;
    EventList events(folder, filebusy);
    FakeInterface control;
    CountingStatus status;
    CommandPolicy commandPolicy = CommandPolicy::desktop();
    commandPolicy.waitAfterCommand = false;
    DeviceCommands commands(control, status, commandPolicy);
    DeviceStatus devices(settings);
    SunTimes sun(settings);
    sun.dosunset();
    LoungeView view;

    std::vector<double> ticks;
    std::vector<double> floors;
    quint64 rewrites = 0;
    QElapsedTimer timer;
    for (int rep = -1; rep < repetitions; ++rep) { // one round to warm up
        // A fresh scheduler each time: one scheduler handles a minute once.
        EventScheduler scheduler(events, settings, commands, devices, status,
                                 SchedulerPolicy::desktop());
        scheduler.setSunTimes(&sun);
        scheduler.setRoomView(&view);
        control.sent = 0;
        const quint64 rewritesBefore = settings.rewrites();

        timer.start();
        QCoro::waitFor(scheduler.minuteTick());
        const double tick = timer.nsecsElapsed() / 1e6;
        rewrites = settings.rewrites() - rewritesBefore;

        timer.start();
        if (readAndSplit(events.path()) < lines)
            qFatal("the floor read too little");
        const double floor = timer.nsecsElapsed() / 1e6;
        if (rep >= 0) {
            ticks.push_back(tick);
            floors.push_back(floor);
        }
    }
    return {median(ticks), median(floors), control.sent, rewrites};
}

// A folder for the scratch files on a disk: TMPDIR if it is one or was
// chosen on purpose, else the working directory.
QString scratchParent()
{
    const QString temp = QDir::tempPath();
    const QByteArray type = QStorageInfo(temp).fileSystemType();
    if (qEnvironmentVariableIsSet("TMPDIR") || (type != "tmpfs" && type != "ramfs"))
        return temp;
    return QDir::currentPath();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int base = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 20;
    Clock::instance().freeze(tickAt, 1000);

    QTemporaryDir scratch(scratchParent() + QLatin1String("/bench_scheduler_tick-XXXXXX"));
    if (!scratch.isValid())
        qFatal("no scratch folder");
    const QString folder = scratch.filePath(QStringLiteral("home"));

    std::printf("minute tick at %s, median of repeated runs, lists in %s (%s)\n",
                qPrintable(tickAt.toString(Qt::ISODate)), qPrintable(scratch.path()),
                QStorageInfo(scratch.path()).fileSystemType().constData());
    std::printf("%8s %5s %6s %11s %13s %10s %11s\n", "lines", "due", "sent", "tick ms",
                "per line us", "floor ms", "tick/floor");
    for (const int lines : {100, 1000, 10000, 100000}) {
        const int repetitions = std::max(3, base * 10000 / std::max(lines, 1000));
        for (const bool due : {false, true}) {
            const Figures f = measure(folder, lines, due, repetitions);
            std::printf("%8d %5d %6d %11.3f %13.3f %10.3f %11.2f\n", lines, due ? lines / 100 : 0,
                        f.sent, f.tickMs, f.tickMs * 1000 / lines, f.floorMs,
                        f.tickMs / f.floorMs);
        }
    }
    std::printf("target: a 10 000-line tick under 50 ms\n");

    // Batched against one rewrite per value, alternating so both see the
    // same disk and cache.
    const int lines = 10000;
    const int repetitions = std::max(3, base);
    std::printf("\nstates of a tick, %d lines, %d due: batched against one rewrite per value\n",
                lines, lines / 100);
    std::printf("%10s %10s %11s %11s %14s\n", "way", "rewrites", "tick ms", "floor ms",
                "old/batched");
    Figures batched;
    Figures old;
    std::vector<double> batchedMs;
    std::vector<double> oldMs;
    for (int round = 0; round < 3; ++round) {
        batched = measure(folder, lines, true, repetitions, true);
        old = measure(folder, lines, true, repetitions, false);
        batchedMs.push_back(batched.tickMs);
        oldMs.push_back(old.tickMs);
    }
    const double batchedTick = median(batchedMs);
    const double oldTick = median(oldMs);
    std::printf("%10s %10llu %11.3f %11.3f %14s\n", "old",
                static_cast<unsigned long long>(old.rewrites), oldTick, old.floorMs, "");
    std::printf("%10s %10llu %11.3f %11.3f %14.2f\n", "batched",
                static_cast<unsigned long long>(batched.rewrites), batchedTick, batched.floorMs,
                oldTick / batchedTick);
    std::printf("target: the batched tick under 20 ms on disk: %s\n",
                batchedTick < 20 ? "met" : "missed");
    return 0;
}
