#pragma once

#include <QString>

// Registry values the server reads. On Linux the one it needs, the content
// type of a file extension (HKEY_CLASSES_ROOT\.ext, value "Content Type"),
// comes from the platform's MIME database; any other value reads as empty,
// which callers treat as "not found".
class CRegSettings final {
public:
    static QString ReadValue(const QString& root, const QString& keyPath,
                             const QString& valueName);
};
