#pragma once

#include "home/devicestatus.h"
#include "home/roomlist.h"
#include "recordingstatus.h"
#include "scriptedinterface.h"
#include "temphome.h"
#include "x10/devicecommands.h"

#include <QStringList>

namespace casalux::test {

// The parts of the core that switch devices and keep their states, on a
// scripted interface in a throw-away home: what the tests of everything
// that sends commands build on.
struct CoreRig : TempHome {
    RoomList rooms{folder.path()};
    ScriptedInterface control;
    RecordingStatus status;
    DeviceStatus deviceStatus{settings};
    DeviceCommands commands;

    explicit CoreRig(CommandPolicy policy = CommandPolicy::desktop())
        : commands(control, status, policy)
    {
    }

    // Writes the list file and reads it in.
    void loadList(const QByteArray& lines)
    {
        writeList(lines);
        rooms.loadlists();
    }
    void writeList(const QByteArray& lines)
    {
        folder.write(QString::fromLatin1(RoomList::fileName), lines);
    }
    // What went to the interface, as text.
    QStringList sent() const
    {
        QStringList out;
        for (const auto& s : control.sent)
            out.append(s.text());
        return out;
    }
};

} // namespace casalux::test
