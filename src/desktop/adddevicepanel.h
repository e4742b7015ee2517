#pragma once

#include <QWidget>

#include <qcoro/qcorotask.h>

class QComboBox;
class QLineEdit;

namespace casalux {

class DesktopCore;

// "Add a new device": its room, name, X10 address and kind.
class AddDevicePanel final : public QWidget {
    Q_OBJECT

public:
    explicit AddDevicePanel(DesktopCore& core, QWidget* parent = nullptr);

    // The kinds offered, in the order the list shows them.
    static QStringList typeItems();

    // Refills the room box; its text is the room added last.
    void setRooms(const QStringList& rooms);
    void focusName();

Q_SIGNALS:
    void saved();

private:
    QCoro::Task<> save();

    DesktopCore& m_core;
    QComboBox* m_room = nullptr;
    QLineEdit* m_name = nullptr;
    QComboBox* m_house = nullptr;
    QComboBox* m_unit = nullptr;
    QComboBox* m_type = nullptr;
};

} // namespace casalux
