#pragma once

#include <QWidget>

#include <qcoro/qcorotask.h>

class QComboBox;
class QListWidget;

namespace casalux {

class DesktopCore;

// The macros panel: a trigger device and its action, a target device and
// what it should do, Save, and the list of macros (a click deletes one).
class MacrosPanel final : public QWidget {
    Q_OBJECT

public:
    explicit MacrosPanel(DesktopCore& core, QWidget* parent = nullptr);

    // Both device selectors' lines; the last one is shown.
    void setDevices(const QStringList& lines);
    // The macro list, each line with its "~" shown as blanks.
    void setMacros(const QStringList& lines);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QCoro::Task<> save();
    QCoro::Task<> deletemacro(QString selected);

    DesktopCore& m_core;
    QComboBox* m_trigger = nullptr;
    QComboBox* m_triggerAction = nullptr;
    QComboBox* m_target = nullptr;
    QComboBox* m_targetAction = nullptr;
    QListWidget* m_list = nullptr;
};

} // namespace casalux
