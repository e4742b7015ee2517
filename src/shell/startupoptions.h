#pragma once

#include "platform/servicemanager.h"

#include <qcoro/qcorotask.h>

namespace casalux {

class AutostartEntry;
class Prompts;
class SettingsStore;
class StatusSink;

// The three start-up options of the home panel: run the engine as a
// service, load the program at log-in, and delay start-up. Each reacts to a
// click on its box; the boxes' initial states come from the settings.
class StartupOptions final {
public:
    StartupOptions(SettingsStore& settings, ServiceManager& service,
                   const AutostartEntry& autostart, StatusSink& status, Prompts& prompts,
                   ServiceManager::Engine desktopProgram);

    bool serviceTicked() const;
    bool loadWithWindowsTicked() const;
    bool delayedStartupTicked() const;

    // "Run as a service" clicked into `ticked`. Ticking installs the engine
    // as a service (it starts when the program closes); unticking asks
    // first. Returns whether the box is ticked afterwards.
    QCoro::Task<bool> serviceClicked(bool ticked);
    // "Load at log-in": the log-in entry written or removed.
    void loadWithWindowsClicked(bool ticked);
    QCoro::Task<> delayedStartupClicked(bool ticked);

private:
    SettingsStore& m_settings;
    ServiceManager& m_service;
    const AutostartEntry& m_autostart;
    StatusSink& m_status;
    Prompts& m_prompts;
    ServiceManager::Engine m_program;
};

} // namespace casalux
