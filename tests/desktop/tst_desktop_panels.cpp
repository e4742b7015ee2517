#include "devicetree.h"
#include "httpget.h"
#include "platform/clock.h"
#include "twips.h"
#include "webpanel.h"
#include "windowrig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

using namespace casalux;
using test::WindowRig;

namespace {

const QByteArray home = "Lounge~~~\r\n"
                        "Lounge~Lamp~A~3\r\n"
                        "Hall~~~\r\n"
                        "Hall~Light~B~5\r\n"
                        "Hall~Switch~B~12\r\n";

QStringList column(const QTreeWidget* list, int index)
{
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        out.append(list->topLevelItem(i)->text(index));
    return out;
}

void choose(QComboBox* box, const QString& text)
{
    const int index = box->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    box->setCurrentIndex(index);
    Q_EMIT box->activated(index); // as a user's pick does
}

} // namespace

// The events, macros, profiles and web server panels, driven through their
// controls.
class TestDesktopPanels : public QObject {
    Q_OBJECT

    struct EventsRig : WindowRig {
        using WindowRig::WindowRig;
        QTreeWidget* list() const { return find<QTreeWidget>("ListView1"); }
        QComboBox* box(const char* name) const { return find<QComboBox>(name); }
        void setDays(const QString& letters)
        {
            const QString all = QStringLiteral("mtwufsr");
            for (int i = 0; i < 7; ++i)
                find<QCheckBox>(QStringLiteral("days_%1").arg(i))
                    ->setChecked(letters.contains(all.at(i)));
        }
        bool save()
        {
            QTest::mouseClick(find<QPushButton>("Command6"), Qt::LeftButton);
            return settle();
        }
        bool editRow(int row)
        {
            QTreeWidgetItem* item = list()->topLevelItem(row);
            list()->setCurrentItem(item);
            QTest::mouseClick(list()->viewport(), Qt::LeftButton, {},
                              list()->visualItemRect(item).center());
            QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {},
                               list()->visualItemRect(item).center());
            return settle();
        }
    };

private Q_SLOTS:
    void init() { Clock::instance().freeze(QDateTime(QDate(2026, 3, 5), QTime(7, 45, 3)), 1000); }
    void cleanup() { Clock::instance().useSystemTime(); }

    void editorOffersTheItsChoices()
    {
        EventsRig rig(home);
        QCOMPARE(rig.box("lst_hour")->count(), 26);
        QCOMPARE(rig.box("lst_hour")->itemText(24), QStringLiteral("sRise"));
        QCOMPARE(rig.box("lst_min")->count(), 60);
        QCOMPARE(rig.box("lst_dim")->itemText(0), QStringLiteral("10%"));
        QCOMPARE(rig.box("lst_dim")->currentText(), QStringLiteral("100%"));
        QCOMPARE(rig.box("lst_freq")->currentText(), QStringLiteral("daily"));
        QCOMPARE(rig.box("lst_eventdevice")->currentText(), QStringLiteral("Hall Switch B12"));
        const QStringList headers{"Device", "", "", "Dim", "Time", "Action", "Freq", "Days"};
        const QList<int> twips{2850, 350, 500, 900, 1000, 1000, 1000, 1070};
        for (int i = 0; i < 8; ++i) {
            QCOMPARE(rig.list()->headerItem()->text(i), headers.at(i));
            QCOMPARE(rig.list()->columnWidth(i), Twips::toPixels(twips.at(i), rig.list()));
        }
    }

    void savesOnAndOffEventsAsExactLines()
    {
        EventsRig rig(home);
        rig.window.panels().showEvents();
        rig.box("lst_eventdevice")->setCurrentText("Lounge Lamp A3");
        choose(rig.box("lst_hour"), "07");
        choose(rig.box("lst_min"), "30");
        rig.box("lst_dim")->setCurrentText("60%");
        rig.setDays("mtwuf");
        QVERIFY(rig.save());
        QCOMPARE(rig.folder.readLines("evelst.rvf"),
                 QStringList{"Lounge Lamp~A~3~60~07:30~on~daily~mtwuf"});
        QCOMPARE(rig.window.status().text(2), QStringLiteral("New event saved at 07:45"));

        rig.box("lst_eventdevice")->setCurrentText("Hall Switch B12");
        choose(rig.box("lst_hour"), "22");
        rig.box("lst_action")->setCurrentText("off");
        rig.setDays("mtwufsr");
        QVERIFY(rig.save());
        QCOMPARE(rig.folder.readLines("evelst.rvf").last(),
                 QStringLiteral("Hall Switch~B~12~ ~22:00~off~daily~mtwufsr"));
        QTRY_COMPARE(rig.list()->topLevelItemCount(), 2);
        QCOMPARE(column(rig.list(), 3), (QStringList{" ", "60%"}));
    }

    void sunsetEventRoundTrips()
    {
        EventsRig rig(home, "Lounge Lamp~A~3~ ~sSet:-2~off~once~sr\r\n"
                            "Hall Light~B~5~80~06:15~on~daily~mtwuf\r\n");
        rig.window.panels().showEvents();
        QCOMPARE(rig.list()->topLevelItem(1)->text(0), QStringLiteral("Lounge Lamp"));
        QVERIFY(rig.editRow(1));
        QCOMPARE(rig.box("lst_hour")->currentText(), QStringLiteral("sSet"));
        QCOMPARE(rig.box("lst_min")->currentText(), QStringLiteral("-2"));
        QCOMPARE(rig.box("lst_action")->currentText(), QStringLiteral("off"));
        QVERIFY(!rig.box("lst_dim")->isVisible());
        QVERIFY(rig.save());
        QCOMPARE(rig.folder.readLines("evelst.rvf"),
                 (QStringList{"Hall Light~B~5~80~06:15~on~daily~mtwuf",
                              "Lounge Lamp~A~3~ ~sSet:-2~off~once~sr"}));
    }

    void editingLocksListAndTreeAndKeepsOneLine()
    {
        EventsRig rig(home, "Lounge Lamp~A~3~60~07:30~on~daily~mtwuf\r\n"
                            "Hall Light~B~5~80~06:15~on~daily~mtwuf\r\n");
        rig.window.panels().showEvents();
        QVERIFY(rig.editRow(1)); // Lounge Lamp, after sorting
        auto* save = rig.find<QPushButton>("Command6");
        QVERIFY(!rig.list()->isEnabled());
        QVERIFY(!rig.find<DeviceTree>("Tree")->isEnabled());
        QVERIFY(!rig.find<QPushButton>("Command5")->font().bold());
        const bool boldBefore = save->font().bold();
        QTRY_VERIFY(save->font().bold() != boldBefore); // flashing

        choose(rig.box("lst_hour"), "08");
        choose(rig.box("lst_min"), "15");
        QVERIFY(rig.save());
        QCOMPARE(rig.folder.readLines("evelst.rvf"),
                 (QStringList{"Hall Light~B~5~80~06:15~on~daily~mtwuf",
                              "Lounge Lamp~A~3~60~08:15~on~daily~mtwuf"}));
        QVERIFY(rig.list()->isEnabled());
        QVERIFY(rig.find<DeviceTree>("Tree")->isEnabled());
        QVERIFY(save->font().bold());
        QTest::qWait(50); // flashing has stopped
        QVERIFY(save->font().bold());
    }

    void newEndsAnEditWithoutRemovingTheLoadedEvent()
    {
        EventsRig rig(home, "Lounge Lamp~A~3~60~07:30~on~daily~mtwuf\r\n");
        rig.window.panels().showEvents();
        QVERIFY(rig.editRow(0));
        QTest::mouseClick(rig.find<QPushButton>("Command5"), Qt::LeftButton);
        QVERIFY(rig.list()->isEnabled());
        QCOMPARE(rig.box("lst_action")->currentText(), QStringLiteral("on"));
        QVERIFY(rig.find<QCheckBox>("days_5")->isChecked());
        QCOMPARE(rig.box("lst_hour")->currentText(), QStringLiteral("07"));
        QCOMPARE(rig.box("lst_min")->currentText(), QStringLiteral("45"));
        QVERIFY(rig.save());
        QCOMPARE(rig.folder.readLines("evelst.rvf"),
                 (QStringList{"Lounge Lamp~A~3~60~07:30~on~daily~mtwuf",
                              "Lounge Lamp~A~3~100~07:45~on~daily~mtwufsr"}));
    }

    void onlyCtrlDDeletesAnEvent()
    {
        EventsRig rig(home, "Lounge Lamp~A~3~60~07:30~on~daily~mtwuf\r\n"
                            "Lounge Lamp~A~3~60~07:30~on~daily~mtwufsr\r\n");
        rig.window.panels().showEvents();
        rig.list()->setFocus();
        rig.list()->setCurrentItem(rig.list()->topLevelItem(0));
        QTest::keyClick(rig.list(), Qt::Key_X);
        QTest::keyClick(rig.list(), Qt::Key_Delete);
        QTest::keyClick(rig.list(), Qt::Key_D);
        QVERIFY(rig.settle());
        QCOMPARE(rig.folder.readLines("evelst.rvf").size(), 2);

        const QString shortLine = rig.list()->currentItem()->text(7) == "mtwuf"
                                      ? QStringLiteral("mtwufsr")
                                      : QStringLiteral("mtwuf");
        QTest::keyClick(rig.list(), Qt::Key_D, Qt::ControlModifier);
        QVERIFY(rig.settle());
        // Only the selected row's own line goes, not the line that contains it.
        QCOMPARE(rig.folder.readLines("evelst.rvf"),
                 QStringList{"Lounge Lamp~A~3~60~07:30~on~daily~" + shortLine});
        QTRY_COMPARE(rig.list()->topLevelItemCount(), 1);
    }

    void deletingFromAnEmptyListSaysSo()
    {
        EventsRig rig(home);
        rig.list()->setFocus();
        QTest::keyClick(rig.list(), Qt::Key_D, Qt::ControlModifier);
        QVERIFY(rig.settle());
        QCOMPARE(rig.prompts.texts(), QStringList{"You dont have any events to delete"});
    }

    void offHidesTheDimSelector()
    {
        EventsRig rig(home);
        rig.window.panels().showEvents();
        rig.box("lst_action")->setCurrentText("off");
        QVERIFY(!rig.box("lst_dim")->isVisible());
        QVERIFY(!rig.find<QLabel>("Label29")->isVisible());
        rig.box("lst_action")->setCurrentText("on");
        QVERIFY(rig.box("lst_dim")->isVisible());
        QVERIFY(rig.find<QLabel>("Label29")->isVisible());
    }

    void sunHoursOfferOffsets()
    {
        EventsRig rig(home);
        rig.window.panels().showEvents();
        choose(rig.box("lst_hour"), "sRise");
        QVERIFY(rig.settle());
        QCOMPARE(rig.box("lst_min")->count(), 7);
        QCOMPARE(rig.box("lst_min")->currentText(), QStringLiteral("00"));
        QCOMPARE(rig.prompts.shown.last().title, QStringLiteral("Please read"));
        QVERIFY(rig.prompts.texts().last().startsWith(
            "You have selected Sunrise\r\n\r\nYou may now select an offset time\r\n"));
        QVERIFY(rig.prompts.texts().last().endsWith("before or after actual sunrise."));
        choose(rig.box("lst_hour"), "sSet");
        QVERIFY(rig.settle());
        QCOMPARE(rig.box("lst_min")->count(), 7);
        QVERIFY(rig.prompts.texts().last().startsWith("You have selected Sunset"));
        choose(rig.box("lst_hour"), "09");
        QCOMPARE(rig.box("lst_min")->count(), 60);
    }

    void headerClickSortsAscending()
    {
        EventsRig rig(home, "Lounge Lamp~A~3~60~09:00~on~daily~m\r\n"
                            "Hall Switch~B~12~ ~06:30~off~daily~t\r\n"
                            "Hall Light~B~5~40~07:15~on~once~w\r\n");
        rig.window.panels().showEvents();
        QCOMPARE(column(rig.list(), 0), (QStringList{"Hall Light", "Hall Switch", "Lounge Lamp"}));
        QHeaderView* header = rig.list()->header();
        const auto clickHeader = [header](int section) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(section) +
                                         header->sectionSize(section) / 2,
                                     header->height() / 2));
        };
        for (int repeat = 0; repeat < 2; ++repeat) { // a second click still sorts ascending
            clickHeader(4);
            QCOMPARE(column(rig.list(), 4), (QStringList{"06:30", "07:15", "09:00"}));
        }
        clickHeader(2);
        QCOMPARE(column(rig.list(), 2), (QStringList{"3", "5", "12"}));
    }

    void profileSelectorSwapsSchedules()
    {
        EventsRig rig(home, "Lounge Lamp~A~3~60~07:30~on~daily~mtwuf\r\n");
        rig.window.panels().showPanel(MainWindow::Panel::Profiles);
        auto* profile = rig.box("com_profile");
        QCOMPARE(profile->currentText(), QStringLiteral("Standard"));
        QVERIFY(profile->toolTip().startsWith("Power profiles allow you"));
        choose(profile, "Weekends");
        QVERIFY(rig.settle());
        QCOMPARE(rig.folder.readLines("Standard.txt"),
                 QStringList{"Lounge Lamp~A~3~60~07:30~on~daily~mtwuf"});
        QVERIFY(rig.folder.readLines("evelst.rvf").isEmpty());
        QCOMPARE(rig.settings.read(settingkeys::profile), QStringLiteral("Weekends"));
        QCOMPARE(rig.window.panels().currentPanel(), MainWindow::Panel::Events);
        QTRY_COMPARE(rig.list()->topLevelItemCount(), 0);

        choose(profile, "Standard");
        QVERIFY(rig.settle());
        QCOMPARE(rig.folder.readLines("evelst.rvf"),
                 QStringList{"Lounge Lamp~A~3~60~07:30~on~daily~mtwuf"});
        QTRY_COMPARE(rig.list()->topLevelItemCount(), 1);
    }

    void cityAndDaylightSavingSetTheSunLabel()
    {
        EventsRig rig(home);
        rig.window.panels().showPanel(MainWindow::Panel::Profiles);
        auto* label = rig.find<QLabel>("lab_sunset");
        QVERIFY(label->text().startsWith("Todays Sunrise time is:"));
        auto* city = rig.box("com_city");
        QCOMPARE(city->count(), 62);
        QCOMPARE(city->itemText(0), QStringLiteral("Bridlington, England, 54.08, 0.19, 0"));
        QCOMPARE(city->currentText(), QStringLiteral("London, England, 51.3, 0.1, 0"));
        const QString london = label->text();
        choose(city, "Sydney, Australia, -33.87, -151.21, -10");
        QCOMPARE(rig.settings.read(settingkeys::city),
                 QStringLiteral("Sydney, Australia, -33.87, -151.21, -10"));
        QVERIFY(label->text() != london);
        const QString sydney = label->text();

        // A typed zone with a fraction no zone has is refused and said so;
        // nothing changes.
        const qsizetype shown = rig.prompts.shown.size();
        city->lineEdit()->setText(QStringLiteral("Home, Here, 40.7, 74, 5.3"));
        QTest::keyClick(city->lineEdit(), Qt::Key_Return);
        QVERIFY(rig.settle());
        QCOMPARE(rig.prompts.shown.size(), shown + 1);
        QCOMPARE(rig.prompts.shown.last().title, QStringLiteral("City"));
        QVERIFY(rig.prompts.shown.last().text.contains(QStringLiteral("5.3")));
        QCOMPARE(rig.settings.read(settingkeys::city),
                 QStringLiteral("Sydney, Australia, -33.87, -151.21, -10"));
        QCOMPARE(label->text(), sydney);
        // A half-hour zone is a zone.
        city->lineEdit()->setText(QStringLiteral("New Delhi, India, 28.61, -77.21, -5.5"));
        QTest::keyClick(city->lineEdit(), Qt::Key_Return);
        QVERIFY(rig.settle());
        QCOMPARE(rig.prompts.shown.size(), shown + 1);
        QCOMPARE(rig.settings.read(settingkeys::city),
                 QStringLiteral("New Delhi, India, 28.61, -77.21, -5.5"));
        choose(city, "Sydney, Australia, -33.87, -151.21, -10");
        QCOMPARE(label->text(), sydney);
        auto* dst = rig.find<QCheckBox>("Check1");
        QVERIFY(!dst->isChecked());
        // On the box itself: a check box ignores clicks beside its caption.
        QTest::mouseClick(dst, Qt::LeftButton, {}, QPoint(8, dst->height() / 2));
        QVERIFY(dst->isChecked());
        QCOMPARE(rig.settings.read(settingkeys::dst), QStringLiteral("1"));
        QVERIFY(label->text() != sydney);
    }

    void macroSaveAndDelete()
    {
        EventsRig rig(home);
        rig.window.panels().showPanel(MainWindow::Panel::Macros);
        rig.box("com_sel1")->setCurrentText("Lounge Lamp A3");
        rig.box("mac_event")->setCurrentText("On");
        rig.box("com_sel2")->setCurrentText("Hall Switch B12");
        rig.box("mac_whattodo")->setCurrentText("Turn On");
        QTest::mouseClick(rig.find<QPushButton>("com_savemacro"), Qt::LeftButton);
        QVERIFY(rig.settle());
        QCOMPARE(rig.folder.readLines("macs.hlk"),
                 QStringList{"When~A3~Lounge~Lamp~turns~on~Turn~On~B12~Hall~Switch"});
        auto* list = rig.find<QListWidget>("ListVIew2");
        QTRY_COMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(),
                 QStringLiteral("When A3 Lounge Lamp turns on Turn On B12 Hall Switch"));

        rig.prompts.queueAnswer(Prompts::Answer::No);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(0)).center());
        QVERIFY(rig.settle());
        QCOMPARE(rig.folder.readLines("macs.hlk").size(), 1);

        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(0)).center());
        QVERIFY(rig.settle());
        QCOMPARE(rig.prompts.shown.last().text,
                 QStringLiteral("Do you want to delete the selected Macro?"));
        QVERIFY(rig.folder.readLines("macs.hlk").isEmpty());
        QTRY_COMPARE(list->count(), 0);
    }

    void webPortIsChecked_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::newRow("below 80") << "8";
        QTest::newRow("empty") << "";
        QTest::newRow("not a number") << "80a";
    }

    void webPortIsChecked()
    {
        QFETCH(QString, entry);
        EventsRig rig(home);
        rig.window.panels().showPanel(MainWindow::Panel::WebServer);
        auto* port = rig.find<QLineEdit>("txt_webport");
        QCOMPARE(port->text(), QStringLiteral("80"));
        QCOMPARE(rig.find<QLabel>("Label48")->text(),
                 QStringLiteral("The web server is currently set to run on port 80"));
        port->setText(entry);
        QTest::mouseClick(rig.find<QPushButton>("Command7"), Qt::LeftButton);
        QVERIFY(rig.settle());
        QCOMPARE(rig.prompts.texts(), QStringList{"Please enter a valid port number of at least "
                                                  "80 in to the port text entry box"});
        QCOMPARE(rig.settings.read(settingkeys::webport), QStringLiteral("80"));
    }

    void webPortIsSavedAndLookedUp()
    {
        EventsRig rig(home);
        const QString chosen = QString::number(test::freePort());
        auto* port = rig.find<QLineEdit>("txt_webport");
        port->setText(chosen);
        QTest::mouseClick(rig.find<QPushButton>("Command7"), Qt::LeftButton);
        QVERIFY(rig.settle());
        QCOMPARE(rig.settings.read(settingkeys::webport), chosen);
        QCOMPARE(rig.find<QLabel>("Label48")->text(),
                 QStringLiteral("The web server is currently set to run on port ") + chosen);
        QCOMPARE(rig.prompts.shown.last().title, QStringLiteral("Saved"));
        rig.window.core().server.stopserver();

        QUrl opened;
        rig.window.findChild<WebPanel*>()->setUrlOpener(
            [&opened](const QString& address) {
                opened = QUrl(address);
                return true;
            },
            [] { return true; });
        QTest::mouseClick(rig.find<QPushButton>("Command10"), Qt::LeftButton);
        QVERIFY(rig.settle());
        QCOMPARE(opened.query(), QStringLiteral("port=") + chosen);
    }
};

QTEST_MAIN(TestDesktopPanels)
#include "tst_desktop_panels.moc"
