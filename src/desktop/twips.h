#pragma once

class QWidget;

namespace casalux {

// Sizes given in twips (1/1440 inch) turned into pixels at the DPI of the
// screen a widget is on.
class Twips final {
public:
    static int toPixels(int twips, const QWidget* widget);
};

} // namespace casalux
