#include "mainwindow.h"

#include "adddevicepanel.h"
#include "addroompanel.h"
#include "devicetree.h"
#include "eventspanel.h"
#include "homepanel.h"
#include "macrospanel.h"
#include "profilespanel.h"
#include "programicon.h"
#include "roomviewpanel.h"
#include "saybox.h"
#include "speechpanel.h"
#include "trayicon.h"
#include "waitwindow.h"
#include "webpanel.h"
#include "home/deviceselector.h"
#include "home/devicetype.h"
#include "home/roomrecord.h"
#include "home/settingsstore.h"
#include "platform/clock.h"
#include "platform/prompts.h"
#include "platform/settlewait.h"
#include "platform/singleinstance.h"
#include "x10/interfacecontrol.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QVBoxLayout>

namespace casalux {

namespace {

// The right-hand panels sit in scroll areas, so a small screen (1024×768 or
// a large font) can still reach every control.
QScrollArea* scrolled(QWidget* panel)
{
    auto* area = new QScrollArea;
    area->setObjectName(panel->objectName() + QStringLiteral("_scroll"));
    area->setWidget(panel);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    // Not a stop of its own on the way round with Tab; it scrolls to
    // whatever inside it takes the focus.
    area->setFocusPolicy(Qt::NoFocus);
    return area;
}

} // namespace

MainWindow::MainWindow(Setup setup, QWidget* parent)
    : QMainWindow(parent),
      m_core(std::make_unique<DesktopCore>(DesktopCore::Setup{setup.programFolder, setup.settings,
                                                              setup.control, setup.prompts,
                                                              setup.sounds, *this, *this})),
      m_pictures(setup.programFolder + QStringLiteral("/html")), m_service(setup.service),
      m_autostart(std::move(setup.autostart)),
      m_sequence(*this, setup.settings, setup.service, setup.instance, setup.control, *this),
      m_options(setup.settings, setup.service, m_autostart, *this, setup.prompts,
                std::move(setup.desktopProgram)),
      m_agent({setup.programFolder + QStringLiteral("/characters"), QStringLiteral(":/characters")}),
      m_voice(m_agent, setup.settings, m_core->commands, m_core->deviceStatus, m_core->rooms,
              *this),
      m_spoken(m_agent, *this), m_trayAvailable([] { return TrayIcon::available(); })
{
    setObjectName(QStringLiteral("frm_main"));
    setWindowTitle(QStringLiteral("Casalux"));
    setWindowIcon(ProgramIcon::icon());

    m_tree = new DeviceTree(m_pictures);
    m_stack = new QStackedWidget;
    m_stack->setObjectName(QStringLiteral("panels"));
    m_blank = new QWidget;
    m_blank->setObjectName(QStringLiteral("panel_none"));
    m_home = new HomePanel;
    m_addRoom = new AddRoomPanel(*m_core);
    m_addDevice = new AddDevicePanel(*m_core);
    m_room = new RoomViewPanel(setup.settings, m_core->deviceStatus, m_pictures);
    m_events = new EventsPanel(*m_core);
    m_macros = new MacrosPanel(*m_core);
    m_web = new WebPanel(*m_core);
    m_profiles = new ProfilesPanel(*m_core);
    m_speech = new SpeechPanel;
    // In the order of Panel.
    for (QWidget* panel : std::initializer_list<QWidget*>{m_blank, m_home, m_addRoom, m_addDevice,
                                                          m_room, m_events, m_macros, m_web,
                                                          m_profiles, m_speech})
        m_stack->addWidget(scrolled(panel));

    // The tree, with the box for typed spoken commands under it.
    auto* left = new QWidget;
    left->setObjectName(QStringLiteral("frame_left"));
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(m_tree, 1);
    m_say = new SayBox;
    leftLayout->addWidget(m_say);

    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->setObjectName(QStringLiteral("splitter"));
    splitter->addWidget(left);
    splitter->addWidget(m_stack);
    splitter->setStretchFactor(1, 1);
    splitter->setChildrenCollapsible(false);
    m_tree->setMinimumWidth(160);
    splitter->setSizes({220, 780});
    setCentralWidget(splitter);

    buildMenu();
    buildStatusBar();
    connectPanels();
    connectShell(setup.instance);
    resize(1000, 700);
    gohome();
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
    connect(home, &QAction::triggered, this, &MainWindow::gohome);
    file->addSeparator();
    QAction* exit = file->addAction(QStringLiteral("E&xit"));
    exit->setObjectName(QStringLiteral("mnu_exit"));
    exit->setShortcut(QKeySequence::Quit);
    connect(exit, &QAction::triggered, this, &QWidget::close);
}

void MainWindow::buildStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("Statusbar"));
    for (int i = 0; i < 3; ++i) {
        auto* label = new QLabel(bar);
        label->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        label->setFrameShape(QFrame::StyledPanel);
        label->setFrameShadow(QFrame::Sunken);
        m_panels[static_cast<size_t>(i)] = label;
    }
    m_panels[0]->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("00:00:00")) + 16);
    m_panels[2]->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("STATUS: Ready")) +
                                 16);
    bar->addWidget(m_panels[0]);
    bar->addWidget(m_panels[1], 1);
    bar->addPermanentWidget(m_panels[2]);
}

void MainWindow::connectPanels()
{
    DesktopCore& core = *m_core;
    core.roomEditor.setReloadHook([this] { loadtree(); });
    core.scheduler.setReloadHook([this] { loadevents(); });
    core.macros.setReloadHook([this] { loadevents(); });
    core.scheduler.setQuitHook([this] { close(); });
    core.scheduler.setFirstRunHook([this] { m_core->launch(firstRunService()); });
    connect(&core.scheduler, &EventScheduler::sunTimesUpdated, this, &MainWindow::updateSunLabel);
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

    connect(m_tree, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { nodeClicked(item); });
    connect(m_tree, &DeviceTree::nodeActivated, this,
            [this](QTreeWidgetItem* item) { nodeClicked(item); });
    connect(m_tree, &DeviceTree::deleteRequested, this,
            [this](int key) { m_core->launch(deletetree(key)); });

    connect(m_room, &RoomViewPanel::pictureClicked, this,
            [this](int index) { m_core->launch(m_core->clicks.deviceclicked(index)); });
    connect(m_room, &RoomViewPanel::levelChosen, this, [this](int index, int level) {
        // The program's own slider moves happen under filebusy: not a user's move.
        if (!m_core->filebusy.isHeld())
            m_core->launch(sliderMoved(index, level));
    });

    connect(m_home, &HomePanel::addRoomRequested, this, [this] {
        showPanel(Panel::AddRoom);
        m_addRoom->focusName();
    });
    connect(m_home, &HomePanel::addDeviceRequested, this, [this] {
        showPanel(Panel::AddDevice);
        m_addDevice->focusName();
    });
    connect(m_home, &HomePanel::eventsRequested, this, &MainWindow::showEvents);
    connect(m_home, &HomePanel::autodetectRequested, this, [this] {
        m_core->launch([](DesktopCore& c) -> QCoro::Task<> { co_await c.finder.autodetect(); }(
            *m_core));
    });
    connect(m_home, &HomePanel::manualPortRequested, this, [this] {
        m_core->launch([](DesktopCore& c) -> QCoro::Task<> { co_await c.finder.manualport(); }(
            *m_core));
    });

    connect(m_addRoom, &AddRoomPanel::saved, this, &MainWindow::gohome);
    connect(m_addDevice, &AddDevicePanel::saved, this, &MainWindow::gohome);
    connect(m_events, &EventsPanel::listChanged, this, &MainWindow::loadevents);
    connect(m_events, &EventsPanel::lockChanged, this,
            [this](bool locked) { m_tree->setEnabled(!locked); });
    connect(m_profiles, &ProfilesPanel::profileSwapped, this, [this] {
        loadevents();
        showEvents();
    });
    connect(m_profiles, &ProfilesPanel::sunTimesChanged, this, &MainWindow::updateSunLabel);
}

void MainWindow::loadAll()
{
    m_core->rooms.loadlists();
    loadtree();
    loadevents();
    m_core->sun.dosunset();
    updateSunLabel();
}


void MainWindow::startInterfaceSearch()
{
    m_core->launch([](DesktopCore& core) -> QCoro::Task<> { co_await core.finder.findinterface(); }(
        *m_core));
}

void MainWindow::loadtree()
{
    m_tree->loadtree(m_core->rooms, [this](const QString& deviceKey) {
        return DeviceType::storedFamily(m_core->settings, deviceKey);
    });
    // The spoken commands follow the devices.
    m_voice.registerCommands();
    m_spoken.updateGrammar();
    QStringList rooms;
    QStringList devices;
    for (const RoomRecord& record : m_core->rooms.records()) {
        // A room whose lines are split by another's is offered once.
        if (!rooms.contains(record.room))
            rooms.append(record.room);
        if (!record.isRoom())
            devices.append(DeviceSelector::text(record));
    }
    m_addDevice->setRooms(rooms);
    m_events->setDevices(devices);
    m_macros->setDevices(devices);
}

void MainWindow::loadevents()
{
    m_core->launch(reloadEvents());
}

QCoro::Task<> MainWindow::reloadEvents()
{
    QPointer<MainWindow> self(this);
    const EventList::Loaded loaded = co_await m_core->events.loadevents();
    if (!self)
        co_return;
    m_events->setRows(loaded.rows);
    m_macros->setMacros(loaded.macroLines);
}

void MainWindow::showPanel(Panel panel)
{
    m_stack->setCurrentIndex(static_cast<int>(panel));
}

MainWindow::Panel MainWindow::currentPanel() const
{
    return static_cast<Panel>(m_stack->currentIndex());
}

void MainWindow::showEvents()
{
    showPanel(Panel::Events);
    m_events->showCurrentTime();
}

void MainWindow::updateSunLabel()
{
    m_home->setSunLabel(m_core->sun.label());
}

void MainWindow::nodeClicked(QTreeWidgetItem* item)
{
    if (!item)
        return;
    const auto kind = DeviceTree::kindOf(item);
    if (QTreeWidgetItem* room = item->parent(); room && kind == DeviceTree::NodeKind::Device) {
        // A device node switches the device if its room is the one shown;
        // the right-hand side stays empty. A device of another room is not
        // switched, even when a shown device has the same name: its slot
        // would be drawn for the wrong device.
        showPanel(Panel::None);
        m_room->loadroom(room->text(0));
        const int index =
            m_room->shownRoom() == room->text(0) ? slotOf(item->text(0)) : -1;
        if (index >= 0)
            m_core->launch(m_core->clicks.deviceclicked(index));
        return;
    }
    if (kind == DeviceTree::NodeKind::Room) {
        showRoom(item);
        return;
    }
    const QString text = item->text(0);
    if (text == QLatin1String("Home"))
        gohome();
    else if (text == QLatin1String("Web Server"))
        showPanel(Panel::WebServer);
    else if (text == QLatin1String("Events"))
        showEvents();
    else if (text == QLatin1String("Macros"))
        showPanel(Panel::Macros);
    else if (text == QLatin1String("Profiles"))
        showPanel(Panel::Profiles);
}

void MainWindow::showRoom(QTreeWidgetItem* roomNode)
{
    showPanel(Panel::Room);
    const QString room = roomNode->text(0);
    m_room->loadroom(room);
    m_room->clearSlots();
    m_room->setShownRoom(room);
    // A room shows its first ten devices; the rest are in the tree only.
    const int shown = std::min(roomNode->childCount(), RoomViewPanel::slotCount);
    for (int k = 0; k < shown; ++k) {
        const QString name = roomNode->child(k)->text(0);
        const QString key = RoomRecord::deviceKey(room, name);
        m_room->showDevice(k, name, key, m_core->deviceStatus.getlaststatus(key));
    }
}

QCoro::Task<> MainWindow::deletetree(int key)
{
    QPointer<MainWindow> self(this);
    const QTreeWidgetItem* item = m_tree->currentItem();
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
        gohome();
        break;
    case RoomListEditor::DeleteOutcome::ShowEvents:
        showEvents();
        break;
    case RoomListEditor::DeleteOutcome::Deleted:
        // The room view may show what was just deleted.
        m_room->clearSlots();
        m_room->loadroom(QString());
        gohome();
        loadevents();
        break;
    default:
        break;
    }
}

QCoro::Task<> MainWindow::sliderMoved(int index, int level)
{
    QPointer<MainWindow> self(this);
    setBusy(true);
    m_core->clicks.playfile(QStringLiteral("1b2.wav"));
    co_await m_core->clicks.deviceclicked(index, level);
    if (!self)
        co_return;
    // The slider shows where the user put it, whatever the click drew.
    m_room->setSliderLevel(index, level);
    setBusy(false);
}

void MainWindow::setStatus(int panel, const QString& text)
{
    if (panel >= 1 && panel <= 3)
        m_panels[static_cast<size_t>(panel - 1)]->setText(text);
}

QString MainWindow::statusText(int panel) const
{
    if (panel >= 1 && panel <= 3)
        return m_panels[static_cast<size_t>(panel - 1)]->text();
    return {};
}

QString MainWindow::shownRoom() const
{
    return m_room->shownRoom();
}

QString MainWindow::slotName(int index) const
{
    return m_room->slotName(index);
}

void MainWindow::setpictureon(int index, const QString& deviceKey)
{
    m_room->setpictureon(index, deviceKey);
}

void MainWindow::setpictureoff(int index, const QString& deviceKey)
{
    m_room->setpictureoff(index, deviceKey);
}

void MainWindow::setSliderLevel(int index, int level)
{
    m_room->setSliderLevel(index, level);
}

void MainWindow::setBusy(bool busy)
{
    // Nested: a slider move wraps the click it makes.
    if (busy) {
        if (m_busy++ == 0) {
            centralWidget()->setEnabled(false);
            menuBar()->setEnabled(false);
            QApplication::setOverrideCursor(Qt::WaitCursor);
        }
    } else if (m_busy > 0 && --m_busy == 0) {
        centralWidget()->setEnabled(true);
        menuBar()->setEnabled(true);
        QApplication::restoreOverrideCursor();
    }
}

void MainWindow::connectShell(SingleInstance& instance)
{
    m_startuptimer.setSingleShot(true);
    connect(&m_startuptimer, &QTimer::timeout, this, &MainWindow::startupTick);

    connect(m_home, &HomePanel::serviceClicked, this,
            [this](bool ticked) { m_core->launch(serviceClicked(ticked)); });
    connect(m_home, &HomePanel::loadWithWindowsClicked, this, [this](bool ticked) {
        if (m_suppressOptions) {
            showStoredOptions();
            return;
        }
        m_options.loadWithWindowsClicked(ticked);
    });
    connect(m_home, &HomePanel::delayedStartupClicked, this,
            [this](bool ticked) { m_core->launch(delayedStartupClicked(ticked)); });

    m_voice.setLauncher([this](QCoro::Task<> task) { m_core->launch(std::move(task)); });
    m_voice.setReminderHook([this] { showPanel(Panel::Speech); });
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
    connect(m_speech, &SpeechPanel::listenClicked, this, [this](bool ticked) {
        m_core->settings.write(settingkeys::listen,
                               ticked ? QStringLiteral("1") : QStringLiteral("0"));
        m_spoken.setOn(ticked);
    });
    connect(m_say, &SayBox::speakingStarted, &m_agent, &PhraseAgent::beginListening);
    connect(m_say, &SayBox::phraseEntered, this,
            [this](const QString& phrase) { m_say->setUnderstood(!sayPhrase(phrase).isEmpty()); });
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
    m_suppressOptions = false;
    if (m_core->settings.read(settingkeys::state) == QLatin1String("1")) {
        if (m_trayAvailable()) {
            // Lives in the tray: normal state, but hidden.
            m_suppressOptions = true;
            setWindowState(windowState() & ~Qt::WindowMinimized);
            hide();
            m_suppressOptions = false;
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
    m_suppressOptions = true;
    showNormal();
    m_suppressOptions = false;
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
    const bool suppressed = m_suppressOptions;
    m_suppressOptions = true;
    setWindowFlag(Qt::WindowStaysOnTopHint, topmost);
    setGeometry(frame);
    show();
    m_suppressOptions = suppressed;
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
    for (int step = 0; step < 50; ++step) {
        if (!self || !m_core->commands.commandInProgress())
            break;
        co_await Clock::instance().sleep(0.1);
    }
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
    if (event->type() != QEvent::WindowStateChange || m_suppressOptions || m_closing)
        return;
    if (isMinimized()) {
        m_core->settings.write(settingkeys::state, QStringLiteral("1"));
        if (m_tray && m_trayAvailable()) {
            // Not from inside the state change itself.
            QTimer::singleShot(0, this, [this] {
                m_suppressOptions = true;
                hide();
                setWindowState(windowState() & ~Qt::WindowMinimized);
                m_suppressOptions = false;
            });
        }
    } else {
        m_core->settings.write(settingkeys::state, QStringLiteral("0"));
    }
}

QCoro::Task<> MainWindow::serviceClicked(bool ticked)
{
    if (m_suppressOptions) {
        showStoredOptions();
        co_return;
    }
    QPointer<MainWindow> self(this);
    co_await m_options.serviceClicked(ticked);
    if (self)
        showStoredOptions();
}

// The first minute tick of a new installation ticks "Run as a service", so
// events go on running after the program closes. Not through the box's own
// click: suppression while the window hides itself would lose it for good,
// as the scheduler has already noted that the first tick has been.
QCoro::Task<> MainWindow::firstRunService()
{
    if (m_options.serviceTicked())
        co_return;
    QPointer<MainWindow> self(this);
    co_await m_options.serviceClicked(true);
    if (self)
        showStoredOptions();
}

QCoro::Task<> MainWindow::delayedStartupClicked(bool ticked)
{
    if (m_suppressOptions) {
        showStoredOptions();
        co_return;
    }
    co_await m_options.delayedStartupClicked(ticked);
}

void MainWindow::showStoredOptions()
{
    m_home->setOptions(m_options.serviceTicked(), m_options.loadWithWindowsTicked(),
                       m_options.delayedStartupTicked());
}

// StartupHost.

void MainWindow::showWait(const QString& heading)
{
    if (!m_wait) {
        m_wait = new WaitWindow(this);
        connect(m_wait, &WaitWindow::skipClicked, &m_sequence, &StartupSequence::skipWait);
    }
    m_wait->setHeading(heading);
    m_wait->setProgress(QStringLiteral("Please Wait"));
    m_wait->setSkipLinkShown(false);
    m_wait->show();
    m_wait->raise();
}

WaitWindow* MainWindow::waitWindow() const
{
    return m_wait;
}

void MainWindow::setWaitProgress(const QString& text)
{
    if (m_wait)
        m_wait->setProgress(text);
}

void MainWindow::showSkipLink(bool shown)
{
    if (m_wait)
        m_wait->setSkipLinkShown(shown);
}

void MainWindow::closeWait()
{
    if (m_wait) {
        m_wait->close();
        m_wait->deleteLater();
        m_wait = nullptr;
    }
}

void MainWindow::suppressHandlers(bool optionClicks, bool settings)
{
    m_suppressOptions = optionClicks;
    // The city, daylight-saving and profile choices react to the user only;
    // while loading, the user cannot reach them.
    m_profiles->setEnabled(!settings);
}

void MainWindow::endProgram()
{
    closeWait();
    m_finished = true;
    Q_EMIT closed();
}

void MainWindow::showWebPort(const QString& port)
{
    m_web->showPort(port);
}

void MainWindow::loadLists()
{
    m_core->rooms.loadlists();
}

void MainWindow::initAgent()
{
    m_voice.initagent();
}

void MainWindow::loadOptions()
{
    // The pick lists were filled when the panels were built.
    gohome();
    const QRect available = screen() ? screen()->availableGeometry() : QRect();
    const int left = m_core->settings.read(settingkeys::left).toInt();
    const int top = m_core->settings.read(settingkeys::top).toInt();
    move(available.isEmpty() ? QPoint(left, top) : QPoint(std::min(left, available.right() - 100),
                                                          std::min(top, available.bottom() - 100)));
    m_profiles->showStored();
    m_speech->showListening(m_core->settings.read(settingkeys::listen) == QLatin1String("1"));
    showStoredOptions();
}

void MainWindow::loadEvents()
{
    loadevents();
    m_core->sun.dosunset();
    updateSunLabel();
}

void MainWindow::startTimers()
{
    m_startuptimer.start(Clock::instance().interval(startupTickMs));
    m_core->server.startserver();
    m_core->scheduler.armRemovalTimer();
    m_core->traffic.startQueue();
}

void MainWindow::restoreWindowOnScreen()
{
    m_suppressOptions = true;
    showNormal();
    if (const QScreen* here = screen()) {
        const QRect area = here->geometry();
        QPoint at = pos();
        if (at.x() > area.right())
            at.setX(100);
        if (at.y() > area.bottom())
            at.setY(100);
        move(at);
    }
    m_suppressOptions = false;
}

void MainWindow::saveWindowPosition()
{
    m_core->settings.write(settingkeys::left, QString::number(pos().x()));
    m_core->settings.write(settingkeys::top, QString::number(pos().y()));
}

// The stored option: a shut-down during start-up comes before the box has
// been loaded from it.
bool MainWindow::serviceTicked() const
{
    return m_options.serviceTicked();
}

} // namespace casalux
