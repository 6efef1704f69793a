#include "stats/TDTCalc.h"

#include <QtTest>

#include <cmath>
#include <limits>

class TestTDTCalc : public QObject {
    Q_OBJECT

private slots:
    void units_data()
    {
        QTest::addColumn<QDateTime>("start");
        QTest::addColumn<QDateTime>("end");
        QTest::addColumn<qint32>("milliSeconds");
        QTest::addColumn<qint32>("seconds");
        QTest::addColumn<qint32>("minutes");
        QTest::addColumn<qint32>("hours");
        QTest::addColumn<qint32>("days");
        QTest::addColumn<qint32>("months");
        QTest::addColumn<qint32>("years");

        const QDate day(2026, 3, 10);
        const QDateTime ten(day, QTime(10, 0, 0));
        const auto row = [](const char *name, const QDateTime &start, const QDateTime &end,
                            qint32 ms, qint32 s, qint32 min, qint32 h, qint32 d, qint32 mo,
                            qint32 y) {
            QTest::newRow(name) << start << end << ms << s << min << h << d << mo << y;
        };
        row("59 seconds are no minute", ten, ten.addSecs(59), 59000, 59, 0, 0, 0, 0, 0);
        row("60 seconds are one", ten, ten.addSecs(60), 60000, 60, 1, 0, 0, 0, 0);
        row("30 seconds back", ten.addSecs(30), ten, -30000, -30, 0, 0, 0, 0, 0);
        row("half a second back", ten.addMSecs(500), ten, -500, 0, 0, 0, 0, 0, 0);
        row("units, not remainders", ten, ten.addDays(1).addSecs(2 * 3600), 93600000, 93600, 1560,
            26, 1, 0, 0);
        row("a week", ten, ten.addDays(7), 604800000, 604800, 10080, 168, 7, 0, 0);
        // Milliseconds beyond 32 bits keep their low 32 bits.
        row("30 days", ten, ten.addDays(30), qint32(2592000000LL - 4294967296LL), 2592000, 43200,
            720, 30, 0, 0);
        row("61 days are 2 months", ten, ten.addDays(61), qint32(5270400000LL - 4294967296LL),
            5270400, 87840, 1464, 61, 2, 0);
        row("61 days back", ten.addDays(61), ten, qint32(-5270400000LL + 4294967296LL), -5270400,
            -87840, -1464, -61, -2, 0);
        row("365 days are no year", ten, ten.addDays(365), qint32(31536000000LL % 4294967296LL),
            31536000, 525600, 8760, 365, 11, 0);
        row("366 days are one", ten, ten.addDays(366), qint32(31622400000LL % 4294967296LL),
            31622400, 527040, 8784, 366, 12, 1);
        // Seconds too wrap beyond about 68 years.
        row("100 years", ten, ten.addDays(36525),
            qint32(quint32(quint64(3155760000000LL) & 0xffffffffULL)),
            qint32(3155760000LL - 4294967296LL), 52596000, 876600, 36525, 1200, 100);
        // The wall clock counts, not the zone: a day is 24 hours on every date.
        row("over a daylight-saving change", QDateTime(QDate(2026, 3, 28), QTime(12, 0)),
            QDateTime(QDate(2026, 3, 30), QTime(12, 0)), 172800000, 172800, 2880, 48, 2, 0, 0);
    }
    void units()
    {
        QFETCH(QDateTime, start);
        QFETCH(QDateTime, end);
        TDTCalc calc;
        calc.setStartDateTime(start);
        calc.setEndDateTime(end);
        QTEST(calc.MilliSeconds(), "milliSeconds");
        QTEST(calc.Seconds(), "seconds");
        QTEST(calc.Minutes(), "minutes");
        QTEST(calc.Hours(), "hours");
        QTEST(calc.Days(), "days");
        QTEST(calc.Months(), "months");
        QTEST(calc.Years(), "years");

        // The same moments as day values give the same units.
        TDTCalc days;
        days.setStartTime(calc.StartTime());
        days.setEndTime(calc.EndTime());
        QCOMPARE(days.Minutes(), calc.Minutes());
        QCOMPARE(days.Days(), calc.Days());
        QCOMPARE(days.Months(), calc.Months());
    }

    void dayValues_data()
    {
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<double>("days");
        QTest::newRow("day 0") << QDateTime(QDate(1899, 12, 30), QTime(0, 0)) << 0.0;
        QTest::newRow("noon of day 2") << QDateTime(QDate(1900, 1, 1), QTime(12, 0)) << 2.5;
        QTest::newRow("2000") << QDateTime(QDate(2000, 1, 1), QTime(6, 0)) << 36526.25;
        QTest::newRow("before day 0") << QDateTime(QDate(1899, 12, 29), QTime(18, 0)) << -0.25;
    }
    void dayValues()
    {
        QFETCH(QDateTime, when);
        QFETCH(double, days);
        TDTCalc calc;
        calc.setStartDateTime(when);
        QCOMPARE(calc.StartTime(), days);
        QCOMPARE(TDTCalc::fromWallClockMs(TDTCalc::wallClockMs(when)), when);
    }

    // A unit that is no 64-bit integer holds -1.
    void unrepresentable_data()
    {
        QTest::addColumn<double>("end");
        QTest::newRow("huge") << 1e300;
        QTest::newRow("huge negative") << -1e300;
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity();
    }
    void unrepresentable()
    {
        QFETCH(double, end);
        TDTCalc calc;
        calc.setStartTime(0.0);
        calc.setEndTime(end);
        QCOMPARE(calc.MilliSeconds(), -1);
        QCOMPARE(calc.Seconds(), -1);
        QCOMPARE(calc.Minutes(), -1);
        QCOMPARE(calc.Hours(), -1);
        QCOMPARE(calc.Days(), -1);
    }

    void settingOneEndRecomputes()
    {
        TDTCalc calc;
        calc.setStartTime(1.0);
        calc.setEndTime(3.0);
        QCOMPARE(calc.Days(), 2);
        calc.setStartTime(2.5);
        QCOMPARE(calc.Days(), 0);
        QCOMPARE(calc.Hours(), 12);
        calc.setSpan(0, 90 * 60000);
        QCOMPARE(calc.Minutes(), 90);
        QCOMPARE(calc.Hours(), 1);
    }
};

QTEST_GUILESS_MAIN(TestTDTCalc)
#include "tst_tdtcalc.moc"
