#pragma once

#include "schedule/eventeditor.h"
#include "schedule/eventrecord.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <optional>

#include <qcoro/qcorotask.h>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace casalux {

class DesktopCore;

// The events page: the event list (sortable, Ctrl+D deletes, a double click
// loads a row for editing, a pop-up menu) and the editor that composes one
// event and saves it. While an event is being edited the list and the device
// tree are unusable and the Save button flashes.
class EventsPanel final : public QWidget {
    Q_OBJECT

public:
    static constexpr int flashMs = 1000;

    explicit EventsPanel(DesktopCore& core, QWidget* parent = nullptr);

    static QStringList hourItems();
    static QStringList minuteItems();
    static QStringList offsetItems();
    static QStringList dimItems();

    // The device selector's lines ("Lounge Lamp A3"); the last one is shown.
    void setDevices(const QStringList& lines);
    // The list's rows, sorted on the device column.
    void setRows(const QList<EventRecord>& rows);
    int rowCount() const;
    // Hour and minute selectors to the clock's time.
    void showCurrentTime();

    bool editingevent() const { return m_editing.has_value(); }

Q_SIGNALS:
    // The list file changed: reload the list.
    void listChanged();
    // An edit began (true) or ended: the device tree follows the list.
    void lockChanged(bool locked);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildEditor();
    void buildList();
    void hourChosen(const QString& hour);
    void setHour(const QString& hour, bool refill = false);
    void setMinute(const QString& minute);
    void actionChanged(const QString& action);
    void loadForEditing();
    void newEvent();
    void endEditing();
    void setLocked(bool locked);
    void setButtonsBold(bool saveBold, bool newBold);
    void showListMenu(const QPoint& pos);
    QStringList selectedRow() const;
    EventEditor::Selection selection() const;

    QCoro::Task<> sunNotice(QString which);
    QCoro::Task<> save();
    QCoro::Task<> deleteevent(int key);
    QCoro::Task<> runeventnow();

    DesktopCore& m_core;
    QTreeWidget* m_list = nullptr;
    QComboBox* m_device = nullptr;
    QComboBox* m_hour = nullptr;
    QComboBox* m_minute = nullptr;
    QComboBox* m_action = nullptr;
    QLabel* m_dimLabel = nullptr;
    QComboBox* m_dim = nullptr;
    QComboBox* m_freq = nullptr;
    std::array<QCheckBox*, 7> m_days{};
    QPushButton* m_save = nullptr;
    QPushButton* m_new = nullptr;
    QTimer m_flashsave;
    std::optional<EventRecord> m_editing; // the event loaded for editing
    bool m_sunMinutes = false;            // the minute list holds the sun offsets
};

} // namespace casalux
