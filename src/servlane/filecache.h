#pragma once

#include "openfile.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <memory>
#include <sys/stat.h>

namespace servlane {

// Contents of the files served most, so a file asked for again and again is
// read once. Every use checks the file's size, times and identity first, and
// a file changed in the last few seconds is never kept (a second change in
// the same clock tick would not show), so a changed file is always read
// afresh. Bounded in entry size and in total.
class FileCache final {
public:
    static constexpr qint64 kMaxFileSize = 1024 * 1024;
    static constexpr qint64 kMaxTotal = 16 * 1024 * 1024;
    static constexpr qint64 kSettleSeconds = 2;

    explicit FileCache(qint64 settleSeconds = kSettleSeconds) : m_settle(settleSeconds) {}

    // What stat said of a path just now. The server's check that what it
    // is about to answer with is a regular file and the cache's check of
    // its copy share one look at the disk, taken in the same turn of the
    // event loop as the read.
    struct Look {
        bool found = false;
        struct stat st {};
        static Look at(const QString& path);
        bool isRegularFile() const { return found && S_ISREG(st.st_mode); }
    };

    // The file's bytes; false with `error` set when it cannot be read.
    // `look`: the path's look just taken, else it is looked at now.
    bool read(const QString& path, QByteArray& content, QString& error,
              const Look* look = nullptr);

    // A file to send as it is: its bytes when it is small enough to keep
    // (read or kept as `read` does), else the open file to stream from
    // disk, so a large file is never held in memory.
    struct Content {
        QByteArray bytes;
        std::shared_ptr<const OpenFile> file; // set for a file above kMaxFileSize
    };
    bool fetch(const QString& path, Content& content, QString& error, const Look* look = nullptr);

private:
    // `st`: what stat said of the path just now, null when it failed.
    bool readAfterStat(const QString& path, const struct stat* st, QByteArray& content,
                       QString& error);

    struct Stamp {
        qint64 size = -1;
        qint64 mtimeNs = 0;
        qint64 ctimeNs = 0;
        quint64 inode = 0;
        quint64 device = 0;
        bool operator==(const Stamp&) const = default;
    };
    struct Entry {
        Stamp stamp;
        QByteArray content;
    };

    QHash<QString, Entry> m_entries;
    qint64 m_total = 0;
    qint64 m_settle;
};

} // namespace servlane
