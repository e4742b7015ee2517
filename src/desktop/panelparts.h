#pragma once

#include <QtGlobal>

class QLabel;
class QLineEdit;
class QString;
class QWidget;

namespace casalux {

// The parts every right-hand panel is built from.

// A panel's heading: bold, `scale` times the normal size.
QLabel* panelTitle(const QString& text, QWidget* parent, qreal scale = 1.5);

// An entry whose whole text is selected when it gets the focus, so typing
// replaces it.
void selectAllOnEntry(QLineEdit* edit);

} // namespace casalux
