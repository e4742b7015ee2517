#include "optionboxes.h"

#include "desktopcore.h"
#include "homepanel.h"

#include <QPointer>

namespace casalux {

OptionBoxes::OptionBoxes(HomePanel& home, DesktopCore& core, ServiceManager& service,
                         AutostartEntry autostart, ServiceManager::Engine desktopProgram)
    : m_home(home), m_autostart(std::move(autostart)),
      m_options(core.settings, service, m_autostart, core.statusBar, core.prompts,
                std::move(desktopProgram))
{
    QObject::connect(&home, &HomePanel::serviceClicked, &home,
                     [this, &core](bool ticked) { core.launch(serviceClicked(ticked)); });
    QObject::connect(&home, &HomePanel::loadWithWindowsClicked, &home, [this](bool ticked) {
        if (m_suppressed) {
            showStored();
            return;
        }
        m_options.loadWithWindowsClicked(ticked);
    });
    QObject::connect(&home, &HomePanel::delayedStartupClicked, &home,
                     [this, &core](bool ticked) { core.launch(delayedStartupClicked(ticked)); });
}

void OptionBoxes::showStored()
{
    m_home.setOptions(m_options.serviceTicked(), m_options.loadWithWindowsTicked(),
                      m_options.delayedStartupTicked());
}

QCoro::Task<> OptionBoxes::serviceClicked(bool ticked)
{
    if (m_suppressed) {
        showStored();
        co_return;
    }
    QPointer<HomePanel> home(&m_home);
    co_await m_options.serviceClicked(ticked);
    if (home)
        showStored();
}

// Not through the box's own click: suppression while the window hides
// itself would lose it for good, as the scheduler has already noted that
// the first tick has been. Events then go on running after the program
// closes.
QCoro::Task<> OptionBoxes::firstRunService()
{
    if (m_options.serviceTicked())
        co_return;
    QPointer<HomePanel> home(&m_home);
    co_await m_options.serviceClicked(true);
    if (home)
        showStored();
}

QCoro::Task<> OptionBoxes::delayedStartupClicked(bool ticked)
{
    if (m_suppressed) {
        showStored();
        co_return;
    }
    co_await m_options.delayedStartupClicked(ticked);
}

} // namespace casalux
