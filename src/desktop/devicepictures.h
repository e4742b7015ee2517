#pragma once

#include <QHash>
#include <QIcon>
#include <QString>

namespace casalux {

// The pictures the window draws, built into the program from our own SVG
// drawings (src/desktop/pictures): each device kind on and off, named like
// the pages' GIFs ("bulbon.gif"), and the tree's section and room icons.
// Each comes in the sizes the window draws at 1x and 2x, transparent, so it
// sits on light and dark themes alike. An unknown name gives an empty icon.
class DevicePictures final {
public:
    static constexpr int tileSize = 64; // logical pixels on a room view tile
    static constexpr int treeSize = 20; // logical pixels in the tree

    // The picture the pages know as `fileName`.
    QIcon device(const QString& fileName);
    // "Home", "Events", "Macros", "Web Server" or "Profiles".
    QIcon section(const QString& sectionName);
    QIcon room();

private:
    QIcon load(const QString& name, bool tileSizes);

    QHash<QString, QIcon> m_cache;
};

} // namespace casalux
