#pragma once

#include <QDateTime>
#include <QHash>
#include <QIcon>
#include <QString>

namespace casalux {

// The pictures the window draws. A device kind's picture on and off is the
// home's own when its html folder holds one by the pages' name
// ("bulbon.gif"), so a picture put there shows in the window as on the
// pages. The pictures we ship there are drawn from the same SVGs
// (src/desktop/pictures) as the ones built into the program, which the
// window draws instead: the same drawing, transparent and sharp at 2x. The
// same goes for a home without the file. The tree's section and room icons
// are always built in. An unknown name gives an empty icon.
class DevicePictures final {
public:
    static constexpr int tileSize = 64; // logical pixels on a room view tile
    static constexpr int treeSize = 20; // logical pixels in the tree

    // `htmlFolder`: the home's pages and pictures; empty for built-in only.
    explicit DevicePictures(QString htmlFolder = {});

    // The picture the pages know as `fileName`.
    QIcon device(const QString& fileName);
    // "Home", "Events", "Macros", "Web Server" or "Profiles".
    QIcon section(const QString& sectionName);
    QIcon room();

    // Whether `contents` is one of the pictures we ship in html/.
    static bool shipped(const QByteArray& contents);

private:
    // A picture put in the folder while the program runs shows at the next
    // redraw: each is read again when its file changes.
    struct OwnPicture {
        QDateTime modified;
        qint64 size = -1;
        QIcon icon; // none: shipped, unreadable or not a picture
    };

    QIcon load(const QString& name, bool tileSizes);
    QIcon homeOwn(const QString& fileName);

    QString m_htmlFolder;
    QHash<QString, QIcon> m_cache;
    QHash<QString, OwnPicture> m_own;
};

} // namespace casalux
