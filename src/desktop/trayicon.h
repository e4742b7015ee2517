#pragma once

#include <QIcon>
#include <QObject>

#include <functional>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace casalux {

// The program's icon in the notification area: its tip names the version;
// a left or double click brings the main window back; the right button
// opens a menu with "-= Restore Window =-", "About Casalux" and "Exit" (the first
// for desktops whose tray gives a left click no meaning of its own).
class TrayIcon final : public QObject {
    Q_OBJECT

public:
    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // "Casalux Version 1.2.3" for the program's version.
    static QString tipFor(const QString& version);

    // loadtray: puts the icon up with the program's picture and its tip.
    void show(const QIcon& icon, const QString& version);
    void hide();
    // A line under the version in the tip (the interface is lost); empty
    // for none.
    void setNotice(const QString& notice);
    // Whether the desktop shows notification-area icons at all; where it
    // does not, the main window must stay reachable.
    static bool available();

    QString toolTip() const;
    QMenu* menu() const { return m_menu; }
    QIcon icon() const;
    QAction* showAction() const { return m_show; }
    QAction* aboutAction() const { return m_about; }
    QAction* exitAction() const { return m_exit; }

    // What the main window does for a click, and for the menu's items.
    void setRestoreHandler(std::function<void()> handler) { m_restore = std::move(handler); }

    // The shell's notification: a click, double click or context click.
    void activate(int reason);

Q_SIGNALS:
    void aboutRequested();
    void exitRequested();

private:
    QSystemTrayIcon* m_icon;
    QMenu* m_menu;
    QAction* m_show;
    QAction* m_about;
    QAction* m_exit;
    std::function<void()> m_restore;
    QString m_version;
    QString m_notice;
};

} // namespace casalux
