#include "twips.h"

#include <QWidget>

#include <cmath>

namespace casalux {

int Twips::toPixels(int twips, const QWidget* widget)
{
    return static_cast<int>(std::lround(twips / 1440.0 * widget->logicalDpiX()));
}

} // namespace casalux
