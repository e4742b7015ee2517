#include "panelparts.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

namespace casalux {

namespace {

class SelectAllFilter final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // After the focus change has been handled, or a click would undo it.
        if (event->type() == QEvent::FocusIn)
            QTimer::singleShot(0, static_cast<QLineEdit*>(watched), &QLineEdit::selectAll);
        return false;
    }
};

} // namespace

QLabel* panelTitle(const QString& text, QWidget* parent, qreal scale)
{
    auto* title = new QLabel(text, parent);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * scale);
    big.setBold(true);
    title->setFont(big);
    return title;
}

void selectAllOnEntry(QLineEdit* edit)
{
    edit->installEventFilter(new SelectAllFilter(edit));
}

} // namespace casalux
