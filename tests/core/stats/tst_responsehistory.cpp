// The response time history: its figures (median, 95th percentile, the
// windows), its bounds (age and point count: old points go, the file
// stays), what it does with a damaged, foreign or newer file (set aside,
// told, a new one started) and with a file it cannot write (points wait),
// and the chart's columns and outages.

#include "stats/ResponseHistory.h"
#include "support/TestSandbox.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <sqlite3.h>
#include <sys/stat.h>

namespace {
constexpr qint64 Hour = 3600 * 1000;
constexpr qint64 Day = 24 * Hour;
// A fixed "now" well after the epoch.
constexpr qint64 Now = 1796000000000;

HistoryPoint up(qint64 ageMs, int ms)
{
    return {Now - ageMs, ms, true};
}
HistoryPoint down(qint64 ageMs, int ms = -1)
{
    return {Now - ageMs, ms, false};
}

std::vector<int> ints(const QString &text)
{
    std::vector<int> values;
    for (const QString &piece : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        values.push_back(piece.toInt());
    return values;
}

ino_t inodeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

QStringList asideFiles(const QString &folder, const QString &kind)
{
    return QDir(folder).entryList({QStringLiteral("history.sqlite.") + kind + QStringLiteral("-*")},
                                  QDir::Files);
}
} // namespace

class TestResponseHistory : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSandbox> m_sandbox;
    QStringList m_reports;

    QString folder() const { return m_sandbox->programFolder(); }
    QString path() const { return ResponseHistory::pathIn(folder()); }
    std::unique_ptr<ResponseHistory> make(ResponseHistory::Limits limits = {})
    {
        return std::make_unique<ResponseHistory>(
            path(), ResponseHistory::Mode::ReadWrite, limits,
            [this](const QString &text) { m_reports << text; });
    }

private slots:
    void init()
    {
        m_sandbox = std::make_unique<TestSandbox>();
        QDir().mkpath(folder());
        m_reports.clear();
    }
    void cleanup() { m_sandbox.reset(); }

    void percentiles_data()
    {
        QTest::addColumn<QString>("values");
        QTest::addColumn<int>("median");
        QTest::addColumn<int>("p95");
        QTest::newRow("none") << "" << -1 << -1;
        QTest::newRow("one") << "70" << 70 << 70;
        QTest::newRow("two: mean of the middle, half up") << "100 101" << 101 << 101;
        QTest::newRow("odd, unsorted") << "300 100 200" << 200 << 300;
        QTest::newRow("even") << "40 10 30 20" << 25 << 40;
        // Nearest rank: 95 % of 20 is the 19th value.
        QTest::newRow("twenty") << "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20" << 11 << 19;
        QTest::newRow("twenty-one")
            << "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21" << 11 << 20;
        QTest::newRow("one slow outlier")
            << "100 100 100 100 100 100 100 100 100 5000" << 100 << 5000;
        QTest::newRow("equal values") << "7 7 7 7" << 7 << 7;
        QTest::newRow("large values do not overflow")
            << "2147483000 2147483600" << 2147483300 << 2147483600;
    }
    void percentiles()
    {
        QFETCH(QString, values);
        QFETCH(int, median);
        QFETCH(int, p95);
        QCOMPARE(ResponseFigures::median(ints(values)), median);
        QCOMPARE(ResponseFigures::percentile(ints(values), 95), p95);
        const ResponseSpread s = ResponseFigures::spread(ints(values));
        QCOMPARE(s.medianMs, median);
        QCOMPARE(s.p95Ms, p95);
        QCOMPARE(s.answers, int(ints(values).size()));
    }

    // What the Sites page and the report say, from the points of a service.
    void figureLines_data()
    {
        QTest::addColumn<QList<HistoryPoint>>("points");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("nothing yet")
            << QList<HistoryPoint>() << QStringList{"Response times: no data yet"};
        QTest::newRow("one answer")
            << QList<HistoryPoint>{up(Hour, 123)}
            << QStringList{"Last response: 123 ms", "24 h: median 123 ms, 95% 123 ms",
                           "30 d: median 123 ms, 95% 123 ms"};
        QTest::newRow("day and month differ")
            << QList<HistoryPoint>{up(2 * Hour, 100), up(Hour, 120), up(3 * Day, 400),
                                   up(10 * Day, 500)}
            << QStringList{"Last response: 120 ms", "24 h: median 110 ms, 95% 120 ms",
                           "30 d: median 260 ms, 95% 500 ms"};
        QTest::newRow("older than 30 days: last only")
            << QList<HistoryPoint>{up(31 * Day, 90)}
            << QStringList{"Last response: 90 ms", "24 h: no answers", "30 d: no answers"};
        QTest::newRow("last got no answer; failures without time do not count")
            << QList<HistoryPoint>{up(3 * Hour, 50), down(2 * Hour), down(Hour)}
            << QStringList{"Last response: none (no answer)", "24 h: median 50 ms, 95% 50 ms",
                           "30 d: median 50 ms, 95% 50 ms"};
        QTest::newRow("an answer that failed (a 503) has a time")
            << QList<HistoryPoint>{up(3 * Hour, 50), down(Hour, 70)}
            << QStringList{"Last response: 70 ms (failed)", "24 h: median 60 ms, 95% 70 ms",
                           "30 d: median 60 ms, 95% 70 ms"};
        QTest::newRow("window edges: 24 h and 30 d exactly are out")
            << QList<HistoryPoint>{up(Day, 10), up(Day - 1, 20), up(30 * Day, 30),
                                   up(30 * Day - 1, 40)}
            << QStringList{"Last response: 20 ms", "24 h: median 20 ms, 95% 20 ms",
                           "30 d: median 20 ms, 95% 40 ms"};
    }
    void figureLines()
    {
        QFETCH(QList<HistoryPoint>, points);
        QFETCH(QStringList, lines);
        QCOMPARE(ResponseFigures::of(points, Now).lines(), lines);
        // The same through the store, written or still waiting.
        auto history = make();
        for (int i = 0; i < points.size(); ++i) {
            history->add(QStringLiteral("HTTP webhost 80"), points.at(i));
            if (i == 0)
                QVERIFY(history->commit(Now));
        }
        history->add(QStringLiteral("HTTP other 80"), up(0, 1));
        QCOMPARE(history->figures(QStringLiteral("HTTP webhost 80"), Now).lines(), lines);
        QVERIFY(history->commit(Now));
        QCOMPARE(history->figures(QStringLiteral("HTTP webhost 80"), Now).lines(), lines);
    }

    // Old points go by age or by count, whichever leaves fewer; the file
    // stays the same file.
    void bounds_data()
    {
        QTest::addColumn<qint64>("maxAgeMs");
        QTest::addColumn<qint64>("maxPoints");
        QTest::addColumn<QList<qint64>>("agesInHours"); // one commit each, oldest first
        QTest::addColumn<int>("kept");
        const qint64 d90 = 90 * Day;
        QTest::newRow("90 days: older go")
            << d90 << qint64(1000) << QList<qint64>{100 * 24, 91 * 24, 90 * 24 + 1, 89 * 24, 1, 0}
            << 3;
        QTest::newRow("nothing old") << d90 << qint64(1000) << QList<qint64>{5, 4, 3} << 3;
        QTest::newRow("cap smaller than the age bound")
            << d90 << qint64(4) << QList<qint64>{10, 9, 8, 7, 6, 5, 4} << 4;
        QTest::newRow("age bound smaller than the cap")
            << 5 * Hour << qint64(4) << QList<qint64>{10, 9, 8, 4, 3} << 2;
        QTest::newRow("cap of one") << d90 << qint64(1) << QList<qint64>{3, 2, 1} << 1;
    }
    void bounds()
    {
        QFETCH(qint64, maxAgeMs);
        QFETCH(qint64, maxPoints);
        QFETCH(QList<qint64>, agesInHours);
        QFETCH(int, kept);
        ResponseHistory::Limits limits;
        limits.maxAgeMs = maxAgeMs;
        limits.maxPoints = maxPoints;
        auto history = make(limits);
        const QString a = QStringLiteral("HTTP a 80"), b = QStringLiteral("FTP b 21");
        ino_t inode = 0;
        for (int i = 0; i < agesInHours.size(); ++i) {
            // Two services take turns; the bound is over them all.
            history->add(i % 2 ? b : a, up(agesInHours.at(i) * Hour, 100 + i));
            QVERIFY(history->commit(Now));
            if (i == 0)
                inode = inodeOf(path());
        }
        QCOMPARE(history->pointCount(), qint64(kept));
        QCOMPARE(inodeOf(path()), inode);
        QVERIFY(m_reports.isEmpty());
        // The newest are the ones kept.
        QList<HistoryPoint> all = history->points(a, 0, Now) + history->points(b, 0, Now);
        std::sort(all.begin(), all.end(), [](auto x, auto y) { return x.utcMs < y.utcMs; });
        QCOMPARE(all.size(), kept);
        QCOMPARE(all.last().utcMs, Now - agesInHours.last() * Hour);
        QCOMPARE(all.first().utcMs, Now - agesInHours.at(agesInHours.size() - kept) * Hour);
    }

    // One cycle's batch larger than the cap keeps only its newest points.
    void oneBatchOverTheCap()
    {
        ResponseHistory::Limits limits;
        limits.maxPoints = 10;
        auto history = make(limits);
        for (int i = 0; i < 25; ++i)
            history->add(QStringLiteral("SMTP mail %1 25").arg(i % 3), up(Hour - i, i));
        QVERIFY(history->commit(Now));
        QCOMPARE(history->pointCount(), qint64(10));
        QCOMPARE(history->latest().value(QStringLiteral("SMTP mail 0 25")).responseMs, 24);
    }

    // A history survives the program's end.
    void survivesRestart()
    {
        {
            auto history = make();
            history->add(QStringLiteral("POP3 mail 110"), up(Hour, 42));
            QVERIFY(history->commit(Now));
        }
        auto again = make();
        QCOMPARE(again->latest().value(QStringLiteral("POP3 mail 110")), up(Hour, 42));
        QCOMPARE(again->services(), QStringList{"POP3 mail 110"});
    }

    // A file that cannot be used is set aside with a message, never
    // deleted or written into, and a new history starts; the points of the
    // cycle land in the new one.
    void unusableFileSetAside_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("aside");
        QTest::addColumn<QString>("message");
        QTest::newRow("garbage") << "garbage"
                                 << "damaged"
                                 << "could not be used";
        QTest::newRow("empty tail of a page") << "header-only"
                                              << "damaged"
                                              << "could not be used";
        QTest::newRow("another program's database") << "foreign"
                                                    << "damaged"
                                                    << "not a response time history";
        QTest::newRow("newer version") << "newer"
                                       << "newer"
                                       << "newer version";
        QTest::newRow("cut short") << "cut"
                                   << "damaged"
                                   << "damaged";
    }
    void unusableFileSetAside()
    {
        QFETCH(QString, kind);
        QFETCH(QString, aside);
        QFETCH(QString, message);
        const QString service = QStringLiteral("HTTP webhost 80");
        if (kind == QLatin1String("garbage") || kind == QLatin1String("header-only")) {
            QFile file(path());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(kind == QLatin1String("garbage")
                           ? QByteArray("this is no database\n").repeated(300)
                           : QByteArray("SQLite format 3\0", 16) + QByteArray(84, '\xff'));
        } else if (kind == QLatin1String("foreign") || kind == QLatin1String("newer")) {
            sqlite3 *db = nullptr;
            QCOMPARE(sqlite3_open(QFile::encodeName(path()).constData(), &db), SQLITE_OK);
            const char *sql =
                kind == QLatin1String("foreign")
                    ? "CREATE TABLE notes(text TEXT); INSERT INTO notes VALUES('mine')"
                    : "PRAGMA application_id=1364021844; PRAGMA user_version=2;"
                      "CREATE TABLE future(x)";
            QCOMPARE(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        } else {
            // A real history, then cut to its first pages.
            {
                auto history = make();
                for (int i = 0; i < 30000; ++i)
                    history->add(QStringLiteral("HTTP s%1 80").arg(i % 50), up(Hour + i, i % 700));
                QVERIFY(history->commit(Now));
            }
            QFile file(path());
            QVERIFY(QFile::remove(path() + QStringLiteral("-wal")) ||
                    !QFile::exists(path() + QStringLiteral("-wal")));
            QVERIFY(file.resize(file.size() / 3));
        }
        QFile original(path());
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QByteArray before = original.readAll();
        original.close();

        auto history = make();
        history->add(service, up(Hour, 77));
        // Reads and writes go on; at worst the first one finds the damage.
        history->figures(service, Now);
        history->commit(Now);
        history->add(service, up(0, 88));
        QVERIFY(history->commit(Now));
        const QStringList kept = asideFiles(folder(), aside);
        QCOMPARE(kept.size(), 1);
        QFile keptFile(folder() + kept.first());
        QVERIFY(keptFile.open(QIODevice::ReadOnly));
        QCOMPARE(keptFile.readAll(), before);
        QVERIFY2(!m_reports.isEmpty() && m_reports.first().contains(message),
                 qPrintable(m_reports.join('\n')));
        QVERIFY(m_reports.first().contains(kept.first()));
        QCOMPARE(history->latest().value(service), up(0, 88));
        QVERIFY(history->points(service, 0, Now).size() >= 1);
        // And the new file is a sound one: a fresh start reads it.
        history.reset();
        m_reports.clear();
        auto again = make();
        QCOMPARE(again->latest().value(service), up(0, 88));
        QVERIFY(m_reports.isEmpty());
    }

    // A file that cannot be opened at all (its folder is a file): the points
    // wait in memory, bounded, the problem is told once, and they go in
    // once the file can be written.
    void unwritableKeepsPointsWaiting()
    {
        QDir(folder()).removeRecursively();
        QDir().mkpath(QFileInfo(folder().chopped(1)).absolutePath());
        {
            QFile blocker(folder().chopped(1));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        ResponseHistory::Limits limits;
        limits.maxPending = 20;
        ResponseHistory history(path(), ResponseHistory::Mode::ReadWrite, limits,
                                [this](const QString &text) { m_reports << text; });
        for (int i = 0; i < 50; ++i)
            history.add(QStringLiteral("FTP files 21"), up(Hour - i, i));
        QVERIFY(!history.commit(Now));
        QVERIFY(!history.commit(Now));
        QCOMPARE(m_reports.size(), 1);
        QVERIFY(history.pendingCount() <= 20);
        QCOMPARE(history.figures(QStringLiteral("FTP files 21"), Now).last->responseMs, 49);
    }

    // The report tool's reading never creates, changes or sets aside a file.
    void readOnlyTouchesNothing()
    {
        ResponseHistory missing(path(), ResponseHistory::Mode::ReadOnly);
        QVERIFY(missing.figures(QStringLiteral("HTTP a 80"), Now).empty());
        QVERIFY(missing.services().isEmpty());
        QVERIFY(!QFile::exists(path()));

        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("garbage");
        file.close();
        ResponseHistory damaged(path(), ResponseHistory::Mode::ReadOnly);
        QVERIFY(damaged.services().isEmpty());
        QVERIFY(asideFiles(folder(), QStringLiteral("damaged")).isEmpty());
        QVERIFY(QFile::remove(path()));

        {
            auto writer = make();
            writer->add(QStringLiteral("HTTP a 80"), up(Hour, 5));
            QVERIFY(writer->commit(Now));
            ResponseHistory reader(path(), ResponseHistory::Mode::ReadOnly);
            QCOMPARE(reader.figures(QStringLiteral("HTTP a 80"), Now).last->responseMs, 5);
            reader.add(QStringLiteral("HTTP a 80"), up(0, 6));
            QVERIFY(!reader.commit(Now));
        }
    }

    // The chart's columns hold each stretch's answers; an outage runs from
    // the first failure to the next good result, or to the chart's end.
    void chart()
    {
        auto history = make();
        const QString s = QStringLiteral("HTTP webhost 80");
        // Ten hours, ten columns of an hour each.
        const qint64 from = Now - 10 * Hour;
        const struct {
            qint64 at;
            int ms;
            bool up;
        } points[] = {
            {from + 10 * 60000, 100, true},   {from + 20 * 60000, 300, true}, // column 0
            {from + 2 * Hour, 50, true},                                      // column 2
            {from + 3 * Hour, -1, false},     {from + 3 * Hour + 60000, 900, false},
            {from + 4 * Hour, 60, true},      // outage 3 h .. 4 h
            {from + 9 * Hour + 1, -1, false}, // open to the end
            {from - Hour, 5000, true},        // before the chart
        };
        for (const auto &p : points)
            history->add(s, {p.at, p.ms, p.up});
        const ResponseChartData chart = history->chart(s, from, Now, 10);
        QCOMPARE(int(chart.columns.size()), 10);
        QCOMPARE(chart.points, 7);
        QCOMPARE(chart.columns[0].answers, 2);
        QCOMPARE(chart.columns[0].minMs, 100);
        QCOMPARE(chart.columns[0].maxMs, 300);
        QCOMPARE(chart.columns[0].meanMs, 200);
        QCOMPARE(chart.columns[1].answers, 0);
        QCOMPARE(chart.columns[2].meanMs, 50);
        QCOMPARE(chart.columns[3].maxMs, 900);
        QCOMPARE(chart.maxMs, 900);
        QCOMPARE(chart.outages.size(), 2);
        QCOMPARE(chart.outages[0].fromMs, from + 3 * Hour);
        QCOMPARE(chart.outages[0].toMs, from + 4 * Hour);
        QCOMPARE(chart.outages[1].fromMs, from + 9 * Hour + 1);
        QCOMPARE(chart.outages[1].toMs, Now);
        QVERIFY(history->chart(QStringLiteral("HTTP unknown 80"), from, Now, 10).empty());
    }
};

QTEST_GUILESS_MAIN(TestResponseHistory)
#include "tst_responsehistory.moc"
