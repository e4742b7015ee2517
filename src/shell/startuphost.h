#pragma once

#include <QString>

namespace casalux {

// What the start-up and shut-down sequences ask of the main window: the
// wait window, and the loading steps that fill the window's own controls.
class StartupHost {
public:
    virtual ~StartupHost() = default;

    // The wait window: heading, progress line and the skip link.
    virtual void showWait(const QString& heading) = 0;
    virtual void setWaitProgress(const QString& text) = 0;
    virtual void showSkipLink(bool shown) = 0;
    virtual void closeWait() = 0;

    // While loading, clicks on the option boxes and the city, daylight
    // saving and profile handlers do nothing.
    virtual void suppressHandlers(bool optionClicks, bool settings) = 0;
    // Ends the program at once (another copy is running).
    virtual void endProgram() = 0;

    virtual void showWebPort(const QString& port) = 0;
    virtual void loadlists() = 0;
    virtual void initagent() = 0;
    virtual void loadtree() = 0;
    // Hides the panels, fills the pick lists, places the window, selects
    // the profile and ticks the option boxes.
    virtual void loadOptions() = 0;
    // The event list, the daylight-saving box and the sun times.
    virtual void loadEventsAndSunTimes() = 0;
    // The start-up timer, the web server and the once-event removal timer.
    virtual void startTimers() = 0;

    // Shut-down: the window shown, normal and on the screen; its position
    // saved; whether "Run as a service" is ticked.
    virtual void restoreWindowOnScreen() = 0;
    virtual void saveWindowPosition() = 0;
    virtual bool serviceTicked() const = 0;
};

} // namespace casalux
