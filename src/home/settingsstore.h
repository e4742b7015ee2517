#pragma once

#include "settingkeys.h"

#include <QHash>
#include <QString>

#include <memory>

class QObject;
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

    // Groups the writes of one job (the states of a minute tick) into one
    // rewrite of each file, still written to a temporary file, synced and
    // renamed over the old one. While a batch is open every write through
    // the store is held in memory: reads through this store see it at once,
    // the other program when it is written. That happens when the outermost
    // batch ends, and also whenever the event loop gets control meanwhile
    // (the holder waits for a command on the line), so a long job never
    // keeps more than the states since its last wait off the disk.
    //
    // Ends by commit() or, whatever way its scope is left (early return, a
    // coroutine destroyed mid-wait), in its destructor. The store must
    // outlive it.
    class [[nodiscard]] Batch final {
    public:
        explicit Batch(SettingsStore& store);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

        // Ends the batch. The outermost one writes what is pending and says
        // whether that reached the disk (a failed rewrite leaves the old
        // file whole); an inner one leaves the writing to the outer.
        bool commit();

    private:
        SettingsStore* m_store;
    };

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
    // Inside a batch the value is only taken (true), and written with the
    // batch's rewrite.
    bool SaveString(Root root, const QString& path, const QString& name, const QString& text);

    QString GetSetting(const QString& app, const QString& section, const QString& key,
                       const QString& fallback = {}) const;
    bool SaveSetting(const QString& app, const QString& section, const QString& key,
                     const QString& text);

    // A value of a shared section (see SettingStore::Shared): the
    // machine-wide one, else one still only in this user's store, else
    // `fallback`. Written machine-wide.
    QString readShared(const QString& section, const QString& key,
                       const QString& fallback = {}) const;
    bool writeShared(const QString& section, const QString& key, const QString& text);
    // Copies every shared value found in this user's store and not yet
    // machine-wide over to the machine-wide store, so that the engine (and
    // every other user) sees what this user chose. A value already there is
    // kept. Returns how many were moved.
    int moveSharedFromUser();

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
    // Rewrites of this store's files on disk (each a temporary file synced
    // and renamed), failed ones included.
    quint64 rewrites() const { return m_rewrites; }

    bool inBatch() const { return m_batchDepth > 0; }
    // Off, a batch changes nothing: every write is rewritten at once. Only
    // for measuring the batched writes against the old way.
    void setBatching(bool on) { m_batching = on; }

private:
    // A settings file and the values taken for it that are not on disk yet
    // (reads see them first).
    struct File {
        std::unique_ptr<QSettings> settings;
        QHash<QString, QString> unwritten;
    };

    File& userStore(const QString& app) const;
    static QString machineKey(const QString& path, const QString& name);
    static QString sharedKey(const QString& section, const QString& name);
    static bool has(const File& file, const QString& key);
    static QString value(const File& file, const QString& key, const QString& fallback);
    bool save(File& file, const QString& key, const QString& text, bool now = false);
    bool commit(File& file) const;
    bool writePending();
    void writeWhenIdle();

    mutable File m_machine;
    QString m_userFolder;
    mutable File m_user; // the one application this program uses
    mutable QString m_userApp;
    mutable quint64 m_rewrites = 0;
    int m_batchDepth = 0;
    bool m_batching = true;
    bool m_idleWriteQueued = false;
    std::unique_ptr<QObject> m_idle; // receives the queued write; gone with the store
};

} // namespace casalux
