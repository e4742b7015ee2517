#include "eventrow.h"

#include "schedule/eventrecord.h"

namespace casalux {

EventRow::EventRow(const EventRecord& event)
{
    const QStringList cells = event.row();
    for (int column = 0; column < columnCount && column < cells.size(); ++column)
        setText(column, cells.at(column));
}

QStringList EventRow::texts() const
{
    QStringList out;
    for (int column = 0; column < columnCount; ++column)
        out.append(text(column));
    return out;
}

bool EventRow::operator<(const QTreeWidgetItem& other) const
{
    const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
    if (column == unitColumn)
        return text(column).toInt() < other.text(column).toInt();
    return text(column).compare(other.text(column), Qt::CaseInsensitive) < 0;
}

} // namespace casalux
