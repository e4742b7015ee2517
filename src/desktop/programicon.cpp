#include "programicon.h"

#include <QImageReader>

namespace casalux {

QIcon ProgramIcon::icon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1/org.casalux.Casalux.png").arg(size),
                     QSize(size, size));
    // Without the plug-in the SVG would be an entry that draws nothing.
    if (QImageReader::supportedImageFormats().contains("svg"))
        icon.addFile(QStringLiteral(":/icons/org.casalux.Casalux.svg"));
    return icon;
}

} // namespace casalux
