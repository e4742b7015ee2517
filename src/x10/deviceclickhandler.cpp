#include "deviceclickhandler.h"

#include "devicecommands.h"
#include "home/devicestatus.h"
#include "home/roomlist.h"
#include "interfacefinder.h"
#include "platform/busymark.h"
#include "platform/prompts.h"
#include "platform/soundplayer.h"
#include "roomview.h"

namespace casalux {

void DeviceClickHandler::playfile(const QString& fileName)
{
    m.sounds.play(m.programFolder + QLatin1Char('/') + fileName);
}

QCoro::Task<> DeviceClickHandler::deviceclicked(int index, int adim)
{
    if (adim == 0)
        adim = 100;
    if (!m.finder.interfaceReady()) {
        co_await m.prompts.message(QStringLiteral("Sorry, you need to connect to the X10 computer "
                                                  "interface before you can do this action."),
                                   QStringLiteral("not possible!"), Prompts::Icon::Exclamation);
        co_return;
    }

    const QString room = m.view.shownRoom();
    const QString name = m.view.slotName(index);
    const RoomRecord* device = nullptr;
    for (const auto& record : m.rooms.records()) {
        if (!record.isRoom() && record.room == room && record.device == name) {
            device = &record;
            break;
        }
    }
    if (!device) {
        co_await m.prompts.message(
            QStringLiteral("Sorry, couldn`t find this device in the device list."),
            QStringLiteral("Error"), Prompts::Icon::Critical);
        co_return;
    }
    // Copied: the list may be reloaded while the command waits.
    const QString house = device->house;
    const QString unit = QString::number(device->unit);
    const QString key = device->deviceKey();

    m.view.setBusy(true);
    // (Each result named first: GCC 12 can lose a coroutine frame whose
    // co_await sits in an if condition.)
    if (adim == 100) {
        const bool wasOn = m.status.getlaststatus(key);
        playfile(QStringLiteral("1b1.wav"));
        if (wasOn) {
            const SwitchResult result = co_await m.commands.turnoff(house, unit);
            if (result.isDone()) {
                m.status.setstatus(key, QStringLiteral("off"), QStringLiteral("0"));
                m.view.setpictureoff(index, key);
                const auto echo = m.filebusy.tryTake();
                m.view.setSliderLevel(index, 20);
            }
        } else {
            const SwitchResult result = co_await m.commands.turnon(house, unit, 100);
            if (result.isDone()) {
                m.status.setstatus(key, QStringLiteral("on"), QStringLiteral("100"));
                m.view.setpictureon(index, key);
                const auto echo = m.filebusy.tryTake();
                m.view.setSliderLevel(index, 100);
            }
        }
    } else {
        const SwitchResult result = co_await m.commands.turnon(house, unit, adim);
        if (result.isDone()) {
            // The level the lamp was set to, so the slider and its % come
            // back where the user left them.
            m.status.setlevel(key, adim);
            m.view.setpictureon(index, key);
        } else {
            // The slider goes back to what the device was last set to.
            const int level = m.status.getlaststatus(key) ? m.status.level(key) : 20;
            const auto echo = m.filebusy.tryTake();
            m.view.setSliderLevel(index, level < 0 ? 100 : level);
        }
    }
    playfile(QStringLiteral("1b2.wav"));
    m.view.setBusy(false);
}

} // namespace casalux
