#include "home/textlistfile.h"
#include "platform/busymark.h"
#include "platform/clock.h"
#include "recordingstatus.h"
#include "schedule/eventeditor.h"
#include "schedule/eventlist.h"
#include "scriptedprompts.h"
#include "tempfolder.h"

#include <QtTest>

using namespace casalux;
using test::crlf;
using Outcome = EventEditor::Outcome;
using Selection = EventEditor::Selection;

Q_DECLARE_METATYPE(casalux::EventEditor::Outcome)

namespace {

constexpr std::array<bool, 7> weekdays{true, true, true, true, true, false, false};
constexpr std::array<bool, 7> everyDay{true, true, true, true, true, true, true};

const QString lampOn = QStringLiteral("Lounge Lamp~A~3~60~07:30~on~daily~mtwuf");

} // namespace

class TestEventEditor : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempFolder> m_folder;
    BusyMark m_filebusy;
    std::unique_ptr<EventList> m_events;
    test::RecordingStatus m_status;
    test::ScriptedPrompts m_prompts;
    std::unique_ptr<EventEditor> m_editor;

    QByteArray listBytes() const { return m_folder->read(QStringLiteral("evelst.rvf")); }
    void writeList(const QStringList& lines) const
    {
        m_folder->write(QStringLiteral("evelst.rvf"), crlf(lines));
    }
    Outcome save(const Selection& s, std::optional<EventRecord> editing = std::nullopt)
    {
        return QCoro::waitFor(m_editor->save(s, editing));
    }

private Q_SLOTS:
    void init()
    {
        Clock::instance().freeze(QDateTime(QDate(2026, 3, 5), QTime(9, 41, 12)), 1000);
        m_folder = std::make_unique<test::TempFolder>();
        m_events = std::make_unique<EventList>(m_folder->path(), m_filebusy);
        m_status.clear();
        m_prompts = {};
        m_editor = std::make_unique<EventEditor>(*m_events, m_status, m_prompts);
    }
    void cleanup()
    {
        Clock::instance().useSystemTime();
        QVERIFY(!m_filebusy.isHeld());
        QVERIFY(!m_folder->exists(QStringLiteral("temp.txt")));
    }

    void buildLine_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("hour");
        QTest::addColumn<QString>("minute");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("freq");
        QTest::addColumn<bool>("allDays");
        QTest::addColumn<QString>("line");

        QTest::newRow("on, dimmed, weekdays") << "Lounge Lamp A3" << "07" << "30" << "on" << "daily"
                                              << false << lampOn;
        QTest::newRow("off writes a blank dim")
            << "Lounge Lamp A3" << "22" << "00" << "off" << "daily" << true
            << "Lounge Lamp~A~3~ ~22:00~off~daily~mtwufsr";
        QTest::newRow("unit 12") << "Hall Light A12" << "22" << "00" << "off" << "once" << true
                                 << "Hall Light~A~12~ ~22:00~off~once~mtwufsr";
        QTest::newRow("sunset offset") << "Lounge Lamp A3" << "sSet" << "-2" << "off" << "daily"
                                       << true << "Lounge Lamp~A~3~ ~sSet:-2~off~daily~mtwufsr";
        QTest::newRow("no device") << "" << "07" << "30" << "on" << "daily" << true << "";
        QTest::newRow("only an address") << "A3" << "07" << "30" << "on" << "daily" << true << "";
        QTest::newRow("no address") << "Lounge Lamp" << "07" << "30" << "on" << "daily" << true
                                    << "";
        // Texts that would shift the fields or split the record are refused.
        QTest::newRow("~ in the device") << "Lounge~Lamp A3" << "07" << "30" << "on" << "daily"
                                         << true << "";
        QTest::newRow("line break in the device") << "Lounge\nLamp A3" << "07" << "30" << "on"
                                                  << "daily" << true << "";
        QTest::newRow("~ in the frequency") << "Lounge Lamp A3" << "07" << "30" << "on"
                                            << "daily~x" << true << "";
        QTest::newRow("beyond Latin-1") << QStringLiteral("Lounge L\u0101mp A3") << "07" << "30"
                                        << "on" << "daily" << true << "";
    }
    void buildLine()
    {
        QFETCH(QString, device);
        QFETCH(QString, hour);
        QFETCH(QString, minute);
        QFETCH(QString, action);
        QFETCH(QString, freq);
        QFETCH(bool, allDays);
        const Selection s{device, hour, minute, action, QStringLiteral("60%"), freq,
                          allDays ? everyDay : weekdays};
        QTEST(EventEditor::buildLine(s).value_or(QString()), "line");
    }

    // A line loaded into the selectors and saved unchanged is the same line.
    void loadedEventRoundTrips_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("hour");
        QTest::addColumn<QString>("minute");
        QTest::newRow("clock time") << lampOn << "07" << "30";
        QTest::newRow("sunset") << "Lounge Lamp~A~3~ ~sSet:-2~off~daily~mtwufsr" << "sSet" << "-2";
        QTest::newRow("sunrise") << "Hall Light~B~12~100~sRise:+1~on~once~sr" << "sRise" << "+1";
    }
    void loadedEventRoundTrips()
    {
        QFETCH(QString, line);
        const Selection s = EventEditor::fromRecord(*EventRecord::parse(line));
        QTEST(s.hour, "hour");
        QTEST(s.minute, "minute");
        QCOMPARE(EventEditor::buildLine(s), line);
    }

    void saveAppends()
    {
        const Selection s{QStringLiteral("Lounge Lamp A3"), QStringLiteral("07"),
                          QStringLiteral("30"), QStringLiteral("on"), QStringLiteral("60%"),
                          QStringLiteral("daily"), weekdays};
        QCOMPARE(save(s), Outcome::Saved);
        QCOMPARE(save(s), Outcome::Saved);
        QCOMPARE(listBytes(), crlf({lampOn, lampOn}));
        QCOMPARE(m_status.activity.last(), QStringLiteral("New event saved at 09:41"));
    }

    // Editing replaces exactly the loaded line, even when another line holds
    // its text (a longer device name ending the same) or repeats it.
    void editReplacesOneLine()
    {
        const QString bigLamp = QStringLiteral("Big ") + lampOn;
        const QString other = QStringLiteral("Hall Light~B~12~ ~22:00~off~daily~mtwufsr");
        writeList({bigLamp, lampOn, other, lampOn});
        const EventRecord loaded = *EventRecord::parse(lampOn);
        Selection s = EventEditor::fromRecord(loaded);
        s.minute = QStringLiteral("45");
        QCOMPARE(save(s, loaded), Outcome::Saved);
        QCOMPARE(listBytes(),
                 crlf({bigLamp, other, lampOn, QStringLiteral("Lounge Lamp~A~3~60~07:45~on~daily~mtwuf")}));
    }

    // The loaded line went meanwhile (a once-event removal): the edit is
    // still saved, as a new line.
    void editOfAVanishedLineStillSaves()
    {
        writeList({QStringLiteral("Hall Light~B~12~ ~22:00~off~daily~mtwufsr")});
        Selection s = EventEditor::fromRecord(*EventRecord::parse(lampOn));
        QCOMPARE(save(s, EventRecord::parse(lampOn)), Outcome::Saved);
        QCOMPARE(listBytes(), crlf({QStringLiteral("Hall Light~B~12~ ~22:00~off~daily~mtwufsr"), lampOn}));
    }

    void saveOfAnUnusableEventIsRefused()
    {
        writeList({lampOn});
        Selection s = EventEditor::fromRecord(*EventRecord::parse(lampOn));
        s.deviceText.clear();
        QCOMPARE(save(s, EventRecord::parse(lampOn)), Outcome::Refused);
        s.deviceText = QStringLiteral("Lounge~Lamp A3");
        QCOMPARE(save(s, EventRecord::parse(lampOn)), Outcome::Refused);
        QCOMPARE(m_prompts.shown.size(), 2);
        QCOMPARE(m_prompts.shown.at(0).text, EventEditor::noDeviceText());
        QCOMPARE(m_prompts.shown.at(1).text, EventEditor::unstorableText());
        // The loaded event is still there, untouched.
        QCOMPARE(listBytes(), crlf({lampOn}));
    }

    void deleteEvent_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("row");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<int>("boxes");
        QTest::addColumn<QStringList>("after");

        const QStringList lampRow{"Lounge Lamp", "A", "3", "60%", "07:30", "on", "daily", "mtwuf"};
        const QString bigLamp = QStringLiteral("Big ") + lampOn;
        const QString other = QStringLiteral("Hall Light~B~12~ ~22:00~off~daily~mtwufsr");
        QTest::newRow("Ctrl+D removes its line only")
            << 4 << 3 << lampRow << Outcome::Deleted << 0 << QStringList{bigLamp, other};
        QTest::newRow("another key") << int('d') << 3 << lampRow << Outcome::WrongKey << 0
                                     << QStringList{bigLamp, lampOn, other};
        QTest::newRow("empty list") << 4 << 0 << QStringList() << Outcome::Refused << 1
                                    << QStringList{bigLamp, lampOn, other};
        QTest::newRow("row no longer in the file")
            << 4 << 3 << QStringList{"Lounge Lamp", "A", "3", "60%", "07:31", "on", "daily", "m"}
            << Outcome::NotFound << 0 << QStringList{bigLamp, lampOn, other};
    }
    void deleteEvent()
    {
        QFETCH(int, key);
        QFETCH(int, count);
        QFETCH(QStringList, row);
        writeList({QStringLiteral("Big ") + lampOn, lampOn,
                   QStringLiteral("Hall Light~B~12~ ~22:00~off~daily~mtwufsr")});
        QTEST(QCoro::waitFor(m_editor->deleteevent(key, count, row)), "outcome");
        QTEST(int(m_prompts.shown.size()), "boxes");
        if (!m_prompts.shown.isEmpty())
            QCOMPARE(m_prompts.shown.at(0).text, QStringLiteral("You dont have any events to delete"));
        QFETCH(QStringList, after);
        QCOMPARE(listBytes(), crlf(after));
    }

    void failedRewriteKeepsTheList()
    {
        writeList({lampOn});
        TextListFile::setRenameForTesting([](const QString&, const QString&) { return false; });
        const EventRecord loaded = *EventRecord::parse(lampOn);
        Selection s = EventEditor::fromRecord(loaded);
        s.hour = QStringLiteral("08");
        QCOMPARE(save(s, loaded), Outcome::Failed);
        TextListFile::setRenameForTesting({});
        QCOMPARE(listBytes(), crlf({lampOn}));
    }
};

QTEST_GUILESS_MAIN(TestEventEditor)
#include "tst_eventeditor.moc"
