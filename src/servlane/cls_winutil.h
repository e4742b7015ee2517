#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// File tests, the up-time text and private-profile (INI) file access.
class cls_WinUtil final {
public:
    static bool FileExists(const QString& path);
    static bool FolderExists(const QString& path);
    // Days, hours, minutes and seconds, two digits each, joined with ":".
    static QString UpTime(qint64 seconds);

    // Values of `keys` in `section` of the INI file (empty for a missing
    // key), or the error text: "No filename specified", "An unknown error
    // has occured".
    static std::optional<QString> ReadINI(const QString& file, const QString& section,
                                          const QStringList& keys, QStringList& values);
    // Writes keys[i] = values[i]; errors as above, and "Key array and Value
    // array must be of the same size".
    static std::optional<QString> WriteINI(const QString& file, const QString& section,
                                           const QStringList& keys, const QStringList& values);
};
