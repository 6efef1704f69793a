// A service log as the statistics read it: the two line readers, the two
// time stamp readers, and the down-time report over the log.
//
// Input: one byte choosing the locale (bits 0-1: C, en_US, en_GB, de_DE),
// the period (bits 2-4) and the report options (bits 5-7), then the log's
// bytes.

#include "FuzzSupport.h"

#include "stats/DowntimeStats.h"
#include "stats/LogLineReader.h"
#include "stats/LogRecord.h"
#include "stats/StampReader.h"
#include "stats/StatsError.h"
#include "stats/TDTCalc.h"
#include "base/TimeStamp.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

QString folder()
{
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/quellmark-fuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/quellmark-fuzz-XXXXXX"));
    return dir.path() + QLatin1Char('/');
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(bytes) == bytes.size());
}

// Both readers of a log must see the same lines, or both refuse it.
void compareReaders(const QString &path, qsizetype maxLineLength)
{
    QStringList all;
    QString error;
    const bool whole = readLogLines(path, all, &error, maxLineLength);

    LogLineReader reader(maxLineLength);
    FUZZ_CHECK(reader.open(path));
    QStringList one;
    QString line;
    LogLineReader::Result result;
    while ((result = reader.next(line)) == LogLineReader::GotLine)
        one.append(line);
    FUZZ_CHECK(whole == (result == LogLineReader::AtEnd));
    if (whole)
        FUZZ_CHECK(one == all);
}

// Whether the log names a year far from the report's "now". A whole-log
// report has one row per month from the log's start to now, up to some
// 100,000 rows for a year 1000 or 9999: right, but slow enough to starve
// the fuzzer, so such logs get a report over a period instead.
bool farYears(const QByteArray &log)
{
    qsizetype run = 0;
    int value = 0;
    for (qsizetype i = 0; i <= log.size(); ++i) {
        const char c = i < log.size() ? log.at(i) : ' ';
        if (c >= '0' && c <= '9') {
            value = run < 4 ? value * 10 + (c - '0') : value;
            ++run;
            continue;
        }
        if (run == 4 && (value < 1990 || value > 2100))
            return true;
        run = 0;
        value = 0;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // A zone with daylight saving time, so stamps in the skipped and the
    // repeated hour are read too.
    if (QFile::exists(QStringLiteral("/usr/share/zoneinfo/Europe/Berlin")))
        qputenv("TZ", "Europe/Berlin");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    static const QLocale locales[] = {QLocale::c(), QLocale(QStringLiteral("en_US")),
                                      QLocale(QStringLiteral("en_GB")),
                                      QLocale(QStringLiteral("de_DE"))};
    const QLocale &locale = locales[data[0] & 3];
    StatsOptions options;
    options.period = StatsPeriod((data[0] >> 2 & 7) % 7);
    options.compare = data[0] & 0x20;
    options.showAll = data[0] & 0x40;
    options.allDowntimes = data[0] & 0x80;
    const QByteArray log(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1);
    if (options.period == StatsPeriod::AllLog && farYears(log))
        options.period = StatsPeriod::OneYear;

    const QString path = folder() + QStringLiteral("webhost(http).log");
    writeFile(path, log);
    // A second, well-formed log for the comparison table.
    static const bool other = [] {
        writeFile(folder() + QStringLiteral("filehost(ftp).log"),
                  "1 Dec 2026 10:00:00:  Log start\r\n"
                  "2 Dec 2026 10:00:00: went on error.\r\n"
                  "2 Dec 2026 10:05:30: came off error.\r\n");
        return true;
    }();
    (void)other;

    compareReaders(path, MaxLogLineLength);
    compareReaders(path, 40);

    // The quick stamp reader never reads a stamp differently from the
    // general one.
    QStringList lines;
    if (readLogLines(path, lines)) {
        StampReader stamps(locale);
        for (qsizetype i = 0; i < lines.size() && i < 200; ++i) {
            const QString &text = lines.at(i);
            const qsizetype end = text.indexOf(QLatin1String(": "));
            const QString stamp = end < 0 ? text : text.left(end);
            const std::optional<qint64> quick = stamps.read(stamp);
            const std::optional<QDateTime> general = TimeStamp::parse(stamp, locale);
            FUZZ_CHECK(quick.has_value() == general.has_value());
            if (quick)
                FUZZ_CHECK(*quick == TDTCalc::wallClockMs(*general));
            const std::optional<LogRecord> record = parseLogLine(text, locale);
            FUZZ_CHECK(record.has_value() == (end >= 0 && general.has_value()));
        }
    }

    const DowntimeStats stats(folder(), locale,
                              [] { return QDateTime(QDate(2026, 12, 8), QTime(15, 38, 25)); });
    QStringList report;
    try {
        stats.buildReport(options,
                          {QStringLiteral("filehost(ftp)"), QStringLiteral("webhost(http)")},
                          QStringLiteral("webhost(http)"), report);
        // A run that ends ends whole: with the footer or, for a log with
        // nothing to report, the "No down time" line, and the count of the
        // skipped lines after either when there were any.
        FUZZ_CHECK(!report.isEmpty());
        qsizetype last = report.size() - 1;
        if (report.at(last).startsWith(QLatin1String("Lines skipped ")) && last > 0)
            --last;
        FUZZ_CHECK(report.at(last) == DowntimeStats::footerText() ||
                   report.at(last).startsWith(QLatin1String("No down time logged since ")));
    } catch (const StatsError &error) {
        // Damaged lines, overlong ones included, are skipped: a log that
        // can be opened and read always gets its whole report.
        std::fprintf(stderr, "%s\n", error.what());
        FUZZ_CHECK(!"a damaged log stopped the report");
    }
    return 0;
}
