#pragma once

#include <QTreeWidgetItem>

namespace casalux {

struct EventRecord;

// One row of the event list: the device, then house code, unit, dim, time,
// action, frequency and days, exactly as the list file holds them (the dim
// shown with "%"), so a row always turns back into its line.
class EventRow final : public QTreeWidgetItem {
public:
    static constexpr int columnCount = 8;
    static constexpr int unitColumn = 2;

    explicit EventRow(const EventRecord& event);

    QStringList texts() const;

    // Sorted as text without regard to case, except the unit column, which
    // sorts by number (so 3 comes before 12).
    bool operator<(const QTreeWidgetItem& other) const override;
};

} // namespace casalux
