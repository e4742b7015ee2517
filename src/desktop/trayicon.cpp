#include "trayicon.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

namespace casalux {

TrayIcon::TrayIcon(QObject* parent)
    : QObject(parent), m_icon(new QSystemTrayIcon(this)), m_menu(new QMenu),
      m_show(m_menu->addAction(QStringLiteral("-= Restore Window =-"))), m_about(nullptr),
      m_exit(nullptr)
{
    m_menu->setObjectName(QStringLiteral("mnu_tray"));
    m_show->setObjectName(QStringLiteral("mnu_restore"));
    m_menu->setDefaultAction(m_show);
    m_menu->addSeparator();
    m_about = m_menu->addAction(QStringLiteral("About Casalux"));
    m_about->setObjectName(QStringLiteral("mnu_about"));
    m_exit = m_menu->addAction(QStringLiteral("Exit"));
    m_exit->setObjectName(QStringLiteral("mnu_exit"));
    m_icon->setContextMenu(m_menu);
    connect(m_show, &QAction::triggered, this, [this] {
        if (m_restore)
            m_restore();
    });
    connect(m_about, &QAction::triggered, this, &TrayIcon::aboutRequested);
    connect(m_exit, &QAction::triggered, this, &TrayIcon::exitRequested);
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { activate(int(reason)); });
}

TrayIcon::~TrayIcon()
{
    m_icon->hide();
    delete m_menu;
}

QString TrayIcon::tipFor(const QString& version)
{
    return QLatin1String("Casalux Version ") + version;
}

void TrayIcon::show(const QIcon& icon, const QString& version)
{
    m_icon->setIcon(icon);
    m_version = version;
    setNotice(m_notice);
    m_icon->show();
}

void TrayIcon::setNotice(const QString& notice)
{
    m_notice = notice;
    m_icon->setToolTip(notice.isEmpty() ? tipFor(m_version)
                                        : tipFor(m_version) + QLatin1Char('\n') + notice);
}

void TrayIcon::hide()
{
    m_icon->hide();
}

bool TrayIcon::available()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

QIcon TrayIcon::icon() const
{
    return m_icon->icon();
}

QString TrayIcon::toolTip() const
{
    return m_icon->toolTip();
}

void TrayIcon::activate(int reason)
{
    switch (QSystemTrayIcon::ActivationReason(reason)) {
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::MiddleClick:
        if (m_restore)
            m_restore();
        break;
    case QSystemTrayIcon::Context: // the menu is shown by the shell
    case QSystemTrayIcon::Unknown:
        break;
    }
}

} // namespace casalux
