#include "settingsstore.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QObject>
#include <QSettings>
#include <QStandardPaths>

#include <sys/stat.h>

namespace casalux {

namespace {

Q_LOGGING_CATEGORY(lcSettings, "casalux.home.settings", QtWarningMsg)

QString valueText(const QVariant& value)
{
    // A hand-edited INI line with unquoted commas reads back as a list.
    QString text = value.typeId() == QMetaType::QStringList
                       ? value.toStringList().join(QLatin1String(", "))
                       : value.toString();
    const qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

quint64 changes = 0;

// Which file a path names, and its last change: a rename over it gives
// another inode.
struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    qint64 modifiedNs = 0;
    qint64 size = 0;

    static FileIdentity of(const QString& path)
    {
        struct stat info {};
        if (::stat(QFile::encodeName(path).constData(), &info) != 0)
            return {};
        return {true, info.st_dev, info.st_ino,
                qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
                qint64(info.st_size)};
    }
    bool operator==(const FileIdentity&) const = default;
};

} // namespace

SettingsStore::SettingsStore(const QString& machineIni, const QString& userFolder)
    : m_machine{std::make_unique<QSettings>(machineIni, QSettings::IniFormat), {}},
      m_userFolder(userFolder), m_idle(std::make_unique<QObject>())
{
    ++changes; // opening a file may re-read it for other stores on it too
}

SettingsStore::~SettingsStore()
{
    ++changes;
    // A batch left open (a job still waiting at exit) loses nothing.
    writePending();
}

SettingsStore::Batch::Batch(SettingsStore& store) : m_store(&store)
{
    if (store.m_batching)
        ++store.m_batchDepth;
    else
        m_store = nullptr; // writes go straight to disk, as without a batch
}

SettingsStore::Batch::~Batch()
{
    // No one is left to ask how the rewrite went: say it in the log.
    const QString file = m_store ? m_store->machineFile() : QString();
    if (!commit())
        qCWarning(lcSettings) << "could not write" << file << "; the old file stays as it was";
}

bool SettingsStore::Batch::commit()
{
    SettingsStore* store = std::exchange(m_store, nullptr);
    if (!store)
        return true;
    if (--store->m_batchDepth > 0)
        return true; // the outer batch writes
    return store->writePending();
}

std::unique_ptr<SettingsStore> SettingsStore::forProgramFolder(const QString& programFolder)
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return std::make_unique<SettingsStore>(programFolder + QLatin1String("/machine.ini"),
                                           config + QLatin1String("/Casalux"));
}

QString SettingsStore::machineKey(const QString& path, const QString& name)
{
    QString key = path;
    key.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return key + QLatin1Char('/') + name;
}

bool SettingsStore::has(const File& file, const QString& key)
{
    return file.unwritten.contains(key) || file.settings->contains(key);
}

QString SettingsStore::value(const File& file, const QString& key, const QString& fallback)
{
    if (const auto it = file.unwritten.constFind(key); it != file.unwritten.cend())
        return valueText(*it);
    const QVariant value = file.settings->value(key);
    return value.isValid() ? valueText(value) : fallback;
}

bool SettingsStore::save(File& file, const QString& key, const QString& text, bool now)
{
    ++changes;
    file.unwritten.insert(key, text);
    if (m_batchDepth > 0 && !now) {
        writeWhenIdle();
        return true;
    }
    return commit(file);
}

// One rewrite of the file with everything unwritten: QSettings writes a
// temporary file, syncs it and renames it over the old one.
bool SettingsStore::commit(File& file) const
{
    if (file.unwritten.isEmpty())
        return true;
    ++changes; // the rewrite also takes in what the other program wrote meanwhile
    ++m_rewrites;
    const QString name = file.settings->fileName();
    const FileIdentity before = FileIdentity::of(name);
    for (auto it = file.unwritten.cbegin(); it != file.unwritten.cend(); ++it)
        file.settings->setValue(it.key(), *it);
    file.settings->sync();
    // QSettings goes on reporting its first error for good, so a rewrite
    // that works after one that failed would read as failed too. A rewrite
    // that worked renamed a new file over the old one; one that failed left
    // the old file as it was, and QSettings keeps the values for the next.
    if (file.settings->status() != QSettings::NoError && FileIdentity::of(name) == before)
        return false;
    file.unwritten.clear();
    return true;
}

bool SettingsStore::writePending()
{
    const bool machine = commit(m_machine);
    const bool user = !m_user.settings || commit(m_user);
    return machine && user;
}

// What a batch holds goes to disk as soon as its holder lets the event loop
// run, i.e. waits (a command on the line takes seconds); a batch that runs
// straight through writes once at its end.
void SettingsStore::writeWhenIdle()
{
    if (m_idleWriteQueued)
        return;
    m_idleWriteQueued = true;
    QMetaObject::invokeMethod(
        m_idle.get(),
        [this] {
            m_idleWriteQueued = false;
            if (!writePending())
                qCWarning(lcSettings)
                    << "could not write" << machineFile() << "; the old file stays as it was";
        },
        Qt::QueuedConnection);
}

QString SettingsStore::GetString(Root, const QString& path, const QString& name,
                                 const QString& fallback) const
{
    return value(m_machine, machineKey(path, name), fallback);
}

bool SettingsStore::SaveString(Root, const QString& path, const QString& name, const QString& text)
{
    return save(m_machine, machineKey(path, name), text);
}

SettingsStore::File& SettingsStore::userStore(const QString& app) const
{
    const QString canonical = app.toLower();
    if (!m_user.settings || m_userApp != canonical) {
        ++changes;
        if (m_user.settings) {
            commit(m_user);
            m_user.settings->sync();
        }
        m_user = {std::make_unique<QSettings>(userFile(canonical), QSettings::IniFormat), {}};
        m_userApp = canonical;
    }
    return m_user;
}

QString SettingsStore::GetSetting(const QString& app, const QString& section, const QString& key,
                                  const QString& fallback) const
{
    return value(userStore(app), section + QLatin1Char('/') + key, fallback);
}

bool SettingsStore::SaveSetting(const QString& app, const QString& section, const QString& key,
                                const QString& text)
{
    return save(userStore(app), section + QLatin1Char('/') + key, text);
}

QString SettingsStore::sharedKey(const QString& section, const QString& name)
{
    return machineKey(QString::fromLatin1(settingkeys::casaluxPath) + QLatin1Char('\\') + section,
                      name);
}

QString SettingsStore::readShared(const QString& section, const QString& key,
                                  const QString& fallback) const
{
    const QString machineKeyName = sharedKey(section, key);
    if (has(m_machine, machineKeyName))
        return value(m_machine, machineKeyName, fallback);
    return GetSetting(QString::fromLatin1(settingkeys::appName), section, key, fallback);
}

bool SettingsStore::writeShared(const QString& section, const QString& key, const QString& text)
{
    return save(m_machine, sharedKey(section, key), text);
}

int SettingsStore::moveSharedFromUser()
{
    const QString app = QString::fromLatin1(settingkeys::appName);
    QList<std::pair<QString, QString>> names; // section, key
    for (const SettingKey* key : {&settingkeys::city, &settingkeys::dst, &settingkeys::profile,
                                  &settingkeys::userInstalling})
        names.append({QString::fromLatin1(key->path), QString::fromLatin1(key->name)});
    const QString typeSection = QString::fromLatin1(settingkeys::typeSection);
    QSettings& user = *userStore(app).settings;
    user.beginGroup(typeSection);
    for (const QString& deviceKey : user.childKeys())
        names.append({typeSection, deviceKey});
    user.endGroup();

    Batch batch(*this);
    int moved = 0;
    for (const auto& [section, name] : names) {
        File& mine = userStore(app);
        const QString userKey = section + QLatin1Char('/') + name;
        if (!has(mine, userKey) || has(m_machine, sharedKey(section, name)))
            continue;
        writeShared(section, name, value(mine, userKey, QString()));
        ++moved;
    }
    if (!batch.commit())
        qCWarning(lcSettings) << "could not write" << machineFile() << "; the old file stays as it was";
    return moved;
}

QString SettingsStore::read(const SettingKey& key) const
{
    const QString path = QString::fromLatin1(key.path);
    const QString name = QString::fromLatin1(key.name);
    const QString fallback = QString::fromLatin1(key.fallback);
    if (key.store == SettingStore::Shared)
        return readShared(path, name, fallback);
    if (key.store == SettingStore::Machine)
        return GetString(Root::LocalMachine, path, name, fallback);
    return GetSetting(QString::fromLatin1(settingkeys::appName), path, name, fallback);
}

bool SettingsStore::write(const SettingKey& key, const QString& text)
{
    const QString path = QString::fromLatin1(key.path);
    const QString name = QString::fromLatin1(key.name);
    if (key.store == SettingStore::Shared)
        return writeShared(path, name, text);
    if (key.store != SettingStore::Machine)
        return SaveSetting(QString::fromLatin1(settingkeys::appName), path, name, text);
    // The hand-over flags are acted on by the other program: they go to disk
    // at once, batch or not (with whatever the batch holds).
    const bool handOver = &key == &settingkeys::closeengine || &key == &settingkeys::installing;
    return save(m_machine, machineKey(path, name), text, handOver);
}

void SettingsStore::sync()
{
    ++changes;
    m_machine.settings->sync();
}

QString SettingsStore::machineFile() const
{
    return m_machine.settings->fileName();
}

QString SettingsStore::userFile(const QString& app) const
{
    return m_userFolder + QLatin1Char('/') + app.toLower() + QLatin1String(".ini");
}

quint64 SettingsStore::generation()
{
    return changes;
}

} // namespace casalux
