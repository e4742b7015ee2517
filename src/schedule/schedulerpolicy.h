#pragma once

namespace casalux {

// How the scheduler behaves in the program that runs it. The desktop
// program switches to service mode on its first tick, reports in the status
// bar, fires sunrise/sunset events, refreshes the room view, runs the clock
// and uses pending slots 1 to 10; the background engine does none of that
// and uses slots 0 to 10.
struct SchedulerPolicy {
    bool firstRunSwitch = true;
    bool statusTexts = true;
    // Sun-relative times and loosely written clock times ("7:30") are worked
    // out; without it an event is due only when its time text is exactly the
    // minute ("07:30"), so sRise/sSet events never fire.
    bool sunEvents = true;
    bool refreshRoomView = true;
    bool clock = true; // timetimer: the clock text and the midnight sun update
    // Where the "installing" hand-over flag is read: the machine-wide key
    // (desktop) or the per-user settings (engine).
    bool installingFromUserStore = false;
    int firstSlot = 1;
    int lastSlot = 10;

    static constexpr SchedulerPolicy desktop() { return {}; }
    static constexpr SchedulerPolicy engine()
    {
        return {false, false, false, false, false, true, 0, 10};
    }
};

} // namespace casalux
