#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QStringList>

namespace servlane {

// Finds files under the document root the way the original platform's file
// system did: names compare case-insensitively, an exact match wins. Every
// result is checked against the canonical root after symlinks are resolved,
// so nothing outside the root is ever returned.
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
    // space) below the root.
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

    // The access file holds credentials and is never served or listed.
    static bool isAccessFile(const QString& fileName);
    // Local path of the access file in the folder a request path names
    // ("/sub" or "/sub/" for the folder sub), any letter case; empty when
    // that folder has none. Remembered for kCacheMs, like files.
    QString accessFileIn(const QString& requestFolder) const;

private:
    // Entry of `directory` named `segment`: exact first, then ignoring case.
    static QString findEntry(const QString& directory, const QString& segment);

    Result resolveUncached(const QString& requestPath) const;

    struct Cached {
        Result result;
        qint64 at = 0;
    };
    QString m_root;
    mutable QHash<QString, Cached> m_cache;
    mutable QHash<QString, Cached> m_accessFiles; // folder -> access file (localPath)
    QElapsedTimer m_clock;
};

} // namespace servlane
