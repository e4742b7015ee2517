#include "deviceclickhandler.h"

#include "home/devicestatus.h"
#include "home/roomlist.h"
#include "interfacefinder.h"
#include "platform/busymark.h"
#include "platform/prompts.h"
#include "platform/soundplayer.h"
#include "roomview.h"

#include <QPointer>

namespace casalux {

DeviceClickHandler::DeviceClickHandler(Parts parts, QObject* parent)
    : QObject(parent), m_parts(std::move(parts)), m_switch(m_parts.commands, m_parts.status)
{
    m_switch.setRoomView(&m_parts.view);
}

void DeviceClickHandler::playfile(const QString& fileName)
{
    m_parts.sounds.play(m_parts.programFolder + QLatin1Char('/') + fileName);
}

QCoro::Task<> DeviceClickHandler::deviceclicked(int index, int adim)
{
    if (adim == 0)
        adim = 100;
    const QPointer<DeviceClickHandler> self(this);
    if (!m_parts.finder.interfaceReady()) {
        co_await m_parts.prompts.message(
            QStringLiteral("Sorry, you need to connect to the X10 computer "
                           "interface before you can do this action."),
            QStringLiteral("not possible!"), Prompts::Icon::Exclamation);
        co_return;
    }

    RoomView& view = m_parts.view;
    const QString room = view.shownRoom();
    const QString name = view.slotName(index);
    const RoomRecord* device = nullptr;
    for (const auto& record : m_parts.rooms.records()) {
        if (!record.isRoom() && record.room == room && record.device == name) {
            device = &record;
            break;
        }
    }
    if (!device) {
        co_await m_parts.prompts.message(
            QStringLiteral("Sorry, couldn`t find this device in the device list."),
            QStringLiteral("Error"), Prompts::Icon::Critical);
        co_return;
    }
    // Copied: the list may be reloaded while the command waits.
    const QString house = device->house;
    const QString unit = QString::number(device->unit);
    const QString key = device->deviceKey();

    view.setBusy(true);
    // A click toggles; a slider move switches on at its level.
    bool on = true;
    if (adim == 100) {
        on = !m_parts.status.getlaststatus(key);
        playfile(QStringLiteral("1b1.wav"));
    }
    // (Named: GCC 12 can destroy a temporary of a co_await expression twice.)
    const QStringList keys{key};
    const SwitchResult result = co_await m_switch.switchTo(house, unit, on, adim, keys);
    // The window, and the view with it, may have gone while the command ran.
    if (!self)
        co_return;
    if (!result.isDone() && adim != 100) {
        // The slider goes back to what the device was last set to.
        const int level = m_parts.status.getlaststatus(key) ? m_parts.status.level(key) : 20;
        const auto echo = m_parts.filebusy.tryTake();
        view.setSliderLevel(index, level < 0 ? 100 : level);
    }
    playfile(QStringLiteral("1b2.wav"));
    view.setBusy(false);
}

} // namespace casalux
