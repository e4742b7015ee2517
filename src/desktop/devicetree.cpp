#include "devicetree.h"

#include "devicepictures.h"
#include "home/devicetype.h"
#include "home/roomlist.h"
#include "home/roomlisteditor.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>

namespace casalux {

DeviceTree::DeviceTree(DevicePictures& pictures, QWidget* parent)
    : QTreeWidget(parent), m_pictures(pictures)
{
    setObjectName(QStringLiteral("Tree"));
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setAccessibleName(QStringLiteral("Rooms and devices"));
    setIconSize(QSize(DevicePictures::treeSize, DevicePictures::treeSize));
}

QStringList DeviceTree::sections()
{
    return RoomListEditor::sectionNames();
}

QTreeWidgetItem* DeviceTree::addNode(QTreeWidgetItem* parent, const QString& key,
                                     const QString& text, NodeKind kind)
{
    auto& keys = kind == NodeKind::Section ? m_sections : m_keys;
    if (keys.contains(key))
        return nullptr;
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
    item->setText(0, text);
    item->setData(0, keyRole, key);
    item->setData(0, kindRole, static_cast<int>(kind));
    keys.insert(key, item);
    return item;
}

void DeviceTree::loadtree(const RoomList& rooms,
                          const std::function<QString(const QString& deviceKey)>& familyOf)
{
    clear();
    m_keys.clear();
    m_sections.clear();
    for (const QString& section : sections()) {
        QTreeWidgetItem* item = addNode(nullptr, section, section, NodeKind::Section);
        if (!item)
            continue;
        item->setIcon(0, m_pictures.section(section));
        QFont font = item->font(0);
        font.setBold(true);
        item->setFont(0, font);
    }

    QString previousRoom;
    bool first = true;
    for (const RoomRecord& record : rooms.records()) {
        // A room is met again whenever its lines are split by another room's;
        // its key is then already taken and the first node keeps all devices.
        if (first || record.room != previousRoom) {
            if (QTreeWidgetItem* room = addNode(nullptr, record.room, record.room, NodeKind::Room))
                room->setIcon(0, m_pictures.room());
        }
        first = false;
        previousRoom = record.room;
        if (record.isRoom())
            continue;
        QTreeWidgetItem* room = m_keys.value(record.room);
        if (!room)
            continue;
        QTreeWidgetItem* device = addNode(room,
                                          record.device + QLatin1Char('~') + record.house +
                                              QLatin1Char('~') + QString::number(record.unit),
                                          record.device, NodeKind::Device);
        // The kind's lit picture: it names the kind, not the device's state.
        if (device)
            device->setIcon(
                0, m_pictures.device(DeviceType::pictureOn(familyOf ? familyOf(record.deviceKey())
                                                                    : QStringLiteral("switch"))));
    }
    expandAll();
}

QTreeWidgetItem* DeviceTree::findKey(const QString& key) const
{
    if (QTreeWidgetItem* item = m_keys.value(key))
        return item;
    return m_sections.value(key);
}

QTreeWidgetItem* DeviceTree::findSection(const QString& name) const
{
    return m_sections.value(name);
}

DeviceTree::NodeKind DeviceTree::kindOf(const QTreeWidgetItem* item)
{
    return static_cast<NodeKind>(item->data(0, kindRole).toInt());
}

void DeviceTree::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods =
        event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    int code = 0;
    if (mods == Qt::ControlModifier && event->key() == Qt::Key_D)
        code = RoomListEditor::deleteKey;
    else if (mods == Qt::NoModifier && event->key() == Qt::Key_Backspace)
        code = RoomListEditor::backSpaceKey;
    else if (mods == Qt::NoModifier && event->key() == Qt::Key_Delete)
        code = 127;
    if (code != 0) {
        Q_EMIT deleteRequested(code);
        event->accept();
        return;
    }

    const bool searching =
        m_typed.isValid() && m_typed.elapsed() < QApplication::keyboardInputInterval();
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool space = event->key() == Qt::Key_Space && !searching;
    if (mods == Qt::NoModifier && (enter || space)) {
        if (QTreeWidgetItem* item = currentItem()) {
            setCurrentItem(item); // Space would otherwise leave it unselected
            Q_EMIT nodeActivated(item);
        }
        event->accept();
        return;
    }
    // Typed characters go to the type-ahead search; arrows, Home/End and
    // the like keep moving through the tree.
    if (!event->text().isEmpty() && event->text().at(0).isPrint())
        m_typed.start();
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
