#include "browserlink.h"

#include "platform/prompts.h"

#include <QDesktopServices>
#include <QStandardPaths>
#include <QUrl>

namespace casalux {

BrowserLink::BrowserLink(Prompts& prompts, Opener opener, Finder finder)
    : m_prompts(prompts), m_open(std::move(opener)), m_find(std::move(finder))
{
    if (!m_open)
        m_open = [](const QString& address) {
            return QDesktopServices::openUrl(QUrl::fromUserInput(address));
        };
    if (!m_find)
        m_find = [] {
            // Desktop sessions hand web addresses to xdg-open (or a portal).
            return !QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty() ||
                   qEnvironmentVariableIsSet("BROWSER");
        };
}

QCoro::Task<bool> BrowserLink::link(QString webaddress)
{
    if (!m_find()) {
        co_await m_prompts.message(QStringLiteral("Could not find associated browser!"),
                                   QStringLiteral("BROWSER NOT FOUND"), Prompts::Icon::Exclamation);
        co_return false;
    }
    if (!m_open(webaddress)) {
        co_await m_prompts.message(QStringLiteral("Web Page not Opened"),
                                   QStringLiteral("URL FAILED"), Prompts::Icon::Exclamation);
        co_return false;
    }
    co_return true;
}

} // namespace casalux
