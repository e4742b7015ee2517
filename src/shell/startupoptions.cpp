#include "startupoptions.h"

#include "home/settingsstore.h"
#include "platform/autostartentry.h"
#include "platform/prompts.h"
#include "platform/statussink.h"

namespace casalux {

StartupOptions::StartupOptions(SettingsStore& settings, ServiceManager& service,
                               const AutostartEntry& autostart, StatusSink& status,
                               Prompts& prompts, ServiceManager::Engine desktopProgram)
    : m_settings(settings), m_service(service), m_autostart(autostart), m_status(status),
      m_prompts(prompts), m_program(std::move(desktopProgram))
{
}

bool StartupOptions::serviceTicked() const
{
    return m_settings.read(settingkeys::service) == QLatin1String("1");
}

bool StartupOptions::loadWithWindowsTicked() const
{
    return m_settings.read(settingkeys::lww) == QLatin1String("1");
}

bool StartupOptions::delayedStartupTicked() const
{
    return m_settings.read(settingkeys::startupDelay) == QLatin1String("delayed");
}

QCoro::Task<bool> StartupOptions::serviceClicked(bool ticked)
{
    if (ticked) {
        m_settings.write(settingkeys::service, QStringLiteral("1"));
        co_await m_service.install();
        co_return true;
    }
    const auto answer = co_await m_prompts.message(
        QStringLiteral("Turning this off will disable the Web Server and also mean that your "
                       "events WONT run when you close the program. With the service enabled, "
                       "your events will still run when you close this program and your Web "
                       "Server will also work.\n\nDo you really want to stop the service?"),
        QStringLiteral("Stop service?"), Prompts::Icon::Question, Prompts::Buttons::YesNo);
    if (answer != Prompts::Answer::Yes)
        co_return true; // kept: the box goes back to what the service still is
    m_settings.write(settingkeys::service, QStringLiteral("0"));
    co_await m_service.remove();
    co_return false;
}

void StartupOptions::loadWithWindowsClicked(bool ticked)
{
    if (ticked) {
        m_settings.write(settingkeys::lww, QStringLiteral("1"));
        m_settings.write(settingkeys::runAtLogon, m_program.program);
        m_autostart.write(m_program.program, m_program.arguments);
        m_status.setStatus(StatusSink::Activity,
                           QStringLiteral("Casalux will now start when you log in"));
    } else {
        m_settings.write(settingkeys::lww, QStringLiteral("0"));
        m_settings.write(settingkeys::runAtLogon, QString());
        m_autostart.remove();
        m_status.setStatus(StatusSink::Activity,
                           QStringLiteral("Casalux will no longer start when you log in"));
    }
}

QCoro::Task<> StartupOptions::delayedStartupClicked(bool ticked)
{
    if (!ticked) {
        m_settings.write(settingkeys::startupDelay, QStringLiteral("notdelayed"));
        co_return;
    }
    m_settings.write(settingkeys::startupDelay, QStringLiteral("delayed"));
    co_await m_prompts.message(
        QStringLiteral("Please remember that if you are using the Run as Service option, that the "
                       "service will also wait 20 seonds before initializing"),
        QStringLiteral("Service Information"), Prompts::Icon::Information);
}

} // namespace casalux
