#include "devicetree.h"

#include "home/roomlist.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>

namespace casalux {

DeviceTree::DeviceTree(QWidget* parent) : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("Tree"));
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setAccessibleName(QStringLiteral("Rooms and devices"));
}

QStringList DeviceTree::sections()
{
    return {QStringLiteral("Home"), QStringLiteral("Events"), QStringLiteral("Macros"),
            QStringLiteral("Web Server"), QStringLiteral("Profiles")};
}

QTreeWidgetItem* DeviceTree::addNode(QTreeWidgetItem* parent, const QString& key,
                                     const QString& text)
{
    if (m_keys.contains(key))
        return nullptr;
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
    item->setText(0, text);
    item->setData(0, keyRole, key);
    m_keys.insert(key, item);
    return item;
}

void DeviceTree::loadtree(const RoomList& rooms)
{
    clear();
    m_keys.clear();
    for (const QString& section : sections())
        addNode(nullptr, section, section);

    QString previousRoom;
    bool first = true;
    for (const RoomRecord& record : rooms.records()) {
        // A room is met again whenever its lines are split by another room's;
        // its key is then already taken and the first node keeps all devices.
        if (first || record.room != previousRoom)
            addNode(nullptr, record.room, record.room);
        first = false;
        previousRoom = record.room;
        if (record.isRoom())
            continue;
        QTreeWidgetItem* room = m_keys.value(record.room);
        if (!room)
            continue;
        addNode(room,
                record.device + QLatin1Char('~') + record.house + QLatin1Char('~') +
                    QString::number(record.unit),
                record.device);
    }
    expandAll();
}

QTreeWidgetItem* DeviceTree::findKey(const QString& key) const
{
    return m_keys.value(key);
}

void DeviceTree::keyPressEvent(QKeyEvent* event)
{
    // Only keys that type a character count as a delete request; arrows,
    // Home/End and the like keep moving through the tree.
    int code = 0;
    if ((event->modifiers() & Qt::ControlModifier) && event->key() == Qt::Key_D)
        code = 4;
    else if (!event->text().isEmpty() && event->text().at(0).unicode() >= 32 &&
             event->text().at(0).unicode() != 127)
        code = event->text().at(0).unicode();
    if (code != 0) {
        Q_EMIT deleteRequested(code);
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void DeviceTree::contextMenuEvent(QContextMenuEvent* event)
{
    QTreeWidgetItem* item = itemAt(viewport()->mapFrom(this, event->pos()));
    if (!item)
        return;
    setCurrentItem(item);
    // popup(), not exec(): no nested event loop. The menu deletes itself.
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* remove = menu->addAction(QStringLiteral("Delete this item"));
    remove->setObjectName(QStringLiteral("mnu_deleteitem"));
    connect(remove, &QAction::triggered, this, [this] { Q_EMIT deleteRequested(4); });
    menu->popup(event->globalPos());
}

} // namespace casalux
