// Statistics benchmark: the single report over one log of 1,000,000 records
// and the comparison over 200 logs of 10,000 records, each against a plain
// line-by-line read of the same files in the same run.
//
// Prints stats_single and stats_compare (report time, ratio to the plain
// read), the plain reads, and how the single report grows from a quarter of
// the log to the whole (4 means linear).

#include "BenchReport.h"

#include "stats/DowntimeStats.h"
#include "base/TimeStamp.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int SingleRecords = 1000000;
constexpr int CompareLogs = 200;
constexpr int CompareRecords = 10000;
constexpr int Rounds = 5;
constexpr qint64 StepSecs = 5 * 60;

// A service log as the engine writes it: the start record, then outages of
// five minutes every ten minutes, the last record a few minutes before now.
bool writeLog(const QString &path, int records, const QDateTime &now, const QLocale &locale)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QDateTime start = now.addSecs(-StepSecs * records);
    QByteArray chunk;
    for (int i = 0; i < records; ++i) {
        const QString stamp = TimeStamp::format(start.addSecs(StepSecs * i), locale);
        const char *text =
            i == 0 ? ":  Log start" : (i % 2 ? ": went on error." : ": came off error.");
        chunk += stamp.toUtf8() + text + "\r\n";
        if (chunk.size() > (1 << 20)) {
            file.write(chunk);
            chunk.clear();
        }
    }
    file.write(chunk);
    return file.error() == QFile::NoError;
}

// The plain read a report is measured against: every line of every file
// read as text, one after the other, and nothing done with it.
qint64 plainRead(const QStringList &paths)
{
    qint64 total = 0;
    char buffer[4100];
    for (const QString &path : paths) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        qint64 n;
        while ((n = file.readLine(buffer, sizeof buffer)) > 0)
            total += QString::fromUtf8(buffer, n).size();
    }
    return total;
}

// The floor under that: the bytes of every line, not even made text.
qint64 byteRead(const QStringList &paths)
{
    qint64 total = 0;
    char buffer[4100];
    for (const QString &path : paths) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        qint64 n;
        while ((n = file.readLine(buffer, sizeof buffer)) > 0)
            total += n;
    }
    return total;
}

int fail(const QString &message)
{
    std::fprintf(stderr, "bench_stats: %s\n", message.toUtf8().constData());
    return 1;
}

} // namespace

int main()
{
    QTemporaryDir sandbox;
    if (!sandbox.isValid())
        return fail(QStringLiteral("no temporary folder"));
    const QString folder = sandbox.path() + QLatin1Char('/');
    // A locale with a 12-hour clock: the harder stamps to read back.
    const QLocale locale(QLocale::English, QLocale::UnitedStates);
    const QDateTime now = QDateTime::currentDateTime();

    const double made = BenchReport::now();
    if (!writeLog(folder + QStringLiteral("single(http).log"), SingleRecords, now, locale) ||
        !writeLog(folder + QStringLiteral("quarter(http).log"), SingleRecords / 4, now, locale))
        return fail(QStringLiteral("cannot write the single logs"));
    QStringList compareEntries, comparePaths;
    QDir().mkpath(folder + QStringLiteral("compare"));
    const QString compareFolder = folder + QStringLiteral("compare/");
    for (int i = 0; i < CompareLogs; ++i) {
        const QString entry = QStringLiteral("site%1(http)").arg(i, 3, 10, QLatin1Char('0'));
        const QString path = compareFolder + entry + QStringLiteral(".log");
        if (!writeLog(path, CompareRecords, now.addSecs(-60 * i), locale))
            return fail(QStringLiteral("cannot write ") + path);
        compareEntries << entry;
        comparePaths << path;
    }
    BenchReport::note(
        QStringLiteral("stats: logs written in %1 s").arg(BenchReport::now() - made, 0, 'f', 1));

    const auto clock = [now] { return now; };
    const DowntimeStats single(folder, locale, clock);
    const DowntimeStats compare(compareFolder, locale, clock);
    StatsOptions options; // all log: monthly rows, the longest report
    StatsOptions compareOptions;
    compareOptions.compare = true;
    const QString singlePath = folder + QStringLiteral("single(http).log");

    const auto timed = [](const auto &work) {
        const double start = BenchReport::now();
        work();
        return BenchReport::now() - start;
    };
    QStringList report;
    bool sane = true;
    const auto singleReport = [&](const QString &entry) {
        report.clear();
        single.singleReport(entry, options, report);
        const int records =
            entry.startsWith(QLatin1String("single")) ? SingleRecords : SingleRecords / 4;
        // Every second record after the start ends an outage.
        sane = sane && report.contains(QStringLiteral("Fails = %1").arg((records - 1) / 2));
    };
    const auto comparison = [&] {
        report.clear();
        compare.comparison(compareEntries, compareOptions, report);
        sane = sane && report.size() >= CompareLogs + 4;
    };

    // Warm the page cache and the code once.
    plainRead({singlePath});
    plainRead(comparePaths);
    try {
        singleReport(QStringLiteral("single(http)"));
        comparison();
    } catch (const std::exception &error) {
        return fail(QString::fromUtf8(error.what()));
    }

    std::vector<double> singleTimes, singleReads, singleBytes, quarterTimes, compareTimes,
        compareReads, compareBytes;
    for (int round = 0; round < Rounds; ++round) {
        singleBytes.push_back(timed([&] { byteRead({singlePath}); }));
        compareBytes.push_back(timed([&] { byteRead(comparePaths); }));
        singleReads.push_back(timed([&] { plainRead({singlePath}); }));
        singleTimes.push_back(timed([&] { singleReport(QStringLiteral("single(http)")); }));
        quarterTimes.push_back(timed([&] { singleReport(QStringLiteral("quarter(http)")); }));
        compareReads.push_back(timed([&] { plainRead(comparePaths); }));
        compareTimes.push_back(timed(comparison));
    }
    if (!sane)
        return fail(QStringLiteral("a report does not show what the logs hold"));

    const double s = BenchReport::median(singleTimes) * 1000;
    const double sr = BenchReport::median(singleReads) * 1000;
    const double c = BenchReport::median(compareTimes) * 1000;
    const double cr = BenchReport::median(compareReads) * 1000;
    BenchReport::figure(QStringLiteral("stats_single"), s, QStringLiteral("ms"), s / sr);
    BenchReport::figure(QStringLiteral("stats_single_read"), sr, QStringLiteral("ms"));
    BenchReport::figure(QStringLiteral("stats_single_bytes"),
                        BenchReport::median(singleBytes) * 1000, QStringLiteral("ms"));
    BenchReport::figure(QStringLiteral("stats_compare"), c, QStringLiteral("ms"), c / cr);
    BenchReport::figure(QStringLiteral("stats_compare_read"), cr, QStringLiteral("ms"));
    BenchReport::figure(QStringLiteral("stats_compare_bytes"),
                        BenchReport::median(compareBytes) * 1000, QStringLiteral("ms"));
    BenchReport::figure(QStringLiteral("stats_single_growth"),
                        s / (BenchReport::median(quarterTimes) * 1000), QStringLiteral("x"));
    BenchReport::note(
        QStringLiteral("stats: single report over %1 records, comparison over %2 "
                       "logs of %3 records (%4 locale), median of %5 rounds; the "
                       "ratio is to _read (each line read as text), _bytes reads "
                       "the lines' bytes only; growth is the whole log against a "
                       "quarter of it (4 is linear); goal at most 3 times the "
                       "plain read (%6)")
            .arg(SingleRecords)
            .arg(CompareLogs)
            .arg(CompareRecords)
            .arg(locale.name())
            .arg(Rounds)
            .arg(s <= 3 * sr && c <= 3 * cr ? QStringLiteral("met") : QStringLiteral("missed")));
    return 0;
}
