#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QTreeWidget>
#include <functional>

namespace casalux {

class DevicePictures;
class RoomList;

// The tree on the left: the five sections of the program, then each room
// with its devices. Every node has a key (a section's or room's name, or
// "device~house~unit" for a device) and, as in the list it mirrors, a node
// whose key is already in the tree is not added again. Sections keep keys
// of their own, so a room named like one (from an older list file) is still
// shown, and every node says what it is. Sections carry a badge and bold
// type, rooms a door, devices the picture of their kind.
class DeviceTree final : public QTreeWidget {
    Q_OBJECT

public:
    static constexpr int keyRole = Qt::UserRole;
    static constexpr int kindRole = Qt::UserRole + 1;

    enum class NodeKind { Section, Room, Device };

    explicit DeviceTree(DevicePictures& pictures, QWidget* parent = nullptr);

    static QStringList sections();

    // Rebuilds every node from the room and device list; `familyOf` gives
    // a device's kind ("bulb" …) by its device key, for its icon.
    void loadtree(const RoomList& rooms,
                  const std::function<QString(const QString& deviceKey)>& familyOf = {});

    // A room or device node by its key, else a section of that name.
    QTreeWidgetItem* findKey(const QString& key) const;
    QTreeWidgetItem* findSection(const QString& name) const;
    static NodeKind kindOf(const QTreeWidgetItem* item);

Q_SIGNALS:
    // Back Space (8), Ctrl+D or "Delete this item" (4), or the Delete key
    // (127), which only earns the hint naming Back Space.
    void deleteRequested(int key);
    // Enter or Space on a node: the same as clicking it.
    void nodeActivated(QTreeWidgetItem* item);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QTreeWidgetItem* addNode(QTreeWidgetItem* parent, const QString& key, const QString& text,
                             NodeKind kind);

    DevicePictures& m_pictures;
    QHash<QString, QTreeWidgetItem*> m_keys;
    QHash<QString, QTreeWidgetItem*> m_sections;
    // When a character last went to the type-ahead search: a Space soon
    // after it is part of a name ("Web Server"), not an activation.
    QElapsedTimer m_typed;
};

} // namespace casalux
