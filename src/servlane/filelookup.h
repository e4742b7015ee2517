#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>

namespace servlane {

// Finds files under the document root as a case-insensitive file system
// would: names compare case-insensitively, an exact match wins. Every
// result is checked against the canonical root after symlinks are resolved,
// so nothing outside the root is ever returned, and only folders and
// regular files are: a FIFO or device opened for reading could block the
// one thread everything runs on. Private names (isPrivateName) are never
// found, wherever they appear along the way.
class FileLookup final {
public:
    explicit FileLookup(const QString& documentRoot = {});

    void setDocumentRoot(const QString& documentRoot);
    // Canonical root; empty when the folder does not exist.
    const QString& root() const { return m_root; }

    enum class Check { Ok, BadRequest, Forbidden };
    // Refuses request paths that name anything above a folder ("..", also
    // percent-encoded or with backslashes), encoded slashes or control
    // characters, and invalid percent sequences.
    static Check checkRequestPath(const QString& requestPath);

    struct Result {
        QString localPath; // canonical, when found
        bool exists = false;
        bool isDirectory = false;
        bool outside = false; // found, but it resolves outside the root
    };
    // Resolves a "/"-separated request path ("\" counts as "/", "%20" as a
    // space) below the root. A path ending in a separator names a folder:
    // after a file's name it finds nothing.
    // Files found are remembered for a moment (kCacheMs), which spares the
    // per-segment look-ups when a page is asked for again and again; a
    // miss is never remembered, and forget() drops a file that went away.
    Result resolve(const QString& requestPath) const;
    void forget(const QString& requestPath) const { m_cache.remove(requestPath); }
    static constexpr qint64 kCacheMs = 1000;
    static constexpr qsizetype kCacheEntries = 256;

    // A virtual path (an SSI virtual include, an execcgi program) counts
    // from the document root whatever it says: "\" counts as "/" and every
    // "../" and "./" is dropped; resolve() then refuses whatever is left
    // that would still lead outside the root.
    static QString virtualPath(const QString& path);
    // Local path of the file a virtual path names below the root; empty
    // when there is none or it is a folder.
    QString resolveVirtual(const QString& path) const;

    // First of `names`, in order, that exists as a file in `directory`
    // (a canonical path inside the root); returns the name as configured.
    QString findIndexPage(const QString& directory, const QStringList& names) const;

    // True for the canonical path of the root or anything below it.
    bool contains(const QString& canonicalPath) const;
    // True when a canonical path is inside the root and no name along it
    // below the root is private: what a link may lead to and still be
    // served or listed.
    bool reaches(const QString& canonicalPath) const;

    // The access file holds credentials and is never served or listed.
    static bool isAccessFile(const QString& fileName);
    // Names never served nor listed: dot-files (and dot-folders), the access
    // file, and anything named after it (the copy a login change writes,
    // an editor's backup), in any letter case.
    static bool isPrivateName(const QString& fileName);
    // True for a regular file (symlinks followed), asked of the disk now.
    static bool isRegularFile(const QString& path);

    // Name of the entry of `directory` called `name`: the exact name first,
    // then a name equal to it with letter case ignored (the first in sorted
    // order when several are). `accept`, when given, is asked about each
    // candidate's full path and a refused one is passed over; without it
    // any entry counts, a dangling symlink too. Empty when none fits, and
    // for a name that is not a single entry ("", ".", "..", with a "/").
    static QString findEntry(const QString& directory, const QString& name,
                             const std::function<bool(const QString& path)>& accept = {});

    // The access file guarding what `found` names: a folder's own, the one
    // of the folder holding a file.
    QString accessFileFor(const Result& found) const;
    // For a request that names nothing under the root (a program of the CGI
    // folder): the access file of the folder the path leads to, or the
    // root's when that folder does not exist, so no made-up folder name
    // gets round the root's login.
    QString accessFileAlong(const QString& requestPath) const;

private:
    Result resolveUncached(const QString& requestPath) const;
    // Local path of the access file of a canonical folder inside the root,
    // any letter case; empty when it has none. Any entry of that name
    // counts, even one that is not a readable file: then nobody gets in.
    // Remembered for kCacheMs, like files.
    QString accessFileIn(const QString& canonicalFolder) const;

    struct Cached {
        Result result;
        qint64 at = 0;
    };
    QString m_root;
    mutable QHash<QString, Cached> m_cache;
    mutable QHash<QString, Cached> m_accessFiles; // canonical folder -> access file (localPath)
    QElapsedTimer m_clock;
};

} // namespace servlane
