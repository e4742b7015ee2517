#include "devicepictures.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>

namespace casalux {

DevicePictures::DevicePictures(QString htmlFolder) : m_htmlFolder(std::move(htmlFolder)) {}

QIcon DevicePictures::device(const QString& fileName)
{
    if (QIcon own = homeOwn(fileName); !own.isNull())
        return own;
    QString name = fileName;
    if (name.endsWith(QLatin1String(".gif"), Qt::CaseInsensitive))
        name.chop(4);
    return load(name, true);
}

QIcon DevicePictures::section(const QString& sectionName)
{
    return load(QStringLiteral("section-") + sectionName.toLower().remove(QLatin1Char(' ')), false);
}

QIcon DevicePictures::room()
{
    return load(QStringLiteral("room"), false);
}

bool DevicePictures::shipped(const QByteArray& contents)
{
    // The SHA-256 of each GIF in html/, taken when the program is built.
    static const QList<QByteArray> ours =
        QByteArrayLiteral(CASALUX_SHIPPED_PICTURES).split(' ');
    return ours.contains(QCryptographicHash::hash(contents, QCryptographicHash::Sha256).toHex());
}

QIcon DevicePictures::homeOwn(const QString& fileName)
{
    // Only a plain name: the page's picture, never a path elsewhere.
    if (m_htmlFolder.isEmpty() || fileName.contains(QLatin1Char('/')) ||
        fileName.startsWith(QLatin1Char('.')))
        return {};
    const QFileInfo info(m_htmlFolder + QLatin1Char('/') + fileName);
    if (!info.isFile()) {
        m_own.remove(fileName);
        return {};
    }
    OwnPicture& own = m_own[fileName];
    if (own.modified == info.lastModified() && own.size == info.size())
        return own.icon;
    own = {info.lastModified(), info.size(), QIcon()};
    QFile file(info.filePath());
    if (info.size() > 1024 * 1024 || !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray contents = file.readAll();
    if (shipped(contents))
        return {};
    const QImage picture = QImage::fromData(contents);
    if (!picture.isNull()) // else the built-in picture stands in
        own.icon = QIcon(QPixmap::fromImage(picture.scaled(
            tileSize, tileSize, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    return own.icon;
}

QIcon DevicePictures::load(const QString& name, bool tileSizes)
{
    const auto cached = m_cache.constFind(name);
    if (cached != m_cache.constEnd())
        return *cached;
    QIcon icon;
    QList<int> sizes{treeSize, 2 * treeSize};
    if (tileSizes)
        sizes << tileSize << 2 * tileSize;
    for (const int size : sizes) {
        const QString path = QStringLiteral(":/pictures/%1/%2.png").arg(size).arg(name);
        // addFile() takes a missing file too, and the icon would then claim
        // a picture it cannot draw.
        if (QFile::exists(path))
            icon.addFile(path, QSize(size, size));
    }
    m_cache.insert(name, icon);
    return icon;
}

} // namespace casalux
