#include "mainwindow.h"

#include "devicetree.h"
#include "eventspanel.h"
#include "homepanel.h"
#include "profilespanel.h"
#include "programicon.h"
#include "saybox.h"
#include "speechpanel.h"
#include "trayicon.h"
#include "home/roomlisteditor.h"
#include "home/settingsstore.h"
#include "platform/clock.h"
#include "platform/prompts.h"
#include "platform/settlewait.h"
#include "platform/singleinstance.h"
#include "x10/interfacecontrol.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>

namespace casalux {

MainWindow::MainWindow(Setup setup, QWidget* parent)
    : QMainWindow(parent), m_status(*statusBar()), m_roomView(*this),
      m_core(std::make_unique<DesktopCore>(DesktopCore::Setup{setup.programFolder, setup.settings,
                                                              setup.control, setup.prompts,
                                                              setup.sounds, m_status, m_roomView})),
      m_pictures(setup.programFolder + QStringLiteral("/html")), m_panels(*m_core, m_pictures),
      m_options(*m_panels.home, *m_core, setup.service, std::move(setup.autostart),
                std::move(setup.desktopProgram)),
      m_agent({setup.programFolder + QStringLiteral("/characters"), QStringLiteral(":/characters")}),
      m_voice(m_agent, setup.settings, m_core->commands, m_core->deviceStatus, m_core->rooms,
              m_status),
      m_spoken(m_agent, m_status),
      m_loader({*this, *m_core, m_panels, m_options, m_voice, m_spoken, m_sequence,
                m_startuptimer}),
      m_sequence(m_loader, setup.settings, setup.service, setup.instance, setup.control, m_status),
      m_trayAvailable([] { return TrayIcon::available(); })
{
    setObjectName(QStringLiteral("frm_main"));
    setWindowTitle(QStringLiteral("Casalux"));
    setWindowIcon(ProgramIcon::icon());
    setCentralWidget(m_panels.centre());
    m_roomView.attach(*m_panels.room, *m_core);

    buildMenu();
    connectPanels();
    connectShell(setup.instance);
    resize(1000, 700);
    m_panels.gohome();
}

MainWindow::~MainWindow()
{
    // The panels refer to the core; they go first.
    delete takeCentralWidget();
}

void MainWindow::buildMenu()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* home = file->addAction(QStringLiteral("&Home"));
    home->setObjectName(QStringLiteral("mnu_home"));
    home->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Home));
    connect(home, &QAction::triggered, this, [this] { m_panels.gohome(); });
    file->addSeparator();
    QAction* exit = file->addAction(QStringLiteral("E&xit"));
    exit->setObjectName(QStringLiteral("mnu_exit"));
    exit->setShortcut(QKeySequence::Quit);
    connect(exit, &QAction::triggered, this, &QWidget::close);
}

void MainWindow::connectPanels()
{
    DesktopCore& core = *m_core;
    core.roomEditor.setReloadHook([this] { m_loader.loadtree(); });
    core.scheduler.setReloadHook([this] { m_loader.loadevents(); });
    core.macros.setReloadHook([this] { m_loader.loadevents(); });
    core.scheduler.setQuitHook([this] { close(); });
    core.scheduler.setFirstRunHook([this] { m_core->launch(m_options.firstRunService()); });
    connect(&core.scheduler, &EventScheduler::sunTimesUpdated, this,
            [this] { m_loader.updateSunLabel(); });
    // The tray tip says it too, for a window that lives in the tray.
    connect(&core.control, &InterfaceControl::lost, this, [this] {
        if (m_tray)
            m_tray->setNotice(m_core->lostActivity());
    });
    connect(&core.control, &InterfaceControl::found, this, [this] {
        if (m_tray)
            m_tray->setNotice(QString());
    });
    core.finder.setHooks({[this](bool busy) { setBusy(busy); }, [this] { close(); },
                          [this](int) { m_core->goLive(); }});

    connect(m_panels.tree, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { nodeClicked(item); });
    connect(m_panels.tree, &DeviceTree::nodeActivated, this,
            [this](QTreeWidgetItem* item) { nodeClicked(item); });
    connect(m_panels.tree, &DeviceTree::deleteRequested, this,
            [this](int key) { m_core->launch(deletetree(key)); });

    connect(m_panels.home, &HomePanel::autodetectRequested, this, [this] {
        m_core->launch([](DesktopCore& c) -> QCoro::Task<> { co_await c.finder.autodetect(); }(
            *m_core));
    });
    connect(m_panels.home, &HomePanel::manualPortRequested, this, [this] {
        m_core->launch([](DesktopCore& c) -> QCoro::Task<> { co_await c.finder.manualport(); }(
            *m_core));
    });
    connect(m_panels.events, &EventsPanel::listChanged, this, [this] { m_loader.loadevents(); });
    connect(m_panels.profiles, &ProfilesPanel::profileSwapped, this, [this] {
        m_loader.loadevents();
        m_panels.showEvents();
    });
    connect(m_panels.profiles, &ProfilesPanel::sunTimesChanged, this,
            [this] { m_loader.updateSunLabel(); });
}

void MainWindow::startInterfaceSearch()
{
    m_core->launch([](DesktopCore& core) -> QCoro::Task<> { co_await core.finder.findinterface(); }(
        *m_core));
}

void MainWindow::nodeClicked(QTreeWidgetItem* item)
{
    if (!item)
        return;
    const auto kind = DeviceTree::kindOf(item);
    if (item->parent() && kind == DeviceTree::NodeKind::Device) {
        // A device node switches the device if its room is the one shown;
        // the right-hand side stays empty.
        m_panels.showPanel(Panel::None);
        m_roomView.clickDeviceNode(item);
        return;
    }
    if (kind == DeviceTree::NodeKind::Room) {
        m_panels.showPanel(Panel::Room);
        m_roomView.showRoom(item);
        return;
    }
    const QString text = item->text(0);
    if (text == QLatin1String("Home"))
        m_panels.gohome();
    else if (text == QLatin1String("Web Server"))
        m_panels.showPanel(Panel::WebServer);
    else if (text == QLatin1String("Events"))
        m_panels.showEvents();
    else if (text == QLatin1String("Macros"))
        m_panels.showPanel(Panel::Macros);
    else if (text == QLatin1String("Profiles"))
        m_panels.showPanel(Panel::Profiles);
}

QCoro::Task<> MainWindow::deletetree(int key)
{
    QPointer<MainWindow> self(this);
    const QTreeWidgetItem* item = m_panels.tree->currentItem();
    if (!item)
        co_return;
    RoomListEditor::TreeNode node{item->text(0),
                                  item->parent() ? item->parent()->text(0) : QString(),
                                  DeviceTree::kindOf(item) == DeviceTree::NodeKind::Section};
    const auto outcome = co_await m_core->roomEditor.deletetree(key, node);
    if (!self)
        co_return;
    switch (outcome) {
    case RoomListEditor::DeleteOutcome::ShowHome:
        m_panels.gohome();
        break;
    case RoomListEditor::DeleteOutcome::ShowEvents:
        m_panels.showEvents();
        break;
    case RoomListEditor::DeleteOutcome::Deleted:
        m_roomView.clear();
        m_panels.gohome();
        m_loader.loadevents();
        break;
    default:
        break;
    }
}

void MainWindow::connectShell(SingleInstance& instance)
{
    m_startuptimer.setSingleShot(true);
    connect(&m_startuptimer, &QTimer::timeout, this, &MainWindow::startupTick);

    m_voice.setLauncher([this](QCoro::Task<> task) { m_core->launch(std::move(task)); });
    m_voice.setRoomView(&m_roomView);
    m_voice.setReminderHook([this] { m_panels.showPanel(Panel::Speech); });
    connect(&m_agent, &SpeechAgent::propertiesRequested, this, [this] {
        const QString character =
            m_agent.character() ? m_agent.character()->name : QStringLiteral("none");
        const QString listening = m_spoken.listening()
                                      ? QStringLiteral("listening to the microphone")
                                      : QStringLiteral("typed commands only");
        m_core->launch([](Prompts& prompts, QString text) -> QCoro::Task<> {
            co_await prompts.message(std::move(text), QStringLiteral("Speech Properties"),
                                     Prompts::Icon::Information);
        }(m_core->prompts, QStringLiteral("Character: %1\nCommands: %2\nRecognition: %3")
                               .arg(character)
                               .arg(m_agent.commands().size())
                               .arg(listening)));
    });
    connect(m_panels.speech, &SpeechPanel::listenClicked, this, [this](bool ticked) {
        m_core->settings.write(settingkeys::listen,
                               ticked ? QStringLiteral("1") : QStringLiteral("0"));
        m_spoken.setOn(ticked);
    });
    connect(m_panels.say, &SayBox::speakingStarted, &m_agent, &PhraseAgent::beginListening);
    connect(m_panels.say, &SayBox::phraseEntered, this, [this](const QString& phrase) {
        m_panels.say->setUnderstood(!sayPhrase(phrase).isEmpty());
    });
    connect(&instance, &SingleInstance::phraseReceived, this,
            [this](const QString& phrase) { sayPhrase(phrase); });
}

QCoro::Task<bool> MainWindow::startup()
{
    QPointer<MainWindow> self(this);
    const bool go = co_await m_sequence.start();
    if (!self || !go)
        co_return false;
    // The window appears when loading is done, unless it was left in the
    // tray: then it stays hidden (never shown only to be hidden again by
    // the start-up timer).
    if (!startsInTray())
        show();
    co_return true;
}

void MainWindow::startupTick()
{
    m_startuptimer.stop();
    loadtray();
    m_options.setSuppressed(false);
    if (m_core->settings.read(settingkeys::state) == QLatin1String("1")) {
        if (m_trayAvailable()) {
            // Lives in the tray: normal state, but hidden.
            m_options.setSuppressed(true);
            setWindowState(windowState() & ~Qt::WindowMinimized);
            hide();
            m_options.setSuppressed(false);
        } else {
            // Without a tray a hidden window could not be brought back.
            showMinimized();
        }
    }
    startInterfaceSearch();
    m_spoken.setOn(m_core->settings.read(settingkeys::listen) == QLatin1String("1"));
}

bool MainWindow::startsInTray() const
{
    return m_core->settings.read(settingkeys::state) == QLatin1String("1") && m_trayAvailable();
}

void MainWindow::endWithoutShutdown()
{
    m_finished = true;
    Q_EMIT closed();
}

void MainWindow::loadtray()
{
    if (m_tray)
        return;
    m_tray = std::make_unique<TrayIcon>();
    m_tray->setRestoreHandler([this] { restoreFromTray(); });
    connect(m_tray.get(), &TrayIcon::aboutRequested, this, &MainWindow::showAbout);
    connect(m_tray.get(), &TrayIcon::exitRequested, this, &QWidget::close);
    if (m_core->control.isLost())
        m_tray->setNotice(m_core->lostActivity());
    m_tray->show(windowIcon(), QApplication::applicationVersion());
}

void MainWindow::restoreFromTray()
{
    m_core->settings.write(settingkeys::state, QStringLiteral("0"));
    m_options.setSuppressed(true);
    showNormal();
    m_options.setSuppressed(false);
    ontop();
    offtop();
    activateWindow();
}

void MainWindow::ontop()
{
    setTopmost(true);
    raise();
}

void MainWindow::offtop()
{
    setTopmost(false);
}

void MainWindow::setTopmost(bool topmost)
{
    // Changing the flags re-creates the native window: keep where it is,
    // and do not take it for the user minimising or restoring.
    const QRect frame = geometry();
    const bool suppressed = m_options.suppressed();
    m_options.setSuppressed(true);
    setWindowFlag(Qt::WindowStaysOnTopHint, topmost);
    setGeometry(frame);
    show();
    m_options.setSuppressed(suppressed);
}

void MainWindow::showAbout()
{
    const QString text =
        QStringLiteral("Casalux controls your lights and appliances over the X10 power line.\n\n"
                       "This is version %1")
            .arg(QApplication::applicationVersion());
    m_core->launch([](Prompts& prompts, QString about) -> QCoro::Task<> {
        co_await prompts.message(std::move(about), QStringLiteral("About Casalux"),
                                 Prompts::Icon::Information);
    }(m_core->prompts, text));
}

QString MainWindow::sayPhrase(const QString& phrase)
{
    return m_agent.hear(phrase);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_finished) {
        event->accept();
        return;
    }
    // Shut-down takes its pauses without blocking the window; the window
    // closes when it is done.
    event->ignore();
    if (m_closing)
        return;
    m_closing = true;
    m_core->launch(shutdown());
}

QCoro::Task<> MainWindow::shutdown()
{
    QPointer<MainWindow> self(this);
    m_startuptimer.stop();
    // An interface search gives up at its next port, so it neither keeps
    // the port nor reports a failure once the engine has been started.
    m_core->finder.stop();
    // The port, the hub's link and the web port go to the engine.
    // (Named, not a temporary: GCC 12 destroys temporaries of a co_await
    // expression twice.)
    const std::function<bool()> searching = [self] {
        return self && self->m_core->finder.searching();
    };
    co_await m_core->shutDown(searching);
    if (!self)
        co_return;
    co_await m_sequence.shutdown();
    // A device command still on the line ends soon after the port closes;
    // it finishes while the window it reports to is still here.
    // (Named, not a temporary: GCC 12 destroys temporaries of a co_await
    // expression twice.)
    const std::function<bool()> ended = [self] {
        return !self || !self->m_core->commands.commandInProgress();
    };
    co_await SettleWait::until(ended);
    if (!self)
        co_return;
    m_tray.reset(); // the icon leaves the notification area
    m_finished = true;
    close();
    Q_EMIT closed();
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || m_options.suppressed() || m_closing)
        return;
    if (isMinimized()) {
        m_core->settings.write(settingkeys::state, QStringLiteral("1"));
        if (m_tray && m_trayAvailable()) {
            // Not from inside the state change itself.
            QTimer::singleShot(0, this, [this] {
                m_options.setSuppressed(true);
                hide();
                setWindowState(windowState() & ~Qt::WindowMinimized);
                m_options.setSuppressed(false);
            });
        }
    } else {
        m_core->settings.write(settingkeys::state, QStringLiteral("0"));
    }
}

} // namespace casalux
