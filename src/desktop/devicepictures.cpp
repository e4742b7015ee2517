#include "devicepictures.h"

#include <QImage>

#include <cmath>

namespace casalux {

DevicePictures::DevicePictures(const QString& programFolder) : m_folder(programFolder) {}

QPixmap DevicePictures::picture(const QString& fileName, int logicalSize, qreal pixelRatio)
{
    const QString key = QStringLiteral("%1@%2x%3").arg(fileName).arg(logicalSize).arg(pixelRatio);
    const auto cached = m_cache.constFind(key);
    if (cached != m_cache.constEnd())
        return *cached;

    QImage image(m_folder + QStringLiteral("/html/") + fileName);
    QPixmap pixmap;
    if (!image.isNull()) {
        // Scale from the source once, smoothly, to the device pixels the
        // picture will cover; Qt then draws it 1:1 instead of stretching a
        // small bitmap at paint time.
        const int side = static_cast<int>(std::lround(logicalSize * pixelRatio));
        pixmap = QPixmap::fromImage(image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                                        .scaled(side, side, Qt::KeepAspectRatio,
                                                Qt::SmoothTransformation));
        pixmap.setDevicePixelRatio(pixelRatio);
    }
    m_cache.insert(key, pixmap);
    return pixmap;
}

} // namespace casalux
