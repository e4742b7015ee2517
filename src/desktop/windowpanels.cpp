#include "windowpanels.h"

#include "adddevicepanel.h"
#include "addroompanel.h"
#include "desktopcore.h"
#include "devicetree.h"
#include "eventspanel.h"
#include "homepanel.h"
#include "macrospanel.h"
#include "profilespanel.h"
#include "roomviewpanel.h"
#include "saybox.h"
#include "speechpanel.h"
#include "webpanel.h"

#include <QScrollArea>
#include <QSplitter>
#include <QStackedWidget>
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

WindowPanels::WindowPanels(DesktopCore& core, DevicePictures& pictures)
    : tree(new DeviceTree(pictures)), say(new SayBox), home(new HomePanel),
      addRoom(new AddRoomPanel(core)), addDevice(new AddDevicePanel(core)),
      room(new RoomViewPanel(core.settings, core.deviceStatus, pictures)),
      events(new EventsPanel(core)), macros(new MacrosPanel(core)), web(new WebPanel(core)),
      profiles(new ProfilesPanel(core)), speech(new SpeechPanel), m_stack(new QStackedWidget)
{
    m_stack->setObjectName(QStringLiteral("panels"));
    auto* blank = new QWidget;
    blank->setObjectName(QStringLiteral("panel_none"));
    // In the order of Panel.
    for (QWidget* panel : std::initializer_list<QWidget*>{blank, home, addRoom, addDevice, room,
                                                          events, macros, web, profiles, speech})
        m_stack->addWidget(scrolled(panel));

    QObject::connect(home, &HomePanel::addRoomRequested, home, [this] {
        showPanel(Panel::AddRoom);
        addRoom->focusName();
    });
    QObject::connect(home, &HomePanel::addDeviceRequested, home, [this] {
        showPanel(Panel::AddDevice);
        addDevice->focusName();
    });
    QObject::connect(home, &HomePanel::eventsRequested, home, [this] { showEvents(); });
    QObject::connect(addRoom, &AddRoomPanel::saved, addRoom, [this] { gohome(); });
    QObject::connect(addDevice, &AddDevicePanel::saved, addDevice, [this] { gohome(); });
    QObject::connect(events, &EventsPanel::lockChanged, tree,
                     [this](bool locked) { tree->setEnabled(!locked); });
}

QWidget* WindowPanels::centre()
{
    // The tree, with the box for typed spoken commands under it.
    auto* left = new QWidget;
    left->setObjectName(QStringLiteral("frame_left"));
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(tree, 1);
    leftLayout->addWidget(say);

    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->setObjectName(QStringLiteral("splitter"));
    splitter->addWidget(left);
    splitter->addWidget(m_stack);
    splitter->setStretchFactor(1, 1);
    splitter->setChildrenCollapsible(false);
    tree->setMinimumWidth(160);
    splitter->setSizes({220, 780});
    return splitter;
}

void WindowPanels::showPanel(Panel panel)
{
    m_stack->setCurrentIndex(static_cast<int>(panel));
}

WindowPanels::Panel WindowPanels::currentPanel() const
{
    return static_cast<Panel>(m_stack->currentIndex());
}

void WindowPanels::showEvents()
{
    showPanel(Panel::Events);
    events->showCurrentTime();
}

} // namespace casalux
