#pragma once

#include "serialportmap.h"

#include <QString>

#include <functional>
#include <optional>

#include <qcoro/qcorotask.h>

namespace casalux {

class InterfaceControl;
class Prompts;
class SettingsStore;
class StatusSink;

// Finds and opens the X10 interface: the saved port first, then a search of
// ports 1 to 15. Also the auto-detect and manual-port actions of the home
// panel.
class InterfaceFinder final {
public:
    struct Hooks {
        // Input to the main window off (and the busy pointer on) while searching.
        std::function<void(bool busy)> setBusy;
        // The saved port never answered: close the main window and end.
        std::function<void()> endProgram;
        // Start the clock timer, and the minute timer with this first interval.
        std::function<void(int eventTimerMs)> armTimers;
    };

    static constexpr int firstPort = SerialPortMap::FirstPort;
    static constexpr int lastPort = SerialPortMap::LastPort;
    static constexpr int savedPortTries = 4;
    static constexpr int retryWaitSeconds = 5;

    InterfaceFinder(InterfaceControl& control, SettingsStore& settings, StatusSink& status,
                    Prompts& prompts);

    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }

    // The stored port when it names one of ports 1 to 15 ("none" does not).
    static std::optional<int> savedPort(const SettingsStore& settings);
    // The stored port when it is a device path ("/dev/serial/by-id/...").
    static std::optional<QString> savedDevicePath(const SettingsStore& settings);
    // Points the control at the stored port or device path; false when
    // none is stored.
    static bool useSavedPort(InterfaceControl& control, const SettingsStore& settings);
    // Sets up an interface that answered on `port` (0: on the device path
    // the control was given) and stores the port.
    static void claim(InterfaceControl& control, SettingsStore& settings, int port);
    // The search of ports 1 to 15 in order, leaving out `skipPort`: true
    // with the interface open on the first port that answers. `stopped` is
    // asked before and after each open (a stop closes what was opened);
    // `trying` hears each port before it is tried. Both programs search
    // with this.
    static QCoro::Task<bool> searchPorts(InterfaceControl& control, int skipPort,
                                         std::function<bool()> stopped,
                                         std::function<void(int port)> trying = {});

    bool interfaceReady() const { return m_ready; }

    // The program is closing: a search under way gives up at its next port
    // or open, closes what it opened and reports nothing. No search starts
    // afterwards.
    void stop() { m_stopped = true; }
    bool searching() const { return m_searching > 0; }

    // True when an interface was found and opened.
    QCoro::Task<bool> findinterface();
    // Lets go of the port, forgets it and searches every port.
    QCoro::Task<bool> autodetect();
    // Asks for a port number and tries it (searching on if it fails).
    QCoro::Task<bool> manualport();

private:
    QCoro::Task<bool> find();
    QCoro::Task<bool> search(int skipPort);
    // After an open: true (and the port closed) when a stop came meanwhile.
    bool stoppedAfterOpen();
    void found();
    void setBusy(bool busy);

    InterfaceControl& m_control;
    SettingsStore& m_settings;
    StatusSink& m_status;
    Prompts& m_prompts;
    Hooks m_hooks;
    bool m_ready = false;
    bool m_stopped = false;
    int m_searching = 0;
};

} // namespace casalux
