#include "namelookupcache.h"

#include <QFile>

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

namespace casalux {

QString NameLookupCache::find(const QString& folder, const QString& wanted,
                              const std::function<QString()>& search)
{
    // Taken before the search: a change during it shows next time.
    const FileStamp stamp = FileStamp::of(folder);
    if (m_valid && stamp == m_stamp && folder == m_folder && wanted == m_wanted)
        return m_found;
    m_found = search();
    m_folder = folder;
    m_wanted = wanted;
    m_stamp = stamp;
    m_valid = stamp.settled() && plainFilesOnly(folder, wanted);
    return m_found;
}

bool NameLookupCache::plainFilesOnly(const QString& folder, const QString& wanted)
{
    const QByteArray path = QFile::encodeName(folder);
    DIR* dir = ::opendir(path.constData());
    if (!dir)
        return false;
    const QByteArray wantedBytes = QFile::encodeName(wanted);
    const QString wantedLower = wanted.toLower();
    bool plain = true;
    while (const dirent* entry = ::readdir(dir)) {
        // Both ways a caller may compare names: byte-wise without case, and
        // the names' lower-case texts.
        if (::strcasecmp(entry->d_name, wantedBytes.constData()) != 0 &&
            QFile::decodeName(entry->d_name).toLower() != wantedLower)
            continue;
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            const QByteArray full = path + '/' + entry->d_name;
            regular = ::lstat(full.constData(), &st) == 0 && S_ISREG(st.st_mode);
        }
        if (!regular) {
            plain = false;
            break;
        }
    }
    ::closedir(dir);
    return plain;
}

} // namespace casalux
