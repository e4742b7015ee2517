#include "settingsstore.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace casalux {

namespace {

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

} // namespace

SettingsStore::SettingsStore(const QString& machineIni, const QString& userFolder)
    : m_machine(std::make_unique<QSettings>(machineIni, QSettings::IniFormat)),
      m_userFolder(userFolder)
{
    ++changes; // opening a file may re-read it for other stores on it too
}

SettingsStore::~SettingsStore()
{
    ++changes;
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

QString SettingsStore::GetString(Root, const QString& path, const QString& name,
                                 const QString& fallback) const
{
    const QVariant value = m_machine->value(machineKey(path, name));
    return value.isValid() ? valueText(value) : fallback;
}

bool SettingsStore::SaveString(Root, const QString& path, const QString& name, const QString& text)
{
    ++changes;
    m_machine->setValue(machineKey(path, name), text);
    m_machine->sync();
    return m_machine->status() == QSettings::NoError;
}

QSettings& SettingsStore::userStore(const QString& app) const
{
    const QString canonical = app.toLower();
    if (!m_user || m_userApp != canonical) {
        ++changes;
        if (m_user)
            m_user->sync();
        m_user = std::make_unique<QSettings>(userFile(canonical), QSettings::IniFormat);
        m_userApp = canonical;
    }
    return *m_user;
}

QString SettingsStore::GetSetting(const QString& app, const QString& section, const QString& key,
                                  const QString& fallback) const
{
    const QVariant value = userStore(app).value(section + QLatin1Char('/') + key);
    return value.isValid() ? valueText(value) : fallback;
}

bool SettingsStore::SaveSetting(const QString& app, const QString& section, const QString& key,
                                const QString& text)
{
    QSettings& store = userStore(app);
    ++changes;
    store.setValue(section + QLatin1Char('/') + key, text);
    store.sync();
    return store.status() == QSettings::NoError;
}

QString SettingsStore::read(const SettingKey& key) const
{
    const QString path = QString::fromLatin1(key.path);
    const QString name = QString::fromLatin1(key.name);
    const QString fallback = QString::fromLatin1(key.fallback);
    if (key.store == SettingStore::Machine)
        return GetString(Root::LocalMachine, path, name, fallback);
    return GetSetting(QString::fromLatin1(settingkeys::appName), path, name, fallback);
}

bool SettingsStore::write(const SettingKey& key, const QString& text)
{
    const QString path = QString::fromLatin1(key.path);
    const QString name = QString::fromLatin1(key.name);
    if (key.store == SettingStore::Machine)
        return SaveString(Root::LocalMachine, path, name, text);
    return SaveSetting(QString::fromLatin1(settingkeys::appName), path, name, text);
}

void SettingsStore::sync()
{
    ++changes;
    m_machine->sync();
}

QString SettingsStore::machineFile() const
{
    return m_machine->fileName();
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
