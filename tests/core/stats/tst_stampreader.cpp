#include "stats/StampReader.h"
#include "stats/TDTCalc.h"
#include "base/TimeStamp.h"

#include <QRandomGenerator>
#include <QtTest>

// The fast reader must read every stamp exactly as the general parser does.
class TestStampReader : public QObject {
    Q_OBJECT

private slots:
    void readsLikeTheGeneralParser_data()
    {
        QTest::addColumn<QString>("locale");
        for (const char *name : {"C", "en_US", "en_GB", "de_DE", "fr_FR", "ja_JP", "ko_KR", "zh_CN",
                                 "es_ES", "sq_AL", "bg_BG", "ar_EG", "hi_IN", "fa_IR"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void readsLikeTheGeneralParser()
    {
        QFETCH(QString, locale);
        const QLocale loc(locale);
        StampReader reader(loc);
        QRandomGenerator random(20260615);
        const QDateTime base(QDate(2024, 1, 1), QTime(0, 0));
        QList<QDateTime> moments = {base, base.addSecs(1), base.addSecs(12 * 3600),
                                    base.addSecs(13 * 3600 + 61), base.addSecs(86399)};
        for (int i = 0; i < 400; ++i)
            moments << base.addSecs(qint64(random.bounded(3 * 365 * 86400)));
        for (const QDateTime &when : moments) {
            const QString stamp = TimeStamp::format(when, loc);
            const auto expected = TimeStamp::parse(stamp, loc);
            QVERIFY2(expected, qPrintable(stamp));
            const auto read = reader.read(stamp);
            QVERIFY2(read, qPrintable(stamp));
            QCOMPARE(*read, TDTCalc::wallClockMs(*expected));
            // A second read comes from the remembered date.
            QCOMPARE(*reader.read(stamp), *read);
        }
    }

    // Around the clock changes too: a time in the skipped hour is no time,
    // and one in the repeated hour reads as written.
    void readsLikeTheGeneralParserWhenClocksChange_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("stamp");
        QTest::newRow("skipped hour") << "en_US"
                                      << "3/29/2026 2:30:00 AM";
        QTest::newRow("last second before") << "en_US"
                                            << "3/29/2026 1:59:59 AM";
        QTest::newRow("first second after") << "en_GB"
                                            << "29/03/2026 03:00:00";
        QTest::newRow("skipped hour, 24 hours") << "de_DE"
                                                << "29.03.2026 02:59:59";
        QTest::newRow("repeated hour") << "de_DE"
                                       << "25.10.2026 02:30:00";
    }
    void readsLikeTheGeneralParserWhenClocksChange()
    {
        QFETCH(QString, locale);
        QFETCH(QString, stamp);
        const QByteArray old = qgetenv("TZ");
        qputenv("TZ", "Europe/Berlin");
        const auto restore = qScopeGuard([&] {
            if (old.isNull())
                qunsetenv("TZ");
            else
                qputenv("TZ", old);
        });
        if (QDateTime(QDate(2026, 7, 1), QTime(12, 0)).offsetFromUtc() != 7200)
            QSKIP("no time zone data for Europe/Berlin");
        const QLocale loc(locale);
        StampReader reader(loc);
        const auto expected = TimeStamp::parse(stamp, loc);
        // Twice: the second read finds the date remembered.
        for (int i = 0; i < 2; ++i) {
            const auto read = reader.read(stamp);
            QCOMPARE(read.has_value(), expected.has_value());
            if (read)
                QCOMPARE(*read, TDTCalc::wallClockMs(*expected));
        }
    }

    void refusesWhatIsNoStamp_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "C"
                               << "";
        QTest::newRow("leading blank") << "C"
                                       << " 8 Dec 2026 15:38:25";
        QTest::newRow("trailing blank") << "en_GB"
                                        << "08/12/2026 15:38:25 ";
        QTest::newRow("no such day") << "en_GB"
                                     << "31/02/2026 15:38:25";
        QTest::newRow("hour 24") << "en_GB"
                                 << "08/12/2026 24:00:00";
        QTest::newRow("minute 60") << "de_DE"
                                   << "08.12.2026 15:60:25";
        QTest::newRow("no am or pm") << "en_US"
                                     << "12/8/2026 3:38:25";
        QTest::newRow("hour 13 pm") << "en_US"
                                    << "12/8/2026 13:38:25 PM";
        QTest::newRow("words") << "C"
                               << "yesterday at noon";
        QTest::newRow("time missing seconds") << "C"
                                              << "8 Dec 2026 15:38";
    }
    void refusesWhatIsNoStamp()
    {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        StampReader reader{QLocale(locale)};
        QVERIFY(!reader.read(text));
    }
};

QTEST_GUILESS_MAIN(TestStampReader)
#include "tst_stampreader.moc"
