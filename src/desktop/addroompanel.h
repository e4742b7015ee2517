#pragma once

#include <QWidget>

#include <qcoro/qcorotask.h>

class QLineEdit;

namespace casalux {

class DesktopCore;

// "Add a new room": a name box and Save.
class AddRoomPanel final : public QWidget {
    Q_OBJECT

public:
    explicit AddRoomPanel(DesktopCore& core, QWidget* parent = nullptr);

    void focusName();

Q_SIGNALS:
    // The room is in the list (the tree was rebuilt by the list's reload).
    void saved();

private:
    QCoro::Task<> save();

    DesktopCore& m_core;
    QLineEdit* m_name = nullptr;
};

} // namespace casalux
