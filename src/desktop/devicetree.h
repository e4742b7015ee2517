#pragma once

#include <QHash>
#include <QTreeWidget>

namespace casalux {

class RoomList;

// The tree on the left: the five sections of the program, then each room
// with its devices. Every node has a key (a section's or room's name, or
// "device~house~unit" for a device) and, as in the list it mirrors, a node
// whose key is already in the tree is not added again.
class DeviceTree final : public QTreeWidget {
    Q_OBJECT

public:
    static constexpr int keyRole = Qt::UserRole;

    explicit DeviceTree(QWidget* parent = nullptr);

    static QStringList sections();

    // Rebuilds every node from the room and device list.
    void loadtree(const RoomList& rooms);

    QTreeWidgetItem* findKey(const QString& key) const;

Q_SIGNALS:
    // A typed character (its code, 4 for Ctrl+D) or "Delete this item" (4).
    void deleteRequested(int keyAscii);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QTreeWidgetItem* addNode(QTreeWidgetItem* parent, const QString& key, const QString& text);

    QHash<QString, QTreeWidgetItem*> m_keys;
};

} // namespace casalux
