#include "devicepictures.h"

#include <QFile>

namespace casalux {

QIcon DevicePictures::device(const QString& fileName)
{
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
