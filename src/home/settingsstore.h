#pragma once

#include "settingkeys.h"

#include <QString>

#include <memory>

class QSettings;

namespace casalux {

// The two settings stores, every value text.
//
// Machine-wide: an INI file both programs share (normally machine.ini in the
// program folder), keyed by the registry path with "/" between the parts.
// Per user: an INI file per application name (names differing only in letter
// case are one application), sections as groups.
class SettingsStore final {
public:
    enum class Root { LocalMachine };

    // machineIni: the shared file. userFolder: where the per-user files live.
    SettingsStore(const QString& machineIni, const QString& userFolder);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // The stores of a program folder: <folder>/machine.ini and the user's
    // configuration folder ($XDG_CONFIG_HOME/Casalux).
    static std::unique_ptr<SettingsStore> forProgramFolder(const QString& programFolder);

    // The value if present, cut at its first NUL; otherwise `fallback`.
    QString GetString(Root root, const QString& path, const QString& name,
                      const QString& fallback = {}) const;
    // Writes the value and flushes it to disk so the other program sees it.
    bool SaveString(Root root, const QString& path, const QString& name, const QString& text);

    QString GetSetting(const QString& app, const QString& section, const QString& key,
                       const QString& fallback = {}) const;
    bool SaveSetting(const QString& app, const QString& section, const QString& key,
                     const QString& text);

    // A named setting, with its table default when missing.
    QString read(const SettingKey& key) const;
    bool write(const SettingKey& key, const QString& text);

    // Re-reads the machine-wide file, so a flag just written by the other
    // program is seen. Readers of the hand-over flags call this first.
    void sync();

    QString machineFile() const;
    // The per-user file of an application.
    QString userFile(const QString& app) const;

    // Counts, for the whole program, every write, re-read and re-opening
    // through any store: a value read through a store stays what it was
    // while this count and the two files on disk are unchanged.
    static quint64 generation();

private:
    QSettings& userStore(const QString& app) const;
    static QString machineKey(const QString& path, const QString& name);

    std::unique_ptr<QSettings> m_machine;
    QString m_userFolder;
    mutable std::unique_ptr<QSettings> m_user; // the one application this program uses
    mutable QString m_userApp;
};

} // namespace casalux
