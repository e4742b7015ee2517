#pragma once

#include "filestamp.h"

#include <QString>

#include <functional>

namespace casalux {

// Remembers where a file of a given name, letter case aside, was found in a
// folder, so that the folder need not be searched on every request. The
// answer is kept while the folder's own stamp is unchanged: adding,
// removing or renaming an entry changes it. It is not kept when any entry
// of that name is other than a plain file (a link, a folder), since what a
// link points at can change without the folder changing.
class NameLookupCache final {
public:
    // The answer of `search` (a path, or empty for none) for `wanted` in
    // `folder`, searching again only when the folder may have changed.
    QString find(const QString& folder, const QString& wanted,
                 const std::function<QString()>& search);

private:
    static bool plainFilesOnly(const QString& folder, const QString& wanted);

    QString m_folder;
    QString m_wanted;
    FileStamp m_stamp;
    bool m_valid = false;
    QString m_found;
};

} // namespace casalux
