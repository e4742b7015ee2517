#include "adddevicepanel.h"
#include "devicetree.h"
#include "messageprompts.h"
#include "platform/clock.h"
#include "windowrig.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QStackedWidget>
#include <QToolButton>
#include <QPainter>
#include <QtTest>

using namespace casalux;
using test::WindowRig;

namespace {

QStringList items(const QComboBox* box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out.append(box->itemText(i));
    return out;
}

QStringList childrenOf(const DeviceTree* tree, const QString& room)
{
    QStringList out;
    const QTreeWidgetItem* node = tree->findKey(room);
    for (int i = 0; node && i < node->childCount(); ++i)
        out.append(node->child(i)->text(0));
    return out;
}

QStringList topLevel(const DeviceTree* tree)
{
    QStringList out;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        out.append(tree->topLevelItem(i)->text(0));
    return out;
}

const QByteArray lounge = "Lounge~~~\r\n"
                          "Lounge~Fan~A~2\r\n"
                          "Lounge~Lamp~A~3\r\n"
                          "Hall~~~\r\n"
                          "Hall~Light~B~5\r\n";

} // namespace

// The main window: the tree, the room view, adding and deleting rooms and
// devices, clicks and sliders, and the real message boxes.
class TestDesktopWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { Clock::instance().freeze(QDateTime(QDate(2026, 3, 5), QTime(7, 45, 3)), 1000); }
    void cleanup() { Clock::instance().useSystemTime(); }

    void addRoomThenDeviceRebuildsTreeAndPickLists()
    {
        WindowRig rig;
        QTest::mouseClick(rig.find<QPushButton>("Label3"), Qt::LeftButton);
        QCOMPARE(rig.window.panels().currentPanel(), MainWindow::Panel::AddRoom);
        auto* roomName = rig.find<QLineEdit>("txt_roomname");
        QTRY_VERIFY(roomName->hasFocus());
        QTest::keyClicks(roomName, "Hall");
        QTest::mouseClick(rig.find<QPushButton>("com_saveroom"), Qt::LeftButton);
        QVERIFY(rig.settle());
        QCOMPARE(rig.folder.read("rmlst.rvf"), QByteArray("Hall~~~\r\n"));
        QCOMPARE(rig.window.panels().currentPanel(), MainWindow::Panel::Home);
        QCOMPARE(roomName->text(), QString());
        auto* tree = rig.find<DeviceTree>("Tree");
        QCOMPARE(topLevel(tree), (QStringList{"Home", "Events", "Macros", "Web Server", "Profiles",
                                              "Hall"}));

        QTest::mouseClick(rig.find<QPushButton>("Label4"), Qt::LeftButton);
        QCOMPARE(rig.window.panels().currentPanel(), MainWindow::Panel::AddDevice);
        auto* room = rig.find<QComboBox>("lst_temproom");
        QCOMPARE(items(room), QStringList{"Hall"});
        QCOMPARE(room->currentText(), QStringLiteral("Hall"));
        QCOMPARE(items(rig.find<QComboBox>("lst_devicetype")), AddDevicePanel::typeItems());
        QCOMPARE(rig.find<QComboBox>("lst_housecode")->count(), 16);
        QCOMPARE(rig.find<QComboBox>("lst_device")->itemText(15), QStringLiteral("16"));
        QTest::keyClicks(rig.find<QLineEdit>("txt_devname"), "Lamp");
        rig.find<QComboBox>("lst_housecode")->setCurrentText("A");
        rig.find<QComboBox>("lst_device")->setCurrentText("12");
        rig.find<QComboBox>("lst_devicetype")->setCurrentText("Lamp Module (dimmable)");
        QTest::mouseClick(rig.find<QPushButton>("com_savedevice"), Qt::LeftButton);
        QVERIFY(rig.settle());

        QCOMPARE(rig.folder.readLines("rmlst.rvf"), (QStringList{"Hall~~~", "Hall~Lamp~A~12"}));
        QCOMPARE(rig.settings.readShared("type", "HallLamp"), QStringLiteral("bulb2"));
        QCOMPARE(childrenOf(tree, "Hall"), QStringList{"Lamp"});
        QVERIFY(tree->findKey("Lamp~A~12"));
        for (const char* box : {"lst_eventdevice", "com_sel1", "com_sel2"}) {
            QCOMPARE(items(rig.find<QComboBox>(box)), QStringList{"Hall Lamp A12"});
            QCOMPARE(rig.find<QComboBox>(box)->currentText(), QStringLiteral("Hall Lamp A12"));
        }
    }

    void emptyNamesAreRefused()
    {
        WindowRig rig;
        rig.window.panels().showPanel(MainWindow::Panel::AddRoom);
        QTest::mouseClick(rig.find<QPushButton>("com_saveroom"), Qt::LeftButton);
        QVERIFY(rig.settle());
        QCOMPARE(rig.prompts.texts(), QStringList{"You must type in a name for room"});
        QCOMPARE(rig.prompts.shown.first().title, QStringLiteral("Error!"));
        QVERIFY(!rig.folder.exists("rmlst.rvf"));
        QCOMPARE(rig.window.panels().currentPanel(), MainWindow::Panel::AddRoom);
    }

    // A new room named like a section is refused; one already in an older
    // list file still has its own node, opens its room view and is deleted
    // as a room, while the section of that name deletes nothing.
    void roomsNamedLikeSections()
    {
        WindowRig rig("Home~~~\r\n"
                      "Home~Lamp~A~3\r\n"
                      "Macros~~~\r\n");
        rig.window.panels().showPanel(MainWindow::Panel::AddRoom);
        for (const char* name : {"Home", "web server", " Profiles "}) {
            auto* roomName = rig.find<QLineEdit>("txt_roomname");
            roomName->setText(name);
            QTest::mouseClick(rig.find<QPushButton>("com_saveroom"), Qt::LeftButton);
            QVERIFY(rig.settle());
            QVERIFY2(!rig.prompts.shown.isEmpty() &&
                         rig.prompts.texts().last().contains("name of a section"),
                     name);
        }
        QCOMPARE(rig.prompts.shown.size(), 3);
        QCOMPARE(rig.prompts.shown.last().title, QStringLiteral("Error!"));
        QCOMPARE(rig.folder.readLines("rmlst.rvf").size(), 3);

        auto* tree = rig.find<DeviceTree>("Tree");
        QCOMPARE(topLevel(tree), (QStringList{"Home", "Events", "Macros", "Web Server", "Profiles",
                                              "Home", "Macros"}));
        QCOMPARE(childrenOf(tree, "Home"), QStringList{"Lamp"});
        QVERIFY(tree->findSection("Home") != tree->findKey("Home"));
        // It also looks like a room (a door, plain type), not like the section.
        const auto looks = [](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
            return a->icon(0).pixmap(20).toImage() == b->icon(0).pixmap(20).toImage() &&
                   a->font(0).bold() == b->font(0).bold();
        };
        QVERIFY(!tree->findKey("Home")->icon(0).isNull());
        QVERIFY(looks(tree->findKey("Home"), tree->findKey("Macros")));
        QVERIFY(!looks(tree->findKey("Home"), tree->findSection("Home")));

        QVERIFY(rig.connectInterface());
        tree->scrollToItem(tree->findKey("Home"));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                          tree->visualItemRect(tree->findKey("Home")).center());
        QVERIFY(rig.settle());
        QCOMPARE(rig.window.panels().currentPanel(), MainWindow::Panel::Room);
        QCOMPARE(rig.window.roomView().slotName(0), QStringLiteral("Lamp"));
        QTest::mouseClick(rig.find<QToolButton>("device_0"), Qt::LeftButton);
        QVERIFY(rig.settle());
        QCOMPARE(rig.sentTexts(), QStringList{"A3 2 20"});

        const int asked = rig.prompts.shown.size();
        tree->setCurrentItem(tree->findSection("Macros"));
        QTest::keyClick(tree, Qt::Key_D, Qt::ControlModifier);
        QVERIFY(rig.settle());
        QCOMPARE(rig.prompts.shown.size(), asked);
        QCOMPARE(rig.folder.readLines("rmlst.rvf").size(), 3);

        tree->setCurrentItem(tree->findKey("Macros"));
        rig.prompts.queueAnswer(Prompts::Answer::Yes);
        QTest::keyClick(tree, Qt::Key_D, Qt::ControlModifier);
        QVERIFY(rig.settle());
        QCOMPARE(rig.folder.readLines("rmlst.rvf"), (QStringList{"Home~~~", "Home~Lamp~A~3"}));
    }

    void roomShowsItsFirstTenDevices()
    {
        QByteArray rooms = "Big Room~~~\r\n";
        for (int i = 1; i <= 12; ++i)
            rooms += "Big Room~Device " + QByteArray::number(i) + "~C~" + QByteArray::number(i) +
                     "\r\n";
        WindowRig rig(rooms);
        QVERIFY(rig.clickNode("Big Room"));
        QCOMPARE(rig.window.panels().currentPanel(), MainWindow::Panel::Room);
        QCOMPARE(rig.find<QLabel>("lab_room")->text(), QStringLiteral("Big Room"));
        for (int i = 0; i < 10; ++i) {
            QCOMPARE(rig.window.roomView().slotName(i), QStringLiteral("Device %1").arg(i + 1));
            QVERIFY(rig.find<QToolButton>(QStringLiteral("device_%1").arg(i))->isVisible());
        }
        QCOMPARE(childrenOf(rig.find<DeviceTree>("Tree"), "Big Room").size(), 12);
        QCOMPARE(items(rig.find<QComboBox>("lst_eventdevice")).size(), 12);
    }

    void fanHasNoSliderLampShowsItsLevel()
    {
        WindowRig rig(lounge);
        rig.setType("LoungeFan", "fan");
        rig.setType("LoungeLamp", "bulb2");
        rig.window.core().deviceStatus.setstatus("LoungeFan", "on", "100");
        rig.window.core().deviceStatus.setstatus("LoungeLamp", "on", "40"); // stored as 60
        QVERIFY(rig.clickNode("Lounge"));

        auto* fan = rig.find<QToolButton>("device_0");
        QCOMPARE(fan->property("picture").toString(), QStringLiteral("fanon.gif"));
        QVERIFY(!fan->icon().isNull());
        // The pages' GIFs are the window's own drawings (on a light plate);
        // the shipped one is drawn from the built-in picture, a home's own
        // picture by that name instead, from the next redraw on.
        const auto image = [](const QIcon& icon) {
            return icon.pixmap(64).toImage().convertToFormat(QImage::Format_ARGB32);
        };
        for (const QString kind : {"switch", "bulb", "fan", "radio", "bulb2"}) {
            for (const QString state : {"on", "off"}) {
                QImage drawn(64, 64, QImage::Format_ARGB32);
                drawn.fill(QColor(0xee, 0xf2, 0xf6));
                QPainter(&drawn).drawImage(0, 0, QImage(":/pictures/64/" + kind + state + ".png"));
                const QImage page = QImage(rig.folder.file("html/" + kind + state + ".gif"))
                                        .convertToFormat(QImage::Format_ARGB32);
                QCOMPARE(page.size(), drawn.size());
                qint64 difference = 0;
                for (int y = 0; y < 64; ++y)
                    for (int x = 0; x < 64; ++x) {
                        const QColor a = page.pixelColor(x, y), b = drawn.pixelColor(x, y);
                        difference += qAbs(a.red() - b.red()) + qAbs(a.green() - b.green()) +
                                      qAbs(a.blue() - b.blue());
                    }
                QVERIFY2(difference / (64 * 64 * 3) < 6, qPrintable(kind + state));
            }
        }
        QCOMPARE(image(fan->icon()), image(QIcon(":/pictures/64/fanon.png")));
        QImage own(64, 64, QImage::Format_ARGB32);
        own.fill(Qt::red);
        QVERIFY(own.save(rig.folder.file("html/fanon.gif"), "PNG"));
        QVERIFY(rig.clickNode("Lounge"));
        QCOMPARE(image(rig.find<QToolButton>("device_0")->icon()).pixelColor(32, 32),
                 QColor(Qt::red));
        QCOMPARE(fan->toolTip(), QStringLiteral("Click me to turn this device OFF"));
        QVERIFY(!rig.find<QSlider>("image1_0")->isVisible());

        auto* lamp = rig.find<QSlider>("image1_1");
        QVERIFY(lamp->isVisible());
        QCOMPARE(lamp->value(), 60);
        QCOMPARE(rig.find<QToolButton>("device_1")->property("picture").toString(),
                 QStringLiteral("bulb2on.gif"));
        QCOMPARE(lamp->toolTip(),
                 QStringLiteral("Slide up to increase the brightness or Down to decrease the "
                                "brightness"));
        QVERIFY(!rig.find<QToolButton>("device_2")->isVisible());
        QCOMPARE(rig.window.roomView().slotName(2), QString());
    }

    void pictureClickTogglesDevice()
    {
        WindowRig rig(lounge);
        QVERIFY(rig.clickNode("Lounge"));
        // Without an interface nothing is sent and the user is told.
        QTest::mouseClick(rig.find<QToolButton>("device_1"), Qt::LeftButton);
        QVERIFY(rig.settle());
        QCOMPARE(rig.prompts.shown.last().title, QStringLiteral("not possible!"));
        QVERIFY(rig.control.sent.isEmpty());

        QVERIFY(rig.connectInterface());
        QCOMPARE(rig.window.status().text(3), QStringLiteral("STATUS: Ready"));
        QTest::mouseClick(rig.find<QToolButton>("device_1"), Qt::LeftButton);
        // The window takes no input while the command is on the line.
        QVERIFY(!rig.window.centralWidget()->isEnabled());
        QVERIFY(!rig.window.menuBar()->isEnabled());
        QVERIFY(QApplication::overrideCursor());
        QVERIFY(rig.settle());
        QCOMPARE(rig.sentTexts(), QStringList{"A3 2 20"});
        QCOMPARE(rig.machineValue("LoungeLamp"), QStringLiteral("True"));
        QCOMPARE(rig.find<QToolButton>("device_1")->property("picture").toString(),
                 QStringLiteral("switchon.gif"));
        QCOMPARE(rig.sounds.played, (QStringList{"1b1.wav", "1b2.wav"}));
        QVERIFY(rig.window.centralWidget()->isEnabled());
        QVERIFY(!QApplication::overrideCursor());
    }

    void deviceNodeSwitchesOnlyWhenItsRoomIsShown()
    {
        WindowRig rig(lounge + "Hall~Lamp~B~6\r\n");
        QVERIFY(rig.connectInterface());
        QVERIFY(rig.clickNode("Lounge"));
        QVERIFY(rig.clickNode("Lounge/Lamp"));
        QCOMPARE(rig.sentTexts(), QStringList{"A3 2 20"});
        QCOMPARE(rig.window.panels().currentPanel(), MainWindow::Panel::None);
        QCOMPARE(rig.find<QLabel>("lab_room")->text(), QStringLiteral("Lounge"));

        // Hall's devices are not in the room view: nothing to switch, even
        // one named like a device that is shown.
        QVERIFY(rig.clickNode("Hall/Light"));
        QVERIFY(rig.clickNode("Hall/Lamp"));
        QCOMPARE(rig.sentTexts(), QStringList{"A3 2 20"});
        QVERIFY(rig.prompts.shown.isEmpty());
    }

    // The tree's current node moves with the arrow keys and the pop-up menu
    // while the room view still shows the room last clicked: clicks, slider
    // moves and incoming traffic belong to the room on view.
    void roomOnViewOwnsItsSlots()
    {
        WindowRig rig("Hall~~~\r\n"
                      "Hall~Light~B~5\r\n"
                      "Kitchen~~~\r\n"
                      "Kitchen~Light~C~1\r\n");
        rig.setType("HallLight", "bulb");
        rig.setType("KitchenLight", "bulb");
        QVERIFY(rig.connectInterface());
        QVERIFY(rig.clickNode("Hall"));
        auto* tree = rig.find<DeviceTree>("Tree");
        tree->setFocus();
        QTest::keyClick(tree, Qt::Key_Down);
        QTest::keyClick(tree, Qt::Key_Down);
        QCOMPARE(tree->currentItem(), tree->findKey("Kitchen"));
        QCOMPARE(rig.find<QLabel>("lab_room")->text(), QStringLiteral("Hall"));

        QTest::mouseClick(rig.find<QToolButton>("device_0"), Qt::LeftButton);
        QVERIFY(rig.settle());
        QCOMPARE(rig.sentTexts(), QStringList{"B5 2 20"});
        QCOMPARE(rig.machineValue("HallLight"), QStringLiteral("True"));
        QVERIFY(rig.machineValue("KitchenLight") != QStringLiteral("True"));

        rig.find<QSlider>("image1_0")->setValue(60);
        QVERIFY(rig.settle());
        QVERIFY(rig.sentTexts().size() > 1);
        for (const QString& sent : rig.sentTexts())
            QVERIFY2(sent.startsWith("B5 "), qPrintable(sent));
        QVERIFY(!rig.machineValue("dimHallLight").isEmpty());
        QVERIFY(rig.machineValue("dimKitchenLight").isEmpty());

        // Kitchen's Light switched from elsewhere is not drawn in Hall's slot;
        // Hall's is.
        rig.control.injectTraffic("C1", InterfaceControl::Off);
        QVERIFY(rig.settle());
        QCOMPARE(rig.find<QToolButton>("device_0")->property("picture").toString(),
                 QStringLiteral("bulbon.gif"));
        rig.control.injectTraffic("B5", InterfaceControl::Off);
        QVERIFY(rig.settle());
        QCOMPARE(rig.find<QToolButton>("device_0")->property("picture").toString(),
                 QStringLiteral("bulboff.gif"));
    }

    void splitRoomGivesOneNode()
    {
        WindowRig rig("Kitchen~~~\r\n"
                      "Kitchen~Kettle~A~1\r\n"
                      "Hall~~~\r\n"
                      "Hall~Light~B~5\r\n"
                      "Kitchen~Toaster~A~2\r\n"
                      "Kitchen~Kettle~A~1\r\n");
        auto* tree = rig.find<DeviceTree>("Tree");
        QCOMPARE(topLevel(tree).count("Kitchen"), 1);
        QCOMPARE(childrenOf(tree, "Kitchen"), (QStringList{"Kettle", "Toaster"}));
        QCOMPARE(items(rig.find<QComboBox>("lst_temproom")), (QStringList{"Kitchen", "Hall"}));
    }

    void sliderAtTheEndsActsAsAClick()
    {
        WindowRig rig(lounge);
        rig.setType("LoungeLamp", "bulb");
        QVERIFY(rig.connectInterface());
        QVERIFY(rig.clickNode("Lounge"));
        auto* slider = rig.find<QSlider>("image1_1");
        QCOMPARE(slider->value(), 20); // off

        slider->setValue(100);
        QVERIFY(rig.settle());
        QCOMPARE(rig.sentTexts(), QStringList{"A3 2 20"});
        QCOMPARE(rig.machineValue("LoungeLamp"), QStringLiteral("True"));
        QCOMPARE(slider->value(), 100);

        slider->setValue(0);
        QVERIFY(rig.settle());
        QCOMPARE(rig.sentTexts(), (QStringList{"A3 2 20", "A3 3 20"}));
        QCOMPARE(rig.machineValue("LoungeLamp"), QStringLiteral("False"));
        QCOMPARE(rig.machineValue("dimLoungeLamp"), QStringLiteral("20"));
        QCOMPARE(slider->value(), 0);

        // In between it dims: On, Bright to full, then Dim by the rest.
        slider->setValue(70);
        QVERIFY(rig.settle());
        QCOMPARE(rig.sentTexts().mid(2), (QStringList{"A3 2 0", "A3 5 100", "A3 4 30"}));
        QCOMPARE(slider->value(), 70);
    }

    void sliderMovesUnderFilebusyAreIgnored()
    {
        WindowRig rig(lounge);
        rig.setType("LoungeLamp", "bulb");
        QVERIFY(rig.connectInterface());
        QVERIFY(rig.clickNode("Lounge"));
        {
            auto hold = rig.window.core().filebusy.tryTake();
            QVERIFY(hold);
            rig.find<QSlider>("image1_1")->setValue(55);
            QVERIFY(rig.settle());
        }
        QVERIFY(rig.control.sent.isEmpty());
    }

    void incomingTrafficRedrawsShownDevice()
    {
        WindowRig rig(lounge);
        QVERIFY(rig.clickNode("Lounge"));
        rig.control.injectTraffic("A3", InterfaceControl::On);
        QVERIFY(rig.settle());
        QCOMPARE(rig.find<QToolButton>("device_1")->property("picture").toString(),
                 QStringLiteral("switchon.gif"));
        QCOMPARE(rig.window.status().text(2),
                 QStringLiteral("Incoming message, Lamp has turned on at 7:45:03"));
    }

    // A tile is big enough for a finger and says in words whether its device
    // is on and how bright: the % beside the slider follows the user's moves
    // and every redraw of the slot, by a click or by traffic.
    void tilesSayStateAndLevel()
    {
        WindowRig rig(lounge);
        rig.setType("LoungeLamp", "bulb");
        QVERIFY(rig.connectInterface());
        QVERIFY(rig.clickNode("Lounge"));
        auto* lamp = rig.find<QToolButton>("device_1");
        auto* slider = rig.find<QSlider>("image1_1");
        auto* level = rig.find<QLabel>("devicelevel_1");
        auto* state = rig.find<QLabel>("devicestate_1");
        QVERIFY(level && state);
        for (const char* picture : {"device_0", "device_1"}) {
            const QSize size = rig.find<QToolButton>(picture)->size();
            QVERIFY2(size.width() >= 96 && size.height() >= 96, picture);
        }
        QVERIFY(!rig.find<QLabel>("devicelevel_0")->isVisible()); // the fan does not dim
        QVERIFY(level->isVisible());

        const auto says = [&](const QString& onOff, const QString& percent) {
            return state->text() == onOff && lamp->accessibleDescription() == onOff &&
                   level->text() == percent;
        };
        QVERIFY2(says("Off", "20 %"), qPrintable(state->text() + " " + level->text()));

        slider->setValue(70);
        QVERIFY(rig.settle());
        QVERIFY2(says("On", "70 %"), qPrintable(state->text() + " " + level->text()));
        QCOMPARE(rig.find<QLabel>("devicestate_0")->text(), QStringLiteral("Off"));

        rig.control.injectTraffic("A3", InterfaceControl::Off);
        QVERIFY(rig.settle());
        QVERIFY2(says("Off", "20 %"), qPrintable(state->text() + " " + level->text()));

        // Switched on from elsewhere: drawn at the level that stores.
        rig.control.injectTraffic("A3", InterfaceControl::On);
        QVERIFY(rig.settle());
        const int stored = rig.window.core().deviceStatus.level("LoungeLamp");
        QVERIFY(stored != 20);
        QCOMPARE(slider->value(), stored);
        QVERIFY2(says("On", QStringLiteral("%1 %").arg(stored)),
                 qPrintable(state->text() + " " + level->text()));
    }

    // The tiles wrap to the width the window leaves them, never running past
    // the panel's edge nor leaving it to a scroll bar.
    void tilesWrapToTheWindow()
    {
        QByteArray rooms = "Big Room~~~\r\n";
        for (int i = 1; i <= 10; ++i)
            rooms += "Big Room~Device " + QByteArray::number(i) + "~C~" + QByteArray::number(i) +
                     "\r\n";
        WindowRig rig(rooms);
        QVERIFY(rig.clickNode("Big Room"));
        auto* area = rig.find<QScrollArea>("panel_roomview_scroll");
        auto* panel = rig.find<QWidget>("panel_roomview");
        const auto fits = [&] {
            if (area->horizontalScrollBar()->maximum() != 0)
                return false;
            for (int i = 0; i < 10; ++i) {
                if (rig.find<QWidget>(QStringLiteral("tile_%1").arg(i))->geometry().right() >=
                    panel->width())
                    return false;
            }
            return true;
        };
        for (const int width : {1000, 600, 1400}) {
            rig.window.resize(width, rig.window.height());
            QTRY_VERIFY2(fits(), qPrintable(QString::number(width)));
        }
    }

    void ctrlDDeletesFromTheTree()
    {
        WindowRig rig(lounge, "Lounge Lamp~A~3~60~07:30~on~daily~mtwuf\r\n"
                              "Hall Light~B~5~ ~22:00~off~daily~mtwufsr\r\n");
        auto* tree = rig.find<DeviceTree>("Tree");
        QVERIFY(rig.clickNode("Lounge"));
        tree->setCurrentItem(tree->findKey("Lamp~A~3"));
        tree->setFocus();

        // Typed letters search the tree; Delete only earns the hint.
        QTest::keyClick(tree, Qt::Key_X);
        QVERIFY(rig.settle());
        QVERIFY(rig.prompts.shown.isEmpty());
        QTest::keyClick(tree, Qt::Key_Delete);
        QVERIFY(rig.settle());
        QCOMPARE(rig.prompts.texts(),
                 QStringList{"If you wish to delete the item, press the Back Space key"});
        QTest::keyClick(tree, Qt::Key_Down); // moving is not a delete request
        QVERIFY(rig.settle());
        QCOMPARE(rig.prompts.shown.size(), 1);
        QCOMPARE(rig.folder.readLines("rmlst.rvf").size(), 5);

        tree->setCurrentItem(tree->findKey("Lamp~A~3"));
        rig.prompts.queueAnswer(Prompts::Answer::Yes); // really delete
        rig.prompts.queueAnswer(Prompts::Answer::Yes); // and its events
        QTest::keyClick(tree, Qt::Key_D, Qt::ControlModifier);
        QVERIFY(rig.settle());
        QCOMPARE(rig.folder.readLines("rmlst.rvf"),
                 (QStringList{"Lounge~~~", "Lounge~Fan~A~2", "Hall~~~", "Hall~Light~B~5"}));
        QCOMPARE(rig.folder.readLines("evelst.rvf"),
                 QStringList{"Hall Light~B~5~ ~22:00~off~daily~mtwufsr"});
        QCOMPARE(childrenOf(tree, "Lounge"), QStringList{"Fan"});
        QCOMPARE(items(rig.find<QComboBox>("lst_eventdevice")),
                 (QStringList{"Lounge Fan A2", "Hall Light B5"}));
        QTRY_COMPARE(rig.find<QTreeWidget>("ListView1")->topLevelItemCount(), 1);
        QVERIFY(rig.prompts.texts().last().startsWith("Your item was deleted at 07:45"));
        QCOMPARE(rig.window.panels().currentPanel(), MainWindow::Panel::Home);
    }

    // Enter and Space do what a click does; typed letters (spaces inside a
    // name too) search; Back Space deletes with the usual questions.
    void treeByKeyboard()
    {
        WindowRig rig(lounge + "Hall Upstairs~~~\r\n",
                      "Hall Light~B~5~ ~22:00~off~daily~mtwufsr\r\n");
        QVERIFY(rig.connectInterface());
        auto* tree = rig.find<DeviceTree>("Tree");
        tree->setFocus();
        tree->setCurrentItem(tree->findSection("Home"));
        QTest::keyClick(tree, Qt::Key_Down);
        QTest::keyClick(tree, Qt::Key_Return);
        QCOMPARE(rig.window.panels().currentPanel(), MainWindow::Panel::Events);
        QTest::keyClick(tree, Qt::Key_Down);
        QTest::keyClick(tree, Qt::Key_Space);
        QCOMPARE(rig.window.panels().currentPanel(), MainWindow::Panel::Macros);

        QTest::keyClicks(tree, "hall u");
        QCOMPARE(tree->currentItem(), tree->findKey("Hall Upstairs"));
        QCOMPARE(rig.window.panels().currentPanel(), MainWindow::Panel::Macros);
        QTest::keyClick(tree, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(rig.window.panels().currentPanel(), MainWindow::Panel::Room);
        QCOMPARE(rig.find<QLabel>("lab_room")->text(), QStringLiteral("Hall Upstairs"));

        tree->setCurrentItem(tree->findKey("Hall"));
        QTest::keyClick(tree, Qt::Key_Return);
        QCOMPARE(rig.find<QLabel>("lab_room")->text(), QStringLiteral("Hall"));
        QTest::keyClick(tree, Qt::Key_Down);
        QCOMPARE(tree->currentItem(), tree->findKey("Light~B~5"));
        QTest::qWait(QApplication::keyboardInputInterval() + 50); // the search has ended
        QTest::keyClick(tree, Qt::Key_Space);
        QVERIFY(rig.settle());
        QCOMPARE(rig.sentTexts(), QStringList{"B5 2 20"});
        QVERIFY(rig.prompts.shown.isEmpty());

        rig.prompts.queueAnswer(Prompts::Answer::No);
        QTest::keyClick(tree, Qt::Key_Backspace);
        QVERIFY(rig.settle());
        QCOMPARE(rig.prompts.texts(), QStringList{"Are you sure you want to delete this device?"});
        QCOMPARE(rig.folder.readLines("rmlst.rvf").size(), 6);

        rig.prompts.queueAnswer(Prompts::Answer::Yes);
        rig.prompts.queueAnswer(Prompts::Answer::Yes);
        tree->setCurrentItem(tree->findKey("Light~B~5"));
        QTest::keyClick(tree, Qt::Key_Backspace);
        QVERIFY(rig.settle());
        QCOMPARE(rig.prompts.texts().mid(1, 2),
                 (QStringList{"Are you sure you want to delete this device?",
                              "Do you want to remove any events you may have set for this "
                              "device?"}));
        QVERIFY(!rig.folder.readLines("rmlst.rvf").contains("Hall~Light~B~5"));
        QVERIFY(!rig.folder.exists("evelst.rvf") || rig.folder.readLines("evelst.rvf").isEmpty());
    }

    // From the tree, Tab goes round every control of the panel on show and
    // back; every button has a mnemonic, none taken twice on one screen.
    void everyPanelByKeyboard()
    {
        WindowRig rig(lounge, "Hall Light~B~5~ ~22:00~off~daily~mtwufsr\r\n");
        rig.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&rig.window));
        auto* tree = rig.find<DeviceTree>("Tree");
        auto* stack = rig.find<QStackedWidget>("panels");
        const auto ends = [](QWidget* w) {
            while (w && w->focusProxy())
                w = w->focusProxy();
            return w;
        };
        const QList<MainWindow::Panel> panels{
            MainWindow::Panel::Home,      MainWindow::Panel::AddRoom, MainWindow::Panel::AddDevice,
            MainWindow::Panel::Room,      MainWindow::Panel::Events,  MainWindow::Panel::Macros,
            MainWindow::Panel::WebServer, MainWindow::Panel::Profiles,
            MainWindow::Panel::Speech};
        for (const auto panel : panels) {
            if (panel == MainWindow::Panel::Room)
                QVERIFY(rig.clickNode("Lounge"));
            else
                rig.window.panels().showPanel(panel);
            QWidget* page = stack->currentWidget();
            const QString name = page->objectName();
            tree->setFocus();
            QSet<QWidget*> reached;
            for (int i = 0; i < 200; ++i) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                if (QApplication::focusWidget() == tree)
                    break;
                reached.insert(ends(QApplication::focusWidget()));
            }
            QVERIFY2(QApplication::focusWidget() == tree, qPrintable(name));

            QStringList keys{"F", "Y"}; // the File menu and the say box
            for (QWidget* w : page->findChildren<QWidget*>()) {
                if (!w->isVisibleTo(&rig.window) || !w->isEnabled())
                    continue;
                if ((w->focusPolicy() & Qt::TabFocus) && !w->focusProxy())
                    QVERIFY2(reached.contains(w), qPrintable(name + " " + w->objectName() + " " +
                                                             w->metaObject()->className()));
                QString text;
                if (auto* button = qobject_cast<QPushButton*>(w))
                    text = button->text();
                else if (auto* check = qobject_cast<QCheckBox*>(w))
                    text = check->text();
                else if (auto* label = qobject_cast<QLabel*>(w); label && label->buddy())
                    text = label->text();
                else if (auto* group = qobject_cast<QGroupBox*>(w))
                    text = group->title();
                const QKeySequence key = QKeySequence::mnemonic(text);
                if (key.isEmpty()) {
                    // Buttons need one, unless their group box has it.
                    auto* group = qobject_cast<QGroupBox*>(w->parentWidget());
                    QVERIFY2(!(qobject_cast<QPushButton*>(w) || qobject_cast<QCheckBox*>(w)) ||
                                 (group && !QKeySequence::mnemonic(group->title()).isEmpty()),
                             qPrintable(name + " " + text));
                    continue;
                }
                const QString letter = key.toString().right(1);
                QVERIFY2(!keys.contains(letter), qPrintable(name + " " + text));
                keys.append(letter);
            }
        }
    }

    void deletingTheHomeNodeShowsHome()
    {
        WindowRig rig(lounge);
        QVERIFY(rig.clickNode("Macros"));
        auto* tree = rig.find<DeviceTree>("Tree");
        tree->setCurrentItem(tree->findKey("Home"));
        QTest::keyClick(tree, Qt::Key_D, Qt::ControlModifier);
        QVERIFY(rig.settle());
        QCOMPARE(rig.window.panels().currentPanel(), MainWindow::Panel::Home);
        QCOMPARE(rig.folder.readLines("rmlst.rvf").size(), 5);
    }

    void sectionsShowTheirPanels()
    {
        WindowRig rig(lounge);
        const QList<std::pair<QString, MainWindow::Panel>> sections{
            {"Events", MainWindow::Panel::Events},   {"Macros", MainWindow::Panel::Macros},
            {"Web Server", MainWindow::Panel::WebServer}, {"Profiles", MainWindow::Panel::Profiles},
            {"Home", MainWindow::Panel::Home},       {"Hall", MainWindow::Panel::Room}};
        for (const auto& [node, panel] : sections) {
            QVERIFY(rig.clickNode(node));
            QCOMPARE(rig.window.panels().currentPanel(), panel);
        }
        QCOMPARE(rig.find<QComboBox>("lst_hour")->currentText(), QStringLiteral("07"));
        QCOMPARE(rig.find<QComboBox>("lst_min")->currentText(), QStringLiteral("45"));
    }

    void realBoxesAnswerWithoutNestingAnEventLoop()
    {
        WindowRig rig;
        MessagePrompts prompts(&rig.window);
        auto question = prompts.message("Really?", "Sure?", Prompts::Icon::Question,
                                        Prompts::Buttons::YesNo);
        QMessageBox* box = nullptr;
        QTRY_VERIFY((box = rig.window.findChild<QMessageBox*>()) && box->isVisible());
        QCOMPARE(box->windowTitle(), QStringLiteral("Sure?"));
        QCOMPARE(box->text(), QStringLiteral("Really?"));
        box->button(QMessageBox::No)->click();
        QCOMPARE(QCoro::waitFor(std::move(question)), Prompts::Answer::No);

        auto entry = prompts.input("Port?", "X10 Interface", "2");
        QInputDialog* dialog = nullptr;
        QTRY_VERIFY((dialog = rig.window.findChild<QInputDialog*>()) && dialog->isVisible());
        QCOMPARE(dialog->textValue(), QStringLiteral("2"));
        dialog->setTextValue("7");
        dialog->accept();
        QCOMPARE(QCoro::waitFor(std::move(entry)), std::optional<QString>("7"));
    }
};

QTEST_MAIN(TestDesktopWindow)
#include "tst_desktop_window.moc"
