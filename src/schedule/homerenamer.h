#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <qcoro/qcorotask.h>

namespace casalux {

class BusyMark;
class Prompts;
class RoomList;
class RoomListEditor;
class SettingsStore;

// Renaming a room or a device. Everything that names it follows: its lines
// in rmlst.rvf; the events naming it in evelst.rvf and in every profile's
// parked schedule; the macros naming it; its kind, last state and level,
// which are kept under its device key; and the web pages' last room. The
// lists are replaced as one change and the settings written after them, so
// a failure anywhere leaves the home as it was.
//
// A new name passes the checks a name passes when it is added (the
// editor's, with its messages), and may not give the key of another room
// or device, which would then share its pages, kind and state.
class HomeRenamer final {
public:
    HomeRenamer(RoomList& list, SettingsStore& settings, BusyMark& filebusy, RoomListEditor& editor,
                Prompts& prompts);

    // The room must be in the list (names compared exactly).
    QCoro::Task<bool> renameroom(QString room, QString newName);
    // The device must be in the room (names compared exactly).
    QCoro::Task<bool> renamedevice(QString room, QString device, QString newName);

private:
    // A device whose name changes: how events and macros name it before
    // and after, its address, and its device key before and after.
    struct Moved {
        QString oldText;
        QString newText;
        QString address;
        QString oldKey;
        QString newKey;
    };

    // Writes the new list and everything that follows the names; empty
    // when done, else why nothing changed. A room's rename passes its old
    // and new name for the pages' last room.
    QString save(const QStringList& listLines, const QList<Moved>& moved, const QString& oldRoom,
                 const QString& newRoom);
    QCoro::Task<bool> refuse(QString why);

    RoomList& m_list;
    SettingsStore& m_settings;
    BusyMark& m_filebusy;
    RoomListEditor& m_editor;
    Prompts& m_prompts;
};

} // namespace casalux
