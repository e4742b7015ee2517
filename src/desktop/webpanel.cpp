#include "webpanel.h"

#include "desktopcore.h"
#include "home/settingsstore.h"
#include "mqttpanel.h"
#include "panelparts.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace casalux {

WebPanel::WebPanel(DesktopCore& core, QWidget* parent)
    : QWidget(parent), m_core(core),
      m_link(std::make_unique<BrowserLink>(core.prompts))
{
    setObjectName(QStringLiteral("panel_web"));
    auto* layout = new QVBoxLayout(this);
    auto* title = panelTitle(QStringLiteral("Web Server"), this);
    layout->addWidget(title);
    auto* intro = new QLabel(QStringLiteral("Your devices can be switched from a web browser, or "
                                            "from a Media Center screen, through the program's "
                                            "own web server."),
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto* portRow = new QHBoxLayout;
    m_port = new QLineEdit(this);
    m_port->setObjectName(QStringLiteral("txt_webport"));
    m_port->setMaxLength(5);
    m_port->setMaximumWidth(m_port->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) +
                            16);
    auto* portLabel = new QLabel(QStringLiteral("&Port:"), this);
    portLabel->setBuddy(m_port);
    auto* savePort = new QPushButton(QStringLiteral("&Save Port"), this);
    savePort->setObjectName(QStringLiteral("Command7"));
    savePort->setToolTip(QStringLiteral("Save the port number and restart the web server"));
    auto* lookup = new QPushButton(QStringLiteral("Show &URL"), this);
    lookup->setObjectName(QStringLiteral("Command10"));
    lookup->setToolTip(QStringLiteral("Look up the address this home is reached at"));
    portRow->addWidget(portLabel);
    portRow->addWidget(m_port);
    portRow->addWidget(savePort);
    portRow->addWidget(lookup);
    portRow->addStretch(1);
    layout->addLayout(portRow);

    m_caption = new QLabel(this);
    m_caption->setObjectName(QStringLiteral("Label48"));
    layout->addWidget(m_caption);
    layout->addSpacing(12);

    auto* loginRow = new QHBoxLayout;
    auto* setLogin = new QPushButton(QStringLiteral("Set &Login"), this);
    setLogin->setObjectName(QStringLiteral("Command8"));
    setLogin->setToolTip(QStringLiteral("Set a user name and password for the web server"));
    auto* clearLogin = new QPushButton(QStringLiteral("&Clear Login"), this);
    clearLogin->setObjectName(QStringLiteral("Command9"));
    clearLogin->setToolTip(QStringLiteral("Remove the password protection from the web server"));
    loginRow->addWidget(setLogin);
    loginRow->addWidget(clearLogin);
    loginRow->addStretch(1);
    layout->addLayout(loginRow);
    layout->addSpacing(12);
    layout->addWidget(new MqttPanel(core, this));
    layout->addStretch(1);

    connect(savePort, &QPushButton::clicked, this, [this] { m_core.launch(this->savePort()); });
    connect(m_port, &QLineEdit::returnPressed, savePort, &QPushButton::click);
    connect(setLogin, &QPushButton::clicked, this,
            [this] { m_core.launch([](DesktopCore& core) -> QCoro::Task<> {
                         co_await core.webOptions.setLogin();
                     }(m_core)); });
    connect(clearLogin, &QPushButton::clicked, this,
            [this] { m_core.launch([](DesktopCore& core) -> QCoro::Task<> {
                         co_await core.webOptions.clearLogin();
                     }(m_core)); });
    connect(lookup, &QPushButton::clicked, this, [this] {
        const QString address =
            QString::fromLatin1(lookupAddress) +
            QString::fromUtf8(QUrl::toPercentEncoding(m_port->text().trimmed()));
        m_core.launch([](BrowserLink& link, QString address) -> QCoro::Task<> {
            co_await link.link(std::move(address));
        }(*m_link, address));
    });
    showStoredPort();
}

void WebPanel::setUrlOpener(BrowserLink::Opener opener, BrowserLink::Finder finder)
{
    m_link = std::make_unique<BrowserLink>(m_core.prompts, std::move(opener), std::move(finder));
}

void WebPanel::showStoredPort()
{
    showPort(m_core.settings.read(settingkeys::webport));
}

void WebPanel::showPort(const QString& port)
{
    m_port->setText(port);
    m_caption->setText(WebOptions::portCaption(port));
}

QCoro::Task<> WebPanel::savePort()
{
    QPointer<WebPanel> self(this);
    const auto caption = co_await m_core.webOptions.savePort(m_port->text());
    // The stored port is shown rather than the entry: when the chosen port
    // cannot be listened on, the server falls back to 8080 and stores that.
    if (self && caption)
        showStoredPort();
}

} // namespace casalux
