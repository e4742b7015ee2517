#include "filelookup.h"

#include "percentcodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <sys/stat.h>
#endif

namespace servlane {

FileLookup::FileLookup(const QString& documentRoot)
{
    setDocumentRoot(documentRoot);
}

void FileLookup::setDocumentRoot(const QString& documentRoot)
{
    m_root.clear();
    m_cache.clear();
    m_accessFiles.clear();
    m_clock.start();
    if (documentRoot.isEmpty())
        return;
    QString path = documentRoot;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QFileInfo info(path);
    if (info.isDir())
        m_root = info.canonicalFilePath();
}

FileLookup::Check FileLookup::checkRequestPath(const QString& requestPath)
{
    QString path = requestPath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QStringList segments = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& segment : segments) {
        const auto decoded = PercentCodec::decodeStrict(segment.toLatin1());
        if (!decoded)
            return Check::BadRequest;
        for (const char c : *decoded) {
            const auto u = static_cast<unsigned char>(c);
            if (u < 0x20 || u == 0x7f)
                return Check::BadRequest;
        }
        if (decoded->contains('/') || decoded->contains('\\'))
            return Check::Forbidden;
        if (*decoded == "." || *decoded == "..")
            return Check::Forbidden;
    }
    return Check::Ok;
}

bool FileLookup::isRegularFile(const QString& path)
{
#ifdef Q_OS_UNIX
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
#else
    return QFileInfo(path).isFile();
#endif
}

QString FileLookup::findEntry(const QString& directory, const QString& name,
                              const std::function<bool(const QString& path)>& accept)
{
    if (directory.isEmpty() || name.isEmpty() || name == QLatin1String(".") ||
        name == QLatin1String("..") || name.contains(QLatin1Char('/')) || name.contains(QChar(0)))
        return {};
    const auto fits = [&](const QString& entry) {
        const QString path = directory + QLatin1Char('/') + entry;
        if (accept)
            return accept(path);
#ifdef Q_OS_UNIX
        struct stat st {};
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
#else
        const QFileInfo info(path);
        return info.exists() || info.isSymLink();
#endif
    };
    if (fits(name))
        return name;

    QStringList matches;
#ifdef Q_OS_UNIX
    // The names alone: a QDir listing would also describe and sort every
    // entry, which costs many times more in a folder of pages and pictures.
    DIR* dir = ::opendir(QFile::encodeName(directory).constData());
    if (!dir)
        return {};
    while (const dirent* e = ::readdir(dir)) {
        const QString entry = QFile::decodeName(e->d_name);
        if (entry != name && entry.compare(name, Qt::CaseInsensitive) == 0)
            matches << entry;
    }
    ::closedir(dir);
#else
    const QStringList all = QDir(directory).entryList(QDir::AllEntries | QDir::Hidden |
                                                      QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : all) {
        if (entry != name && entry.compare(name, Qt::CaseInsensitive) == 0)
            matches << entry;
    }
#endif
    // Several spellings of one name: always the same one, whatever order the
    // folder lists them in.
    std::sort(matches.begin(), matches.end());
    for (const QString& entry : std::as_const(matches)) {
        if (fits(entry))
            return entry;
    }
    return {};
}

FileLookup::Result FileLookup::resolve(const QString& requestPath) const
{
    const qint64 now = m_clock.isValid() ? m_clock.elapsed() : 0;
    if (const auto it = m_cache.constFind(requestPath); it != m_cache.constEnd()) {
        if (now - it->at < kCacheMs)
            return it->result;
        m_cache.erase(it);
    }
    const Result result = resolveUncached(requestPath);
    if (result.exists && !result.isDirectory && m_clock.isValid()) {
        if (m_cache.size() >= kCacheEntries)
            m_cache.clear();
        m_cache.insert(requestPath, Cached{result, now});
    }
    return result;
}

QString FileLookup::virtualPath(const QString& path)
{
    QString relative = path;
    relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
    relative.remove(QLatin1String("../"));
    relative.remove(QLatin1String("./"));
    return relative;
}

QString FileLookup::resolveVirtual(const QString& path) const
{
    const Result found = resolve(virtualPath(path));
    return found.exists && !found.isDirectory ? found.localPath : QString();
}

FileLookup::Result FileLookup::resolveUncached(const QString& requestPath) const
{
    Result result;
    if (m_root.isEmpty() || checkRequestPath(requestPath) != Check::Ok)
        return result;
    QString path = PercentCodec::decodeSpaces(requestPath);
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const bool folderWanted = path.endsWith(QLatin1Char('/'));
    QString current = m_root;
    const QStringList segments = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& segment : segments) {
        if (!QFileInfo(current).isDir())
            return result;
        QString entry = findEntry(current, segment);
        if (entry.isEmpty() && segment.contains(QLatin1Char('%'))) {
            // Listing links encode names; decode them strictly as a second try.
            const auto decoded = PercentCodec::decodeStrict(segment.toLatin1());
            if (decoded)
                entry = findEntry(current, QString::fromLatin1(*decoded));
        }
        if (entry.isEmpty() || isPrivateName(entry))
            return result;
        current += QLatin1Char('/') + entry;
    }
    const QFileInfo info(current);
    const QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty())
        return result; // dangling symlink
    if (!contains(canonical)) {
        result.outside = true;
        return result;
    }
    if (!reaches(canonical))
        return result; // a link to a private name under another one
    const bool directory = QFileInfo(canonical).isDir();
    if (!directory && (folderWanted || !isRegularFile(canonical)))
        return result;
    result.localPath = canonical;
    result.exists = true;
    result.isDirectory = directory;
    return result;
}

QString FileLookup::findIndexPage(const QString& directory, const QStringList& names) const
{
    for (const QString& name : names) {
        if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
            isPrivateName(name))
            continue;
        const QString entry = findEntry(directory, name);
        if (entry.isEmpty())
            continue;
        const QString canonical =
            QFileInfo(directory + QLatin1Char('/') + entry).canonicalFilePath();
        if (!canonical.isEmpty() && contains(canonical) && isRegularFile(canonical) &&
            !isPrivateName(QFileInfo(canonical).fileName()))
            return name;
    }
    return {};
}

bool FileLookup::contains(const QString& canonicalPath) const
{
    if (m_root.isEmpty() || canonicalPath.isEmpty())
        return false;
    if (canonicalPath == m_root)
        return true;
    const QString prefix = m_root.endsWith(QLatin1Char('/')) ? m_root : m_root + QLatin1Char('/');
    return canonicalPath.startsWith(prefix);
}

bool FileLookup::reaches(const QString& canonicalPath) const
{
    if (!contains(canonicalPath))
        return false;
    const QStringList below =
        canonicalPath.mid(m_root.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return std::none_of(below.begin(), below.end(), isPrivateName);
}

QString FileLookup::accessFileIn(const QString& canonicalFolder) const
{
    if (!contains(canonicalFolder))
        return {};
    const qint64 now = m_clock.isValid() ? m_clock.elapsed() : 0;
    if (const auto it = m_accessFiles.constFind(canonicalFolder); it != m_accessFiles.constEnd()) {
        if (now - it->at < kCacheMs)
            return it->result.localPath;
        m_accessFiles.erase(it);
    }
    Result r;
    const QString entry = findEntry(canonicalFolder, QStringLiteral("htaccess.txt"));
    if (!entry.isEmpty()) {
        r.localPath = canonicalFolder + QLatin1Char('/') + entry;
        r.exists = true;
    }
    if (m_accessFiles.size() >= kCacheEntries)
        m_accessFiles.clear();
    m_accessFiles.insert(canonicalFolder, Cached{r, now});
    return r.localPath;
}

QString FileLookup::accessFileFor(const Result& found) const
{
    if (!found.exists)
        return {};
    // localPath is canonical, so its folder is the one that really holds it.
    return accessFileIn(found.isDirectory ? found.localPath
                                          : QFileInfo(found.localPath).absolutePath());
}

QString FileLookup::accessFileAlong(const QString& requestPath) const
{
    QString path = requestPath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const Result folder = resolve(path.left(path.lastIndexOf(QLatin1Char('/')) + 1));
    return accessFileIn(folder.exists && folder.isDirectory ? folder.localPath : m_root);
}

bool FileLookup::isAccessFile(const QString& fileName)
{
    return fileName.compare(QLatin1String("htaccess.txt"), Qt::CaseInsensitive) == 0;
}

bool FileLookup::isPrivateName(const QString& fileName)
{
    return fileName.startsWith(QLatin1Char('.')) ||
           fileName.startsWith(QLatin1String("htaccess.txt"), Qt::CaseInsensitive);
}

} // namespace servlane
