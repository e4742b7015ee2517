#include "windowloader.h"

#include "adddevicepanel.h"
#include "desktopcore.h"
#include "devicetree.h"
#include "eventspanel.h"
#include "homepanel.h"
#include "macrospanel.h"
#include "mainwindow.h"
#include "optionboxes.h"
#include "profilespanel.h"
#include "speechpanel.h"
#include "waitwindow.h"
#include "webpanel.h"
#include "windowpanels.h"
#include "home/deviceselector.h"
#include "home/devicetype.h"
#include "home/roomrecord.h"
#include "home/settingsstore.h"
#include "platform/clock.h"
#include "shell/startupsequence.h"
#include "speech/spokencommands.h"
#include "speech/voicecommandhandler.h"

#include <QScreen>
#include <QTimer>

namespace casalux {

WindowLoader::WindowLoader(Parts parts)
    : m_window(parts.window), m_core(parts.core), m_panels(parts.panels),
      m_options(parts.options), m_voice(parts.voice), m_spoken(parts.spoken),
      m_sequence(parts.sequence), m_startupTimer(parts.startupTimer)
{
}

void WindowLoader::loadAll()
{
    m_core.rooms.loadlists();
    loadtree();
    loadEventsAndSunTimes();
}

void WindowLoader::loadtree()
{
    m_panels.tree->loadtree(m_core.rooms, [this](const QString& deviceKey) {
        return DeviceType::storedFamily(m_core.settings, deviceKey);
    });
    m_voice.registerCommands();
    m_spoken.updateGrammar();
    QStringList rooms;
    QStringList devices;
    for (const RoomRecord& record : m_core.rooms.records()) {
        // A room whose lines are split by another's is offered once.
        if (!rooms.contains(record.room))
            rooms.append(record.room);
        if (!record.isRoom())
            devices.append(DeviceSelector::text(record));
    }
    m_panels.addDevice->setRooms(rooms);
    m_panels.events->setDevices(devices);
    m_panels.macros->setDevices(devices);
}

void WindowLoader::loadevents()
{
    m_core.launch([](DesktopCore& core, QPointer<EventsPanel> events,
                     QPointer<MacrosPanel> macros) -> QCoro::Task<> {
        const EventList::Loaded loaded = co_await core.events.loadevents();
        if (!events || !macros)
            co_return;
        events->setRows(loaded.rows);
        macros->setMacros(loaded.macroLines);
    }(m_core, m_panels.events, m_panels.macros));
}

void WindowLoader::updateSunLabel()
{
    m_panels.home->setSunLabel(m_core.sun.label());
}

void WindowLoader::showWait(const QString& heading)
{
    if (!m_wait) {
        m_wait = new WaitWindow(&m_window);
        QObject::connect(m_wait, &WaitWindow::skipClicked, &m_sequence,
                         &StartupSequence::skipWait);
    }
    m_wait->setHeading(heading);
    m_wait->setProgress(QStringLiteral("Please Wait"));
    m_wait->setSkipLinkShown(false);
    m_wait->show();
    m_wait->raise();
}

WaitWindow* WindowLoader::waitWindow() const
{
    return m_wait;
}

void WindowLoader::setWaitProgress(const QString& text)
{
    if (m_wait)
        m_wait->setProgress(text);
}

void WindowLoader::showSkipLink(bool shown)
{
    if (m_wait)
        m_wait->setSkipLinkShown(shown);
}

void WindowLoader::closeWait()
{
    if (m_wait) {
        m_wait->close();
        m_wait->deleteLater();
        m_wait = nullptr;
    }
}

void WindowLoader::suppressHandlers(bool optionClicks, bool settings)
{
    m_options.setSuppressed(optionClicks);
    // The city, daylight-saving and profile choices react to the user only;
    // while loading, the user cannot reach them.
    m_panels.profiles->setEnabled(!settings);
}

void WindowLoader::endProgram()
{
    closeWait();
    m_window.endWithoutShutdown();
}

void WindowLoader::showWebPort(const QString& port)
{
    m_panels.web->showPort(port);
}

void WindowLoader::loadlists()
{
    m_core.rooms.loadlists();
}

void WindowLoader::initagent()
{
    m_voice.initagent();
}

void WindowLoader::loadOptions()
{
    // The pick lists were filled when the panels were built.
    m_panels.gohome();
    const QScreen* screen = m_window.screen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    const int left = m_core.settings.read(settingkeys::left).toInt();
    const int top = m_core.settings.read(settingkeys::top).toInt();
    m_window.move(available.isEmpty() ? QPoint(left, top)
                                      : QPoint(std::min(left, available.right() - 100),
                                               std::min(top, available.bottom() - 100)));
    m_panels.profiles->showStored();
    m_panels.speech->showListening(m_core.settings.read(settingkeys::listen) ==
                                   QLatin1String("1"));
    m_options.showStored();
}

void WindowLoader::loadEventsAndSunTimes()
{
    loadevents();
    m_core.sun.dosunset();
    updateSunLabel();
}

void WindowLoader::startTimers()
{
    m_startupTimer.start(Clock::instance().interval(MainWindow::startupTickMs));
    m_core.server.startserver();
    m_core.scheduler.armRemovalTimer();
    m_core.traffic.startQueue();
}

void WindowLoader::restoreWindowOnScreen()
{
    m_options.setSuppressed(true);
    m_window.showNormal();
    if (const QScreen* here = m_window.screen()) {
        const QRect area = here->geometry();
        QPoint at = m_window.pos();
        if (at.x() > area.right())
            at.setX(100);
        if (at.y() > area.bottom())
            at.setY(100);
        m_window.move(at);
    }
    m_options.setSuppressed(false);
}

void WindowLoader::saveWindowPosition()
{
    m_core.settings.write(settingkeys::left, QString::number(m_window.pos().x()));
    m_core.settings.write(settingkeys::top, QString::number(m_window.pos().y()));
}

bool WindowLoader::serviceTicked() const
{
    return m_options.serviceTicked();
}

} // namespace casalux
