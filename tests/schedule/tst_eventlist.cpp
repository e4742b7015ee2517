#include "home/settingkeys.h"
#include "home/settingsstore.h"
#include "home/textlistfile.h"
#include "platform/busymark.h"
#include "platform/clock.h"
#include "schedule/eventlist.h"
#include "schedule/eventprofiles.h"
#include "schedule/eventrecord.h"
#include "tempfolder.h"

#include <QtTest>

using namespace casalux;
using test::crlf;

namespace {

const QString lampOn = QStringLiteral("Lounge Lamp~A~3~60~07:30~on~daily~mtwuf");
const QString lampOff = QStringLiteral("Lounge Lamp~A~3~ ~sSet:+1~off~daily~mtwufsr");

} // namespace

class TestEventList : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempFolder> m_folder;
    std::unique_ptr<SettingsStore> m_settings;
    BusyMark m_filebusy;
    std::unique_ptr<EventList> m_events;

    QByteArray listBytes() const { return m_folder->read(QStringLiteral("evelst.rvf")); }
    void writeList(const QStringList& lines) const
    {
        m_folder->write(QStringLiteral("evelst.rvf"), crlf(lines));
    }

private Q_SLOTS:
    void init()
    {
        Clock::instance().freeze(QDateTime(QDate(2026, 3, 5), QTime(7, 30, 12)), 1000);
        m_folder = std::make_unique<test::TempFolder>();
        m_settings = std::make_unique<SettingsStore>(m_folder->file(QStringLiteral("machine.ini")),
                                                     m_folder->file(QStringLiteral("user")));
        m_events = std::make_unique<EventList>(m_folder->path(), m_filebusy);
    }
    void cleanup()
    {
        TextListFile::setRenameForTesting({});
        Clock::instance().useSystemTime();
        QVERIFY(!m_filebusy.isHeld());
        QVERIFY(!m_folder->exists(QStringLiteral("temp.txt")));
    }

    void parse_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QStringList>("row");

        QTest::newRow("on event") << lampOn << true
                                  << QStringList{"Lounge Lamp", "A", "3", "60%", "07:30", "on",
                                                 "daily", "mtwuf"};
        QTest::newRow("off event keeps its blank dim")
            << lampOff << true
            << QStringList{"Lounge Lamp", "A", "3", " ", "sSet:+1", "off", "daily", "mtwufsr"};
        QTest::newRow("two-digit unit") << "Hall Light~B~12~100~22:00~on~once~sr" << true
                                        << QStringList{"Hall Light", "B", "12", "100%", "22:00",
                                                       "on", "once", "sr"};
        QTest::newRow("empty days") << "Hall Light~B~12~ ~22:00~off~daily~" << true
                                    << QStringList{"Hall Light", "B", "12", " ", "22:00", "off",
                                                   "daily", ""};
        QTest::newRow("house code is the last character of its field")
            << "Hall Light~xB~2~ ~22:00~off~daily~m" << true
            << QStringList{"Hall Light", "B", "2", " ", "22:00", "off", "daily", "m"};
        QTest::newRow("a stray separator stays in the days")
            << "Hall Light~B~2~ ~22:00~off~daily~m~t" << true
            << QStringList{"Hall Light", "B", "2", " ", "22:00", "off", "daily", "m~t"};
        QTest::newRow("blank line") << "   " << false << QStringList();
        QTest::newRow("six separators") << "Hall Light~B~2~ ~22:00~off~daily" << false
                                        << QStringList();
        QTest::newRow("unit not a number") << "Hall Light~B~x~ ~22:00~off~daily~m" << false
                                           << QStringList();
        QTest::newRow("unit beyond 16 bits") << "Hall Light~B~40000~ ~22:00~off~daily~m" << false
                                             << QStringList();
        QTest::newRow("empty house code") << "Hall Light~~2~ ~22:00~off~daily~m" << false
                                          << QStringList();
    }
    void parse()
    {
        QFETCH(QString, line);
        QFETCH(bool, valid);
        QFETCH(QStringList, row);
        const auto record = EventRecord::parse(line);
        QCOMPARE(record.has_value(), valid);
        if (!record)
            return;
        QCOMPARE(record->row(), row);
        // The row turns back into the file line it came from.
        if (!line.contains(QLatin1String("~xB~")))
            QCOMPARE(EventRecord::lineFromRow(row), line);
        QCOMPARE(EventRecord::fromRow(row), record);
    }

    void dayLetters_data()
    {
        QTest::addColumn<QString>("days");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("Thursday u") << "u" << QDate(2026, 3, 5) << true;
        QTest::newRow("Sunday r") << "r" << QDate(2026, 3, 8) << true;
        QTest::newRow("Sunday only, on Thursday") << "r" << QDate(2026, 3, 5) << false;
        QTest::newRow("capitals") << "MTWUFSR" << QDate(2026, 3, 7) << true;
        QTest::newRow("empty") << "" << QDate(2026, 3, 5) << false;
    }
    void dayLetters()
    {
        QFETCH(QString, days);
        QFETCH(QDate, date);
        EventRecord record;
        record.days = days;
        QTEST(record.allowsDay(date), "allowed");
    }

    void missingListIsEmpty()
    {
        const auto loaded = QCoro::waitFor(m_events->loadevents());
        QVERIFY(loaded.rows.isEmpty());
        QVERIFY(m_events->filterRewrite(QStringLiteral("Lounge")));
        QVERIFY(!m_events->exists());
    }

    void loadSkipsBlankAndMalformedLines()
    {
        writeList({lampOn, QString(), QStringLiteral("junk"), lampOff});
        m_folder->write(QStringLiteral("macs.hlk"), "Hall Light~A~1~2~Lounge Lamp~A~3~3\r\n");
        const auto loaded = QCoro::waitFor(m_events->loadevents());
        QCOMPARE(loaded.rows.size(), 2);
        QCOMPARE(loaded.rows.at(1).line(), lampOff);
        QCOMPARE(loaded.macroLines,
                 QStringList{QStringLiteral("Hall Light A 1 2 Lounge Lamp A 3 3")});
    }

    // A held filebusy makes the load wait its turn rather than read mid-rewrite.
    void loadWaitsForFilebusy()
    {
        writeList({lampOn});
        auto hold = m_filebusy.tryTake();
        QVERIFY(hold);
        bool done = false;
        // The lambda must outlive its coroutine: the frame reads the
        // captures through it.
        const auto load = [&]() -> QCoro::Task<> {
            co_await m_events->loadevents();
            done = true;
        };
        auto task = load();
        QTest::qWait(20);
        QVERIFY(!done);
        hold->release();
        QTRY_VERIFY(done);
    }

    void filterRewrite_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("after");

        const QString hall = QStringLiteral("Hall Light~B~12~ ~22:00~off~daily~mtwufsr");
        const QString once = QStringLiteral("Hall Light~B~12~100~06:00~on~once~mt");
        QTest::newRow("whole record, others keep their order")
            << QStringList{hall, lampOn, lampOff} << lampOn << QStringList{hall, lampOff};
        QTest::newRow("first seven fields find the once line")
            << QStringList{lampOn, once, lampOff}
            << QStringLiteral("Hall Light~B~12~100~06:00~on~once") << QStringList{lampOn, lampOff};
        QTest::newRow("letter case ignored")
            << QStringList{lampOn, hall} << lampOn.toUpper() << QStringList{hall};
        QTest::newRow("a longer device name holding the text goes too")
            << QStringList{QStringLiteral("Big ") + lampOn, lampOff} << lampOn
            << QStringList{lampOff};
        QTest::newRow("empty search text drops nothing")
            << QStringList{lampOn, lampOff} << QString() << QStringList{lampOn, lampOff};
    }
    void filterRewrite()
    {
        QFETCH(QStringList, before);
        QFETCH(QString, search);
        QFETCH(QStringList, after);
        writeList(before);
        QVERIFY(m_events->filterRewrite(search));
        QCOMPARE(listBytes(), crlf(after));
    }

    // A rewrite that cannot be put in place leaves the list whole.
    void failedRewriteKeepsTheList()
    {
        writeList({lampOn, lampOff});
        TextListFile::setRenameForTesting([](const QString&, const QString&) { return false; });
        QVERIFY(!m_events->filterRewrite(lampOn));
        QCOMPARE(listBytes(), crlf({lampOn, lampOff}));
    }

    void replaceRecordTouchesOneLine()
    {
        const QString bigLamp = QStringLiteral("Big ") + lampOn;
        writeList({bigLamp, lampOn, lampOff, lampOn});
        const EventRecord record = *EventRecord::parse(lampOn);
        bool found = false;
        const QString changed = QStringLiteral("Lounge Lamp~A~3~60~08:15~on~daily~mtwuf");
        QVERIFY(m_events->replaceRecord(record, changed, &found));
        QVERIFY(found);
        QCOMPARE(listBytes(), crlf({bigLamp, lampOff, lampOn, changed}));

        QVERIFY(m_events->replaceRecord(*EventRecord::parse(lampOff), QString(), &found));
        QVERIFY(found);
        QCOMPARE(listBytes(), crlf({bigLamp, lampOn, changed}));

        QVERIFY(m_events->replaceRecord(*EventRecord::parse(lampOff), QString(), &found));
        QVERIFY(!found);
        QCOMPARE(listBytes(), crlf({bigLamp, lampOn, changed}));
    }

    void profileSwapRoundTrip()
    {
        EventProfiles profiles(*m_events, *m_settings);
        QCOMPARE(profiles.current(), QStringLiteral("Standard"));
        writeList({lampOn, lampOff});

        QCOMPARE(QCoro::waitFor(profiles.swapProfile(QStringLiteral("Weekends"))),
                 EventProfiles::SwapResult::Swapped);
        QCOMPARE(profiles.current(), QStringLiteral("Weekends"));
        QVERIFY(!m_events->exists()); // never used: an empty schedule
        QCOMPARE(m_folder->read(QStringLiteral("Standard.txt")), crlf({lampOn, lampOff}));

        const QString weekend = QStringLiteral("Hall Light~B~12~100~09:00~on~daily~sr");
        QVERIFY(m_events->append(weekend));

        QCOMPARE(QCoro::waitFor(profiles.swapProfile(QStringLiteral("Standard"))),
                 EventProfiles::SwapResult::Swapped);
        QCOMPARE(profiles.current(), QStringLiteral("Standard"));
        QCOMPARE(listBytes(), crlf({lampOn, lampOff}));
        QCOMPARE(m_folder->read(QStringLiteral("Weekends.txt")), crlf({weekend}));

        QCoro::waitFor(profiles.swapProfile(QStringLiteral("Weekends")));
        QCOMPARE(listBytes(), crlf({weekend}));
        QCOMPARE(m_folder->read(QStringLiteral("Standard.txt")), crlf({lampOn, lampOff}));
    }

    // If the current schedule cannot be parked, nothing moves and the
    // stored profile stays what the files say it is.
    void profileSwapFailureLosesNothing()
    {
        EventProfiles profiles(*m_events, *m_settings);
        writeList({lampOn});
        m_folder->write(QStringLiteral("Weekends.txt"), crlf({lampOff}));
        TextListFile::setRenameForTesting([](const QString&, const QString&) { return false; });
        QCOMPARE(QCoro::waitFor(profiles.swapProfile(QStringLiteral("Weekends"))),
                 EventProfiles::SwapResult::Failed);
        QCOMPARE(profiles.current(), QStringLiteral("Standard"));
        QCOMPARE(listBytes(), crlf({lampOn}));
        QCOMPARE(m_folder->read(QStringLiteral("Weekends.txt")), crlf({lampOff}));
        QVERIFY(!m_folder->exists(QStringLiteral("profile.tmp")));
    }

    void profileNamesStayInTheFolder_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("usable");
        QTest::newRow("Events 1") << "Events 1" << true;
        QTest::newRow("path") << "../Standard" << false;
        QTest::newRow("backslash") << "a\\b" << false;
        QTest::newRow("scratch file name") << "Temp" << false;
        QTest::newRow("empty") << "" << false;
    }
    void profileNamesStayInTheFolder()
    {
        QFETCH(QString, name);
        QTEST(EventProfiles::isUsableName(name), "usable");
    }
};

QTEST_GUILESS_MAIN(TestEventList)
#include "tst_eventlist.moc"
