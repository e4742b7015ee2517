#pragma once

#include <QString>

#include <qcoro/qcorotask.h>

namespace casalux {

class Prompts;
class RemoteServer;
class SettingsStore;

// The web server options of the main window: the port, and the login that
// protects the remote-control pages (html/htaccess.txt, one line
// "user:password").
class WebOptions final {
public:
    WebOptions(const QString& programFolder, SettingsStore& settings, RemoteServer& server,
               Prompts& prompts);
    // Without a server of this program's own (the command line): savePort
    // only stores the port; a running engine takes it up by itself.
    WebOptions(const QString& programFolder, SettingsStore& settings, Prompts& prompts);

    // The caption under the port entry.
    static QString portCaption(const QString& port);

    // Saves the port entry and restarts the server on it. Returns the new
    // caption, or nothing when the entry was refused or could not be saved
    // (the server then runs on as it was).
    QCoro::Task<std::optional<QString>> savePort(QString entry);
    QCoro::Task<bool> setLogin();
    QCoro::Task<bool> clearLogin();

    QString loginPath() const;
    // Where the new login file is written before it replaces the old one.
    QString loginTempPath() const;

private:
    QString m_folder;
    SettingsStore& m_settings;
    RemoteServer* m_server = nullptr;
    Prompts& m_prompts;
};

} // namespace casalux
