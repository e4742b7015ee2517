#include "filelookup.h"

#include "percentcodec.h"

#include <QDir>
#include <QFileInfo>

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

QString FileLookup::findEntry(const QString& directory, const QString& segment)
{
    const QString exact = directory + QLatin1Char('/') + segment;
    if (QFileInfo::exists(exact) || QFileInfo(exact).isSymLink())
        return segment;
    const QStringList entries = QDir(directory).entryList(QDir::AllEntries | QDir::Hidden |
                                                          QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        if (entry.compare(segment, Qt::CaseInsensitive) == 0)
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
        if (entry.isEmpty())
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
    result.localPath = canonical;
    result.exists = true;
    result.isDirectory = QFileInfo(canonical).isDir();
    return result;
}

QString FileLookup::findIndexPage(const QString& directory, const QStringList& names) const
{
    for (const QString& name : names) {
        if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
            continue;
        const QString entry = findEntry(directory, name);
        if (entry.isEmpty())
            continue;
        const QString canonical =
            QFileInfo(directory + QLatin1Char('/') + entry).canonicalFilePath();
        if (!canonical.isEmpty() && contains(canonical) && QFileInfo(canonical).isFile())
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

QString FileLookup::accessFileIn(const QString& requestFolder) const
{
    const qint64 now = m_clock.isValid() ? m_clock.elapsed() : 0;
    if (const auto it = m_accessFiles.constFind(requestFolder); it != m_accessFiles.constEnd()) {
        if (now - it->at < kCacheMs)
            return it->result.localPath;
        m_accessFiles.erase(it);
    }
    QString folder;
    if (requestFolder.isEmpty() || requestFolder == QLatin1String("/")) {
        folder = m_root;
    } else {
        const Result found = resolveUncached(requestFolder);
        if (found.exists && found.isDirectory)
            folder = found.localPath;
    }
    Result r;
    if (!folder.isEmpty()) {
        const QString entry = findEntry(folder, QStringLiteral("htaccess.txt"));
        if (!entry.isEmpty() && QFileInfo(folder + QLatin1Char('/') + entry).isFile()) {
            r.localPath = folder + QLatin1Char('/') + entry;
            r.exists = true;
        }
    }
    if (m_accessFiles.size() >= kCacheEntries)
        m_accessFiles.clear();
    m_accessFiles.insert(requestFolder, Cached{r, now});
    return r.localPath;
}

bool FileLookup::isAccessFile(const QString& fileName)
{
    return fileName.compare(QLatin1String("htaccess.txt"), Qt::CaseInsensitive) == 0;
}

} // namespace servlane
