#pragma once

#include "fakeroomview.h"
#include "home/roomlist.h"
#include "home/settingkeys.h"
#include "homecore.h"
#include "recordingstatus.h"
#include "scriptedinterface.h"
#include "temphome.h"

#include <QStringList>

namespace casalux::test {

// The core a program runs, built whole in a throw-away home around an
// interface the test drives: status texts are recorded, the room view is a
// fake whose slots the test fills, and the macros the core would set off
// are recorded as "A3 2" (address, function). Nothing is served or
// connected until the test starts it.
template <class Interface>
struct CoreOn : TempHome {
    Interface control;
    RecordingStatus status;
    FakeRoomView view;
    QStringList macroCalls; // set off by a device command
    QStringList triggers;   // set off by a command seen on the power line
    HomeCore core;

    // The desktop program's policies unless the test asks for another
    // host's; texts and pictures go to the fakes above whatever it says.
    explicit CoreOn(HomeCore::Host host = desktop())
        : core(folder.path(), settings, control, withFakes(std::move(host)))
    {
        core.commands.setMacroHook(recorder(macroCalls));
        core.traffic.setMacroTrigger(recorder(triggers));
    }

    static HomeCore::Host desktop()
    {
        return {.holder = QStringLiteral("desktop"),
                .commands = CommandPolicy::desktop(),
                .scheduler = SchedulerPolicy::desktop()};
    }
    static HomeCore::Host engine()
    {
        return {.holder = QStringLiteral("engine"),
                .commands = CommandPolicy::engine(),
                .scheduler = SchedulerPolicy::engine()};
    }

    // Writes the list file and reads it in.
    void loadList(const QByteArray& lines)
    {
        writeList(lines);
        core.rooms.loadlists();
    }
    void writeList(const QByteArray& lines)
    {
        folder.write(QString::fromLatin1(RoomList::fileName), lines);
    }
    // The picture family of a device, as the desktop's add-device panel stores it.
    void setKind(const QString& deviceKey, const QString& family)
    {
        settings.SaveSetting(QString::fromLatin1(settingkeys::appName),
                             QString::fromLatin1(settingkeys::typeSection), deviceKey, family);
    }
    // What went to a scripted interface, as text.
    QStringList sent() const
    {
        QStringList out;
        for (const auto& s : control.sent)
            out.append(s.text());
        return out;
    }

private:
    HomeCore::Host withFakes(HomeCore::Host host)
    {
        host.status = &status;
        host.view = &view;
        return host;
    }
    static auto recorder(QStringList& calls)
    {
        return [&calls](const QString& house, const QString& unit, int code) {
            calls.append(QStringLiteral("%1%2 %3").arg(house, unit).arg(code));
        };
    }
};

// On the scripted interface: what the tests of everything that switches
// devices, keeps their states or takes commands from outside build on.
using CoreFixture = CoreOn<ScriptedInterface>;

} // namespace casalux::test
