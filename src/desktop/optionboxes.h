#pragma once

#include "platform/autostartentry.h"
#include "platform/servicemanager.h"
#include "shell/startupoptions.h"

#include <qcoro/qcorotask.h>

namespace casalux {

class DesktopCore;
class HomePanel;

// The three option boxes of the home panel ("Run as a service", "Load at
// log-in", "Delayed Startup") and what a click on each does. While loading,
// and while the program itself changes the window's state, clicks are not
// the user's: they are held off and the boxes show the stored options.
class OptionBoxes final {
public:
    OptionBoxes(HomePanel& home, DesktopCore& core, ServiceManager& service,
                AutostartEntry autostart, ServiceManager::Engine desktopProgram);

    bool suppressed() const { return m_suppressed; }
    void setSuppressed(bool suppressed) { m_suppressed = suppressed; }

    // The boxes ticked as the settings say.
    void showStored();
    // The stored option: a shut-down during start-up comes before the box
    // has been loaded from it.
    bool serviceTicked() const { return m_options.serviceTicked(); }
    // The first minute tick of a new installation ticks "Run as a service".
    QCoro::Task<> firstRunService();

private:
    QCoro::Task<> serviceClicked(bool ticked);
    QCoro::Task<> delayedStartupClicked(bool ticked);

    HomePanel& m_home;
    AutostartEntry m_autostart;
    StartupOptions m_options;
    bool m_suppressed = false;
};

} // namespace casalux
