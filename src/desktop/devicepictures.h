#pragma once

#include <QHash>
#include <QPixmap>
#include <QString>

namespace casalux {

// The device pictures of the html folder ("bulbon.gif" …), scaled once per
// size and pixel ratio so they stay sharp on high-DPI screens. A missing
// file gives an empty picture, never an error.
class DevicePictures final {
public:
    explicit DevicePictures(const QString& programFolder);

    // `fileName` drawn `logicalSize` pixels square at `pixelRatio`.
    QPixmap picture(const QString& fileName, int logicalSize, qreal pixelRatio);

private:
    QString m_folder;
    QHash<QString, QPixmap> m_cache;
};

} // namespace casalux
