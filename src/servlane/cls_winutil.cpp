#include "cls_winutil.h"

#include <QFileInfo>
#include <QSettings>

bool cls_WinUtil::FileExists(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

bool cls_WinUtil::FolderExists(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

QString cls_WinUtil::UpTime(qint64 seconds)
{
    auto two = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    return two(seconds / 86400) + QLatin1Char(':') + two(seconds / 3600 % 24) + QLatin1Char(':') +
           two(seconds / 60 % 60) + QLatin1Char(':') + two(seconds % 60);
}

std::optional<QString> cls_WinUtil::ReadINI(const QString& file, const QString& section,
                                            const QStringList& keys, QStringList& values)
{
    if (file.trimmed().isEmpty())
        return QStringLiteral("No filename specified");
    QSettings ini(file, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        return QStringLiteral("An unknown error has occured");
    values.clear();
    ini.beginGroup(section);
    for (const QString& key : keys)
        values << ini.value(key).toString();
    return std::nullopt;
}

std::optional<QString> cls_WinUtil::WriteINI(const QString& file, const QString& section,
                                             const QStringList& keys, const QStringList& values)
{
    if (file.trimmed().isEmpty())
        return QStringLiteral("No filename specified");
    if (keys.size() != values.size())
        return QStringLiteral("Key array and Value array must be of the same size");
    QSettings ini(file, QSettings::IniFormat);
    ini.beginGroup(section);
    for (qsizetype i = 0; i < keys.size(); ++i)
        ini.setValue(keys[i], values[i]);
    ini.endGroup();
    ini.sync();
    if (ini.status() != QSettings::NoError)
        return QStringLiteral("An unknown error has occured");
    return std::nullopt;
}
