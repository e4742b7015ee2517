#include "filecache.h"

#include <QFile>

#include <ctime>

namespace servlane {

FileCache::Look FileCache::Look::at(const QString& path)
{
    Look look;
    look.found = ::stat(QFile::encodeName(path).constData(), &look.st) == 0;
    return look;
}

bool FileCache::read(const QString& path, QByteArray& content, QString& error, const Look* look)
{
    const Look now = look ? *look : Look::at(path);
    return readAfterStat(path, now.found ? &now.st : nullptr, content, error);
}

bool FileCache::readAfterStat(const QString& path, const struct stat* st, QByteArray& content,
                              QString& error)
{
    Stamp stamp;
    bool keep = false;
    if (st && S_ISREG(st->st_mode)) {
        stamp.size = qint64(st->st_size);
        stamp.mtimeNs = qint64(st->st_mtim.tv_sec) * 1'000'000'000 + st->st_mtim.tv_nsec;
        stamp.ctimeNs = qint64(st->st_ctim.tv_sec) * 1'000'000'000 + st->st_ctim.tv_nsec;
        stamp.inode = quint64(st->st_ino);
        stamp.device = quint64(st->st_dev);
        const auto it = m_entries.constFind(path);
        if (it != m_entries.constEnd() && it->stamp == stamp) {
            content = it->content;
            return true;
        }
        const qint64 now = qint64(::time(nullptr));
        keep = stamp.size <= kMaxFileSize &&
               now - qint64(qMax(st->st_mtim.tv_sec, st->st_ctim.tv_sec)) >= m_settle;
    }
    // Whatever the read brings, a kept copy of this path is out of date.
    m_total -= m_entries.value(path).content.size();
    m_entries.remove(path);
    const std::shared_ptr<const OpenFile> file = OpenFile::open(path, &error);
    if (!file)
        return false;
    content = file->read(0, file->size());
    // Kept only when what was read is what the look-up before it described.
    if (keep && content.size() == stamp.size) {
        while (!m_entries.isEmpty() && m_total + content.size() > kMaxTotal) {
            m_total -= m_entries.begin()->content.size();
            m_entries.erase(m_entries.begin());
        }
        m_entries.insert(path, Entry{stamp, content});
        m_total += content.size();
    }
    return true;
}

bool FileCache::fetch(const QString& path, Content& content, QString& error, const Look* look)
{
    content = Content();
    // One look at the file serves both the choice and the cache's check.
    const Look now = look ? *look : Look::at(path);
    const struct stat& st = now.st;
    const bool found = now.found;
    if (found && qint64(st.st_size) > kMaxFileSize) {
        content.file = OpenFile::open(path, &error);
        if (!content.file)
            return false;
        if (content.file->size() > kMaxFileSize) {
            m_total -= m_entries.value(path).content.size();
            m_entries.remove(path);
            return true;
        }
        content.file.reset(); // shrank since: small enough to read after all
        return read(path, content.bytes, error);
    }
    return readAfterStat(path, found ? &st : nullptr, content.bytes, error);
}

} // namespace servlane
