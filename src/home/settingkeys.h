#pragma once

// Every named setting with the store it lives in and its value when missing.
// Values are always text: flags are "True"/"False" machine-wide and "1"/"0"
// per user.

namespace casalux {

// Shared: a value of a per-user section that the engine reads too. The
// engine runs as its own user and never sees a person's store, so these
// live machine-wide, under the Casalux key in a subkey named after their
// section (Casalux\data\city, Casalux\type\<device key>). A value still
// only in the user's store (written before they moved) is read from there
// until it is moved (SettingsStore::moveSharedFromUser).
enum class SettingStore { Machine, User, Shared };

struct SettingKey {
    SettingStore store;
    const char* path; // registry path (machine-wide) or section (per user, shared)
    const char* name;
    const char* fallback;
};

namespace settingkeys {

inline constexpr const char* casaluxPath = "Software\\Microsoft\\Windows\\Casalux";
inline constexpr const char* currentVersionPath = "Software\\Microsoft\\Windows\\CurrentVersion";
inline constexpr const char* runPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* appName = "Casalux";

// Machine-wide, shared by both programs.
inline constexpr SettingKey port{SettingStore::Machine, casaluxPath, "port", "none"};
inline constexpr SettingKey webport{SettingStore::Machine, casaluxPath, "webport", "80"};
inline constexpr SettingKey closeengine{SettingStore::Machine, casaluxPath, "closeengine", "False"};
inline constexpr SettingKey installing{SettingStore::Machine, casaluxPath, "installing", "False"};
inline constexpr SettingKey lastroom{SettingStore::Machine, casaluxPath, "lastroom", ""};
inline constexpr SettingKey lastdev{SettingStore::Machine, casaluxPath, "lastdev", ""};
// The bridge to a home-automation hub over MQTT; an empty host leaves it
// off, an empty discovery prefix sends no hub configurations.
inline constexpr SettingKey mqtthost{SettingStore::Machine, casaluxPath, "mqtthost", ""};
inline constexpr SettingKey mqttport{SettingStore::Machine, casaluxPath, "mqttport", "1883"};
inline constexpr SettingKey mqttuser{SettingStore::Machine, casaluxPath, "mqttuser", ""};
inline constexpr SettingKey mqttpassword{SettingStore::Machine, casaluxPath, "mqttpassword", ""};
inline constexpr SettingKey mqtttls{SettingStore::Machine, casaluxPath, "mqtttls", "False"};
inline constexpr SettingKey mqttprefix{SettingStore::Machine, casaluxPath, "mqttprefix", "casalux"};
inline constexpr SettingKey mqttdiscovery{SettingStore::Machine, casaluxPath, "mqttdiscovery",
                                          "homeassistant"};
// "delayed" or "notdelayed"; missing means not delayed.
inline constexpr SettingKey startupDelay{SettingStore::Machine, currentVersionPath, "Casaluxdelay",
                                         ""};
// The executable's path while "Load at log-in" is on, else empty.
inline constexpr SettingKey runAtLogon{SettingStore::Machine, runPath, "Casalux", ""};

// Per user, section "data" (city, dst, profile and installing: shared).
inline constexpr SettingKey state{SettingStore::User, "data", "state", "0"};
inline constexpr SettingKey left{SettingStore::User, "data", "left", "100"};
inline constexpr SettingKey top{SettingStore::User, "data", "top", "100"};
inline constexpr SettingKey city{SettingStore::Shared, "data", "city",
                                 "London, England, 51.3, 0.1, 0"};
inline constexpr SettingKey dst{SettingStore::Shared, "data", "dst", "0"};
inline constexpr SettingKey profile{SettingStore::Shared, "data", "profile", "Standard"};
inline constexpr SettingKey service{SettingStore::User, "data", "service", "0"};
inline constexpr SettingKey lww{SettingStore::User, "data", "lww", "1"};
inline constexpr SettingKey run1{SettingStore::User, "data", "run1", "False"};
inline constexpr SettingKey userInstalling{SettingStore::Shared, "data", "installing", "False"};

// Per user, section "agent".
inline constexpr SettingKey lastCharacter{SettingStore::User, "agent", "LastCharacter", "merlin"};
// "1" while the microphone may listen for spoken commands; off until the
// user turns it on.
inline constexpr SettingKey listen{SettingStore::User, "agent", "listen", "0"};

// Shared, section "type": one key per device key; this is its fallback.
inline constexpr const char* typeSection = "type";
inline constexpr const char* typeFallback = "switch";

} // namespace settingkeys
} // namespace casalux
