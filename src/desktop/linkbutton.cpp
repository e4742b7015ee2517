#include "linkbutton.h"

namespace casalux {

LinkButton::LinkButton(const QString& objectName, const QString& text, QWidget* parent)
    : QPushButton(text, parent)
{
    setObjectName(objectName);
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    setStyleSheet(QStringLiteral("QPushButton { color: palette(link); text-align: left; "
                                 "border: none; padding: 2px; }"
                                 "QPushButton:focus { background: palette(alternate-base); }"));
}

} // namespace casalux
