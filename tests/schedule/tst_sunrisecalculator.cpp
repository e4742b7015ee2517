#include "home/settingsstore.h"
#include "platform/clock.h"
#include "schedule/sunrisecalculator.h"
#include "schedule/suntimes.h"
#include "home/settingkeys.h"
#include "tempfolder.h"

#include <QtTest>

using namespace casalux;

class TestSunriseCalculator : public QObject {
    Q_OBJECT

    static QString hhmm(const QDateTime& t) { return t.toString(QStringLiteral("hh:mm")); }

private Q_SLOTS:
    void cleanup() { Clock::instance().useSystemTime(); }

    void knownTimes_data()
    {
        QTest::addColumn<double>("latitude");
        QTest::addColumn<double>("longitude");
        QTest::addColumn<int>("zone");
        QTest::addColumn<bool>("daySavings");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("sunrise");
        QTest::addColumn<QString>("noon");
        QTest::addColumn<QString>("sunset");

        QTest::newRow("London midsummer, summer time")
            << 51.3 << 0.1 << 0 << true << QDate(2023, 6, 21) << "04:44" << "13:01" << "21:18";
        QTest::newRow("London midwinter")
            << 51.3 << 0.1 << 0 << false << QDate(2023, 12, 21) << "08:01" << "11:58" << "15:55";
        QTest::newRow("New York midsummer, summer time")
            << 40.43 << 74.01 << 5 << true << QDate(2023, 6, 21) << "05:26" << "12:57" << "20:28";
    }
    void knownTimes()
    {
        QFETCH(double, latitude);
        QFETCH(double, longitude);
        QFETCH(int, zone);
        QFETCH(bool, daySavings);
        QFETCH(QDate, date);

        SunriseCalculator sun;
        sun.setLatitude(latitude);
        sun.setLongitude(longitude);
        sun.setDaySavings(daySavings);
        sun.setDateDay(QDateTime(date, QTime(15, 0)));
        sun.CalculateSun(zone);
        QTEST(hhmm(sun.sunrise()), "sunrise");
        QTEST(hhmm(sun.SolarNoon()), "noon");
        QTEST(hhmm(sun.sunset()), "sunset");
        QCOMPARE(sun.sunrise().date(), date);
    }

    void dayOfYear_data()
    {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<int>("day");
        QTest::newRow("1 March, leap year") << QDate(2024, 3, 1) << 61;
        QTest::newRow("1 March, common year") << QDate(2023, 3, 1) << 60;
        QTest::newRow("1 March 2000, divisible by 400") << QDate(2000, 3, 1) << 61;
        QTest::newRow("1 March 1900, divisible by 100") << QDate(1900, 3, 1) << 60;
        QTest::newRow("31 December, leap year") << QDate(2024, 12, 31) << 366;
        QTest::newRow("1 January") << QDate(2023, 1, 1) << 1;
    }
    void dayOfYear()
    {
        QFETCH(QDate, date);
        QTEST(SunriseCalculator::dayOfYear(date), "day");
    }

    void cityTable()
    {
        QCOMPARE(SunriseCalculator::CityCount(), 62);
        QCOMPARE(SunriseCalculator::CityName(0), QStringLiteral("Bridlington, England"));
        QCOMPARE(SunriseCalculator::CityName(41), QStringLiteral("Washington DC"));
        QCOMPARE(SunriseCalculator::CityName(61), QStringLiteral("Zurich, Switzerland"));
        QCOMPARE(SunriseCalculator::CityName(62), QStringLiteral("(Error)"));
        QCOMPARE(SunriseCalculator::CityName(-1), QStringLiteral("(Error)"));
        QCOMPARE(SunriseCalculator::cityLine(0),
                 QStringLiteral("Bridlington, England, 54.08, -0.19, 0"));
        QCOMPARE(SunriseCalculator::cityLine(22), QStringLiteral("Boulder, CO, 40.125, 105.237, 7"));
        QCOMPARE(SunriseCalculator::cityLine(41), QStringLiteral("Washington DC, 38.53, 77.02, 5"));
        QCOMPARE(SunriseCalculator::cityLine(59),
                 QStringLiteral("Sydney, Australia, -33.52, -151.13, -10"));
    }

    void selectCity_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("index");
        QTest::addColumn<double>("latitude");
        QTest::addColumn<double>("longitude");
        QTest::addColumn<int>("zone");
        QTest::newRow("name with blanks, any case")
            << "  LONDON, england  " << -1 << 51.51 << -0.13 << 0;
        QTest::newRow("index") << QString() << 34 << 40.43 << 74.01 << 5;
        QTest::newRow("unknown name") << "Atlantis, Sea" << -1 << 0.0 << 0.0 << 0;
        QTest::newRow("index past the end") << QString() << 62 << 0.0 << 0.0 << 0;
    }
    void selectCity()
    {
        QFETCH(QString, name);
        QFETCH(int, index);
        SunriseCalculator sun;
        sun.setLatitude(1);
        sun.setLongitude(2);
        sun.setTimeZone(3);
        sun.setDaySavings(true);
        if (index >= 0)
            sun.City(index);
        else
            sun.City(name);
        QTEST(sun.Latitude(), "latitude");
        QTEST(sun.Longitude(), "longitude");
        QTEST(sun.TimeZone(), "zone");
        QVERIFY(!sun.DaySavings());
    }

    // At the pole the latitude is taken as 89.8; on 19 March the sun is
    // then just crossing the horizon there.
    void poleTakenAs89_8()
    {
        const auto at = [](double latitude) {
            SunriseCalculator sun;
            sun.setLatitude(latitude);
            sun.setDateDay(QDateTime(QDate(2023, 3, 19), QTime(12, 0)));
            sun.CalculateSun(0);
            return sun;
        };
        const SunriseCalculator pole = at(90);
        const SunriseCalculator near = at(89.8);
        QVERIFY(pole.sunrise().isValid());
        QCOMPARE(pole.sunrise(), near.sunrise());
        QCOMPARE(pole.sunset(), near.sunset());
        QVERIFY(at(89.9).sunrise() == near.sunrise());
    }

    void noSunriseOrSunset_data()
    {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<bool>("rises");
        QTest::addColumn<bool>("sets");
        QTest::newRow("midnight sun") << QDate(2023, 6, 21) << false << false;
        QTest::newRow("polar night") << QDate(2023, 12, 21) << false << false;
        QTest::newRow("ordinary day") << QDate(2023, 3, 21) << true << true;
    }
    void noSunriseOrSunset()
    {
        QFETCH(QDate, date);
        SunriseCalculator sun;
        sun.setLatitude(70); // northern Norway
        sun.setLongitude(-19);
        sun.setDateDay(QDateTime(date, QTime(12, 0)));
        sun.CalculateSun(-1);
        QTEST(sun.sunrise().isValid(), "rises");
        QTEST(sun.sunset().isValid(), "sets");
        QVERIFY(sun.SolarNoon().isValid());
    }

    void cityText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("reads");
        QTest::addColumn<double>("latitude");
        QTest::addColumn<double>("longitude");
        QTest::addColumn<int>("zone");
        QTest::newRow("stored default") << "London, England, 51.3, 0.1, 0" << true << 51.3 << 0.1 << 0;
        QTest::newRow("no region") << "Washington DC, 38.53, 77.02, 5" << true << 38.53 << 77.02 << 5;
        QTest::newRow("blanks inside numbers")
            << "Sydney, Australia, - 33.52 , -151.13,-10" << true << -33.52 << -151.13 << -10;
        QTest::newRow("three fields") << "London, 51.3, 0.1" << false << 0.0 << 0.0 << 0;
        QTest::newRow("not a number") << "London, England, north, 0.1, 0" << false << 0.0 << 0.0
                                      << 0;
        QTest::newRow("decimal comma splits the numbers")
            << "Paris, France, 48,52, -2,2, -1" << false << 0.0 << 0.0 << 0;
        QTest::newRow("empty") << "" << false << 0.0 << 0.0 << 0;
    }
    void cityText()
    {
        QFETCH(QString, text);
        QFETCH(bool, reads);
        const auto place = SunTimes::parseCityText(text);
        QCOMPARE(place.has_value(), reads);
        if (!place)
            return;
        QTEST(place->latitude, "latitude");
        QTEST(place->longitude, "longitude");
        QTEST(place->timeZone, "zone");
    }

    // The main window's view of it: settings in, today's times and the label out.
    void dosunsetFromSettings()
    {
        test::TempFolder folder;
        SettingsStore settings(folder.file(QStringLiteral("machine.ini")),
                               folder.file(QStringLiteral("user")));
        Clock::instance().freeze(QDateTime(QDate(2023, 6, 21), QTime(0, 0, 5)));
        SunTimes today(settings);
        QVERIFY(today.setDaylightSaving(true));
        QCOMPARE(today.label(), QStringLiteral("Todays Sunrise time is:04:44 Todays Sunset time "
                                               "is:21:18"));
        QVERIFY(today.setDaylightSaving(false));
        QCOMPARE(hhmm(today.sunrise()), QStringLiteral("03:44"));

        QVERIFY(today.selectCity(QStringLiteral("Washington DC, 38.53, 77.02, 5")));
        QCOMPARE(settings.read(settingkeys::city), QStringLiteral("Washington DC, 38.53, 77.02, 5"));
        const QDateTime washington = today.sunrise();

        // A text that does not read changes neither the times nor the setting.
        QVERIFY(!today.selectCity(QStringLiteral("Somewhere")));
        QCOMPARE(today.sunrise(), washington);
        QCOMPARE(settings.read(settingkeys::city), QStringLiteral("Washington DC, 38.53, 77.02, 5"));

        QVERIFY(today.selectCity(QStringLiteral("Tromso, Norway, 69.65, -18.96, -1")));
        QVERIFY(!today.sunset().isValid());
        QCOMPARE(today.label(), QStringLiteral("Todays Sunrise time is:none Todays Sunset time "
                                               "is:none (the sun does not rise or set here today)"));
    }
};

QTEST_GUILESS_MAIN(TestSunriseCalculator)
#include "tst_sunrisecalculator.moc"
