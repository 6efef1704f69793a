#include "base/TimeStamp.h"

#include <QRandomGenerator>
#include <QtTest>

class TestTimeStamp : public QObject {
    Q_OBJECT

private:
    static QStringList roundTripLocales()
    {
        return {QStringLiteral("C"),     QStringLiteral("en_US"), QStringLiteral("en_GB"),
                QStringLiteral("de_DE"), QStringLiteral("fr_FR"), QStringLiteral("ja_JP")};
    }

private slots:
    void format_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QString>("expected");
        const QDate day(2026, 12, 8);
        const auto row = [](const char *name, const char *locale, QDate date, QTime time,
                            const char *expected) {
            QTest::newRow(name) << QString::fromLatin1(locale) << QDateTime(date, time)
                                << QString::fromUtf8(expected);
        };
        row("en_GB", "en_GB", day, QTime(15, 38, 25), "08/12/2026 15:38:25");
        row("en_US", "en_US", day, QTime(15, 38, 25), "12/8/2026 3:38:25 PM");
        row("de_DE", "de_DE", day, QTime(15, 38, 25), "08.12.2026 15:38:25");
        row("C", "C", day, QTime(15, 38, 25), "8 Dec 2026 15:38:25");
        row("en_GB midnight", "en_GB", day, QTime(0, 0), "08/12/2026");
        row("C midnight", "C", day, QTime(0, 0), "8 Dec 2026");
        row("midnight ignores ms", "de_DE", day, QTime(0, 0, 0, 999), "08.12.2026");
        row("one second past midnight", "en_US", day, QTime(0, 0, 1), "12/8/2026 12:00:01 AM");
        row("en_US 1 a.m.", "en_US", day, QTime(1, 0), "12/8/2026 1:00:00 AM");
        row("en_US noon", "en_US", day, QTime(12, 0), "12/8/2026 12:00:00 PM");
        row("de_DE last century", "de_DE", QDate(1999, 12, 31), QTime(23, 59, 59),
            "31.12.1999 23:59:59");
        row("ja_JP", "ja_JP", day, QTime(9, 5, 7), "2026/12/08 9時05分07秒");
    }
    void format()
    {
        QFETCH(QString, locale);
        QFETCH(QDateTime, when);
        QFETCH(QString, expected);
        QCOMPARE(TimeStamp::format(when, QLocale(locale)), expected);
    }

    void formats_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        // The zone field goes with what only sets it off; quoted literals stay.
        QTest::newRow("en_US two-digit year") << "en_US"
                                              << "M/d/yyyy"
                                              << "h:mm:ss AP";
        QTest::newRow("de_DE two-digit year") << "de_DE"
                                              << "dd.MM.yyyy"
                                              << "HH:mm:ss";
        QTest::newRow("zone in front") << "zh_CN"
                                       << "yyyy/M/d"
                                       << "HH:mm:ss";
        QTest::newRow("zone in brackets") << "es_ES"
                                          << "d/M/yyyy"
                                          << "H:mm:ss";
        QTest::newRow("zone after comma") << "sq_AL"
                                          << "d.M.yyyy"
                                          << "h:mm:ss AP";
        QTest::newRow("quoted literals") << "bg_BG"
                                         << "d.MM.yyyy 'г'."
                                         << "H:mm:ss 'ч'.";
    }
    void formats()
    {
        QFETCH(QString, locale);
        QFETCH(QString, date);
        QFETCH(QString, time);
        QCOMPARE(TimeStamp::dateFormat(QLocale(locale)), date);
        QCOMPARE(TimeStamp::timeFormat(QLocale(locale)), time);
    }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("locale");
        for (const QString &name : roundTripLocales())
            QTest::newRow(qPrintable(name)) << name;
    }
    void roundTrip()
    {
        QFETCH(QString, locale);
        const QLocale loc(locale);
        QList<QDateTime> moments;
        const QList<QDate> dates{QDate(2026, 12, 8),  QDate(2026, 12, 31), QDate(2027, 1, 1),
                                 QDate(2024, 2, 29),  QDate(2000, 2, 29),  QDate(1999, 12, 31),
                                 QDate(2069, 6, 15),  QDate(2070, 6, 15),  QDate(2026, 3, 29),
                                 QDate(2026, 10, 25), QDate(2026, 1, 9),   QDate(2026, 11, 30)};
        const QList<QTime> times{QTime(0, 0),       QTime(0, 0, 1),   QTime(0, 59, 59),
                                 QTime(1, 0),       QTime(9, 5, 7),   QTime(11, 59, 59),
                                 QTime(12, 0),      QTime(12, 0, 1),  QTime(13, 0),
                                 QTime(15, 38, 25), QTime(23, 59, 59)};
        for (const QDate &d : dates)
            for (const QTime &t : times)
                moments.append(QDateTime(d, t));
        QRandomGenerator random(20261208);
        const QDateTime from(QDate(1990, 1, 1), QTime(0, 0));
        for (int i = 0; i < 3000; ++i)
            moments.append(from.addSecs(random.bounded(qint64(60) * 365 * 24 * 3600)));

        for (const QDateTime &when : moments) {
            const QString text = TimeStamp::format(when, loc);
            QVERIFY2(!text.contains(QLatin1String(": ")), qPrintable(text));
            const auto back = TimeStamp::parse(text, loc);
            QVERIFY2(back.has_value(), qPrintable(text));
            // Compared as wall-clock time: an hour that occurs twice when
            // the clocks go back is written the same both times.
            QCOMPARE(back->date(), when.date());
            QCOMPARE(back->time(), when.time());
            QCOMPARE(TimeStamp::format(*back, loc), text);
        }
    }

    void parseAccepts_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected");
        const QDateTime afternoon(QDate(2026, 12, 8), QTime(15, 38, 25));
        const QDateTime midnight(QDate(2026, 12, 8), QTime(0, 0));
        QTest::newRow("date alone") << "en_GB"
                                    << "08/12/2026" << midnight;
        QTest::newRow("explicit midnight") << "de_DE"
                                           << "08.12.2026 00:00:00" << midnight;
        QTest::newRow("lower-case pm") << "en_US"
                                       << "12/8/2026 3:38:25 pm" << afternoon;
        QTest::newRow("fallback form") << "en_US"
                                       << "2026-12-08 15:38:25" << afternoon;
        QTest::newRow("fallback date") << "C"
                                       << "2026-12-08" << midnight;
    }
    void parseAccepts()
    {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        const auto parsed = TimeStamp::parse(text, QLocale(locale));
        QVERIFY(parsed.has_value());
        QCOMPARE(*parsed, expected);
    }

    void parseRejects_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "en_GB"
                               << "";
        QTest::newRow("garbage") << "en_GB"
                                 << "garbage";
        QTest::newRow("trailing junk") << "en_GB"
                                       << "08/12/2026 15:38:25x";
        QTest::newRow("trailing record") << "en_GB"
                                         << "08/12/2026 15:38:25: went on error.";
        QTest::newRow("trailing blank") << "en_GB"
                                        << "08/12/2026 15:38:25 ";
        QTest::newRow("leading blank") << "de_DE"
                                       << " 08.12.2026 15:38:25";
        QTest::newRow("date with blank") << "en_GB"
                                         << "08/12/2026 ";
        QTest::newRow("no seconds") << "en_GB"
                                    << "08/12/2026 15:38";
        QTest::newRow("two-digit year") << "de_DE"
                                        << "08.12.26 15:38:25";
        QTest::newRow("no such day") << "en_GB"
                                     << "31/02/2026 10:00:00";
        QTest::newRow("hour 25") << "en_GB"
                                 << "08/12/2026 25:00:00";
        QTest::newRow("missing AM/PM") << "en_US"
                                       << "12/8/2026 3:38:25";
        QTest::newRow("24h with PM") << "en_US"
                                     << "12/8/2026 15:38:25 PM";
        QTest::newRow("other locale") << "en_US"
                                      << "08.12.2026 15:38:25";
        QTest::newRow("fractions") << "de_DE"
                                   << "08.12.2026 15:38:25.5";
    }
    void parseRejects()
    {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QVERIFY(!TimeStamp::parse(text, QLocale(locale)).has_value());
    }

    void invalidMomentGivesEmptyText() { QVERIFY(TimeStamp::format(QDateTime()).isEmpty()); }
};

QTEST_GUILESS_MAIN(TestTimeStamp)
#include "tst_timestamp.moc"
