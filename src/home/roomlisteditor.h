#pragma once

#include "roomlist.h"

#include <QString>
#include <QStringList>

#include <functional>

#include <qcoro/qcorotask.h>

namespace casalux {

class BusyMark;
class Prompts;
class SettingsStore;
class StatusSink;

// Adding and deleting rooms and devices: the file work, the questions and
// the status texts. The main window supplies the boxes' values and rebuilds
// its tree in the reload hook.
class RoomListEditor final {
public:
    // A node of the device tree as the deletion sees it.
    struct TreeNode {
        QString text;
        QString parentText;   // empty for a top-level node
        bool section = false; // one of sectionNames(), not a room named like one
    };

    enum class DeleteOutcome {
        WrongKey,   // not Ctrl+D: the user was told how to delete
        ShowHome,   // the "Home" node: nothing to delete
        ShowEvents, // the "Events" node: nothing to delete
        Cancelled,  // the user answered No, or a section other than those two
        Deleted,
        Failed // the list could not be rewritten; it is as it was
    };

    static constexpr int deleteKey = 4; // Ctrl+D
    // Back Space deletes too: it is the key the hint names.
    static constexpr int backSpaceKey = 8;
    static constexpr const char* eventFileName = "evelst.rvf";

    // The fixed sections of the device tree, in its order. A new room may
    // not be named like one (in any letter case): its node would read like
    // the section's.
    static const QStringList& sectionNames();

    RoomListEditor(RoomList& list, SettingsStore& settings, BusyMark& filebusy, StatusSink& status,
                   Prompts& prompts);

    // Runs after every change that reached the file, once the list is reloaded.
    void setReloadHook(std::function<void()> hook) { m_reloaded = std::move(hook); }

    QCoro::Task<bool> addroom(QString name);
    QCoro::Task<bool> adddevice(QString room, QString name, QString house, QString unitText,
                                QString typeChoice);
    QCoro::Task<DeleteOutcome> deletetree(int key, TreeNode node);

    // The checks a new name passes before it is added, with the messages
    // the user is shown: true when the name may be used. A renamed room or
    // device takes its new name through the same checks.
    QCoro::Task<bool> acceptsRoomName(QString name);
    QCoro::Task<bool> acceptsDeviceName(QString name);
    // Tells the user that the list could not be saved and nothing changed.
    QCoro::Task<> reportFailure(QString error);

private:
    QCoro::Task<bool> refuseName(const QString& name);
    QCoro::Task<DeleteOutcome> deleteRoom(QString room);
    QCoro::Task<DeleteOutcome> deleteDevice(QString room, QString device);
    QCoro::Task<DeleteOutcome> finishDelete();
    void reload();
    QString folderFile(const char* name) const;

    RoomList& m_list;
    SettingsStore& m_settings;
    BusyMark& m_filebusy;
    StatusSink& m_status;
    Prompts& m_prompts;
    std::function<void()> m_reloaded;
};

} // namespace casalux
