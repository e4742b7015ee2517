#include "weboptions.h"

#include "home/settingsstore.h"
#include "home/textlistfile.h"
#include "platform/prompts.h"
#include "remoteserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace casalux {

WebOptions::WebOptions(const QString& programFolder, SettingsStore& settings, RemoteServer& server,
                       Prompts& prompts)
    : m_folder(programFolder), m_settings(settings), m_server(&server), m_prompts(prompts)
{
}

WebOptions::WebOptions(const QString& programFolder, SettingsStore& settings, Prompts& prompts)
    : m_folder(programFolder), m_settings(settings), m_prompts(prompts)
{
}

QString WebOptions::portCaption(const QString& port)
{
    return QStringLiteral("The web server is currently set to run on port ") + port;
}

QString WebOptions::loginPath() const
{
    return m_folder + QStringLiteral("/html/") + QLatin1String(RemoteServer::loginFileName);
}

QString WebOptions::loginTempPath() const
{
    // Never inside html/, which is served: a copy left there during the
    // change or after a crash could be fetched. The folder holding html/
    // (where it really is, should html/ be a link) keeps the rename on one
    // file system, so it stays a single step.
    const QString html = QFileInfo(m_folder + QStringLiteral("/html")).canonicalFilePath();
    const QString parent = html.isEmpty() ? m_folder : QFileInfo(html).absolutePath();
    return parent + QLatin1Char('/') + QLatin1String(RemoteServer::loginFileName) +
           QStringLiteral(".tmp");
}

QCoro::Task<std::optional<QString>> WebOptions::savePort(QString entry)
{
    bool whole = false;
    const int port = entry.trimmed().toInt(&whole);
    // Above 65535 no server can listen, so that is refused as well.
    if (!whole || port < 80 || port > 65535) {
        co_await m_prompts.message(QStringLiteral("Please enter a valid port number of at least 80 "
                                                  "in to the port text entry box"),
                                   QStringLiteral("Error"), Prompts::Icon::Information);
        co_return std::nullopt;
    }
    const QString text = QString::number(port);
    const QString before = m_settings.read(settingkeys::webport);
    if (m_server)
        m_server->stopserver();
    if (!m_settings.write(settingkeys::webport, text)) {
        // The store keeps a value it could not write for its next rewrite:
        // put the old one back, so the port stays what it was.
        m_settings.write(settingkeys::webport, before);
        if (m_server)
            m_server->startserver();
        co_await m_prompts.message(
            QStringLiteral("The web server port could not be saved; nothing was changed.\n\n"
                           "Cannot write %1")
                .arg(m_settings.machineFile()),
            QStringLiteral("Error!"), Prompts::Icon::Critical);
        co_return std::nullopt;
    }
    co_await m_prompts.message(
        QStringLiteral("Setting saved. The web server will now run on your chosen port."),
        QStringLiteral("Saved"), Prompts::Icon::Information);
    if (m_server)
        m_server->startserver();
    co_return portCaption(text);
}

QCoro::Task<bool> WebOptions::setLogin()
{
    const auto user = co_await m_prompts.input(
        QStringLiteral("Please enter a Username for the Web Server, you will use this to login"),
        QStringLiteral("Username"));
    if (!user || user->isEmpty())
        co_return false;
    const auto password = co_await m_prompts.input(
        QStringLiteral("Please enter a Password for the Web Server, you will use this to login"),
        QStringLiteral("Password"));
    if (!password || password->isEmpty())
        co_return false;
    const auto again =
        co_await m_prompts.input(QStringLiteral("Please RE-enter your Password for the Web Server"),
                                 QStringLiteral("Re enter Password"));
    if (!again || again->isEmpty())
        co_return false;
    if (*password != *again) {
        co_await m_prompts.message(QStringLiteral("Sorry, your password did not match"),
                                   QStringLiteral("Error"), Prompts::Icon::Critical);
        co_return false;
    }
    const QString line = *user + QLatin1Char(':') + *password;
    // The file holds one single-byte line; a browser sends ":" only between
    // the name and the password.
    if (user->contains(QLatin1Char(':')) || line.contains(QLatin1Char('\r')) ||
        line.contains(QLatin1Char('\n')) || !TextListFile::isStorable(line)) {
        co_await m_prompts.message(
            QStringLiteral("A user name cannot contain \":\", and neither name nor password can "
                           "contain line breaks or characters outside the Western European "
                           "(Latin-1) character set."),
            QStringLiteral("Error"), Prompts::Icon::Critical);
        co_return false;
    }
    // Replaced in one step, so the pages are never left without a login
    // between the old file and the new one.
    QString error;
    if (!TextListFile::replace(loginPath(), loginTempPath(), {line}, &error)) {
        co_await m_prompts.message(QStringLiteral("The password could not be saved.\n\n") + error,
                                   QStringLiteral("Error"), Prompts::Icon::Critical);
        co_return false;
    }
    co_await m_prompts.message(QStringLiteral("Your password has been set"), QString(),
                               Prompts::Icon::None);
    co_return true;
}

QCoro::Task<bool> WebOptions::clearLogin()
{
    const auto answer = co_await m_prompts.message(
        QStringLiteral("Do you really want to remove the password protection from the Web Server?"),
        QStringLiteral("Sure?"), Prompts::Icon::Question, Prompts::Buttons::YesNo);
    if (answer != Prompts::Answer::Yes)
        co_return false;
    // The server takes the login file in any letter case, so every spelling
    // goes; one that stays would keep the pages locked.
    const QDir html(m_folder + QStringLiteral("/html"));
    QStringList left;
    const QStringList entries =
        html.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        if (entry.compare(QLatin1String(RemoteServer::loginFileName), Qt::CaseInsensitive) != 0)
            continue;
        QFile file(html.filePath(entry));
        if (!file.remove())
            left << entry + QStringLiteral(": ") + file.errorString();
    }
    if (!left.isEmpty()) {
        co_await m_prompts.message(QStringLiteral("The password could not be cleared.\n\n") +
                                       left.join(QLatin1Char('\n')),
                                   QStringLiteral("Error"), Prompts::Icon::Critical);
        co_return false;
    }
    co_await m_prompts.message(QStringLiteral("Your password has been cleared"),
                               QStringLiteral("Cleared"), Prompts::Icon::Information);
    co_return true;
}

} // namespace casalux
