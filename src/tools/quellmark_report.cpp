// quellmark-report: prints the down-time reports of the statistics window
// from the service logs in the program folder, e.g. for a monthly mail
// from cron.

#include "config/ProgramContext.h"
#include "platform/AppPaths.h"
#include "stats/DowntimeStats.h"
#include "stats/ReportExport.h"
#include "stats/ResponseHistory.h"
#include "stats/StatsError.h"

#include <QCoreApplication>

#include <cstdio>
#include <exception>
#include <iterator>
#include <optional>

static const char *const ToolName = "quellmark-report";

static void writeTo(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

static void writeBytes(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

static void printLines(const QStringList &lines)
{
    for (const QString &line : lines)
        writeTo(stdout, line + QLatin1Char('\n'));
    std::fflush(stdout);
}

static void printError(const QString &text)
{
    writeTo(stderr,
            QString::fromLatin1(ToolName) + QStringLiteral(": ") + text + QLatin1Char('\n'));
}

// The response times of the log's services from the history, one block
// each, newest first: nothing when the history holds none (or cannot be
// read; it is never changed from here).
static QStringList responseTimeLines(const QString &folder, const QString &entry)
{
    ResponseHistory history(ResponseHistory::pathIn(folder), ResponseHistory::Mode::ReadOnly);
    QStringList lines;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const QString &service : history.servicesOfLogEntry(entry)) {
        lines << QString() << QStringLiteral("Response times of %1:").arg(service);
        lines += history.figures(service, now).lines();
    }
    return lines;
}

static QString usageText()
{
    return QStringLiteral(
               "Usage: %1 [--format FORMAT] [--period PERIOD] [--all-downtimes] LOG_ENTRY\n"
               "       %1 [--format FORMAT] [--period PERIOD] [--show-all] --compare\n"
               "       %1 [--format FORMAT] [--period PERIOD] --outages [LOG_ENTRY]\n"
               "       %1 --list\n"
               "       %1 --help | --version\n"
               "\n"
               "Prints the down-time report of the Quellmark statistics window, built from\n"
               "the service logs in %2.\n"
               "\n"
               "  LOG_ENTRY          a log as --list prints it, for example \"webhost(http)\":\n"
               "                     its single report with monthly totals (whole log only),\n"
               "                     summary and the recent outages, then the service's\n"
               "                     response times (last, median and 95th percentile over\n"
               "                     24 hours and 30 days) where the history holds any\n"
               "  --period PERIOD    all (the whole log, default), 1w, 2w, 1m, 3m, 6m or 1y\n"
               "  --all-downtimes    list every outage, not only the recent ones\n"
               "  --compare          one table comparing every listed log\n"
               "  --show-all         with --compare: also logs that begin after the period\n"
               "                     start (marked \"*\")\n"
               "  --outages          every outage of LOG_ENTRY, or of every listed log\n"
               "                     without one, oldest first: service, start, end and\n"
               "                     duration in seconds (an outage still open ends now)\n"
               "  --format FORMAT    text (the default), csv or json; csv and json give the\n"
               "                     same figures for other tools: times in ISO 8601 with\n"
               "                     the offset from UTC, numbers without the locale, the\n"
               "                     JSON shape as in report.schema.json (response times\n"
               "                     are in the text only)\n"
               "  --list             print the log entries, one a line\n"
               "  -h, --help         show this help\n"
               "  -v, --version      show the version\n"
               "\n"
               "Dates, times and numbers follow the locale (LC_ALL, LANG), which must be\n"
               "the one the program wrote the logs with. Lines of a log that are no record,\n"
               "or whose time stamp cannot be read, are skipped; a last line below the\n"
               "report tells how many.\n"
               "\n"
               "Exit status: 0 on success, 1 on any error.\n")
        .arg(QString::fromLatin1(ToolName), AppPaths::programFolder());
}

static int usageError(const QString &message)
{
    printError(message);
    writeTo(stderr, QStringLiteral("Try '%1 --help'.\n").arg(QString::fromLatin1(ToolName)));
    return 1;
}

// The entries a comparison or an outage list over all logs covers.
static QStringList allEntries(const QString &folder, const char *what)
{
    bool truncated = false;
    const QStringList all = DowntimeStats::listLogEntries(folder, &truncated);
    if (truncated)
        printError(QStringLiteral("only the first %1 log entries are %2")
                       .arg(DowntimeStats::MaxLogEntries)
                       .arg(QLatin1String(what)));
    return all;
}

// The outage list in any format, the other reports as CSV or JSON. Nothing
// is printed when a run stops: half a document helps no tool.
static int exportReport(const DowntimeStats &stats, const QString &folder,
                        const StatsOptions &options, bool outages, const QStringList &entries,
                        ReportFormat format)
{
    QByteArray bytes;
    qint64 skipped = 0;
    try {
        if (outages) {
            const OutageListData data = stats.outageList(
                entries.isEmpty() ? allEntries(folder, "listed") : entries, options.period);
            skipped = data.skippedLines;
            bytes = format == ReportFormat::Json  ? ReportExport::json(data)
                    : format == ReportFormat::Csv ? ReportExport::csv(data)
                                                  : ReportExport::text(data);
            if (format == ReportFormat::Text && skipped > 0)
                bytes += (DowntimeStats::skippedLinesText(skipped) + QLatin1Char('\n')).toUtf8();
        } else if (options.compare) {
            const ComparisonData data =
                stats.comparisonData(allEntries(folder, "compared"), options);
            skipped = data.skippedLines;
            bytes = format == ReportFormat::Json ? ReportExport::json(data) : ReportExport::csv(data);
        } else {
            const SingleReportData data = stats.singleReportData(entries.first(), options);
            skipped = data.skippedLines;
            bytes = format == ReportFormat::Json ? ReportExport::json(data) : ReportExport::csv(data);
        }
    } catch (const StatsError &e) {
        printError(e.message());
        return 1;
    }
    writeBytes(bytes);
    // JSON carries the count; CSV has no place for it.
    if (format == ReportFormat::Csv && skipped > 0)
        printError(DowntimeStats::skippedLinesText(skipped));
    return 0;
}

static int run(const QStringList &args)
{
    StatsOptions options;
    bool list = false;
    bool help = false;
    bool version = false;
    bool periodGiven = false;
    bool outages = false;
    std::optional<ReportFormat> format;
    QStringList entries;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            help = true;
        } else if (arg == QLatin1String("-v") || arg == QLatin1String("--version")) {
            version = true;
        } else if (arg == QLatin1String("--list")) {
            list = true;
        } else if (arg == QLatin1String("--compare")) {
            options.compare = true;
        } else if (arg == QLatin1String("--show-all")) {
            options.showAll = true;
        } else if (arg == QLatin1String("--all-downtimes")) {
            options.allDowntimes = true;
        } else if (arg == QLatin1String("--outages")) {
            outages = true;
        } else if (arg == QLatin1String("--format") || arg.startsWith(QLatin1String("--format="))) {
            QString word;
            if (arg == QLatin1String("--format")) {
                if (i + 1 >= args.size())
                    return usageError(QStringLiteral("--format needs a value"));
                word = args.at(++i);
            } else {
                word = arg.mid(9);
            }
            format = ReportExport::formatFromName(word);
            if (!format)
                return usageError(QStringLiteral("unknown format \"%1\"").arg(word));
        } else if (arg == QLatin1String("--period") || arg.startsWith(QLatin1String("--period="))) {
            QString word;
            if (arg == QLatin1String("--period")) {
                if (i + 1 >= args.size())
                    return usageError(QStringLiteral("--period needs a value"));
                word = args.at(++i);
            } else {
                word = arg.mid(9);
            }
            const auto period = ReportExport::periodFromWord(word);
            if (!period)
                return usageError(QStringLiteral("unknown period \"%1\"").arg(word));
            options.period = *period;
            periodGiven = true;
        } else if (arg == QLatin1String("--")) {
            entries += args.mid(i + 1);
            break;
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return usageError(QStringLiteral("unknown option \"%1\"").arg(arg));
        } else {
            entries.append(arg);
        }
    }

    if (help) {
        writeTo(stdout, usageText());
        return 0;
    }
    if (version) {
        writeTo(stdout, QStringLiteral("%1 (%2) %3\n")
                            .arg(QString::fromLatin1(ToolName), ProgramContext::applicationTitle(),
                                 ProgramContext::buildVersion()));
        return 0;
    }
    const QString folder = AppPaths::programFolder();
    if (list) {
        if (options.compare || periodGiven || options.showAll || options.allDowntimes ||
            outages || format || !entries.isEmpty())
            return usageError(QStringLiteral("--list takes no other arguments"));
        bool truncated = false;
        printLines(DowntimeStats::listLogEntries(folder, &truncated));
        if (truncated)
            printError(QStringLiteral("only the first %1 log entries are listed")
                           .arg(DowntimeStats::MaxLogEntries));
        return 0;
    }
    if (outages) {
        if (options.compare || options.showAll || options.allDowntimes)
            return usageError(QStringLiteral("--outages takes only --period and --format"));
        if (entries.size() > 1)
            return usageError(QStringLiteral("give one log entry or none"));
    } else if (options.compare) {
        if (!entries.isEmpty())
            return usageError(QStringLiteral("--compare takes no log entry"));
        if (options.allDowntimes)
            return usageError(QStringLiteral("--all-downtimes is for a single report"));
    } else {
        if (options.showAll)
            return usageError(QStringLiteral("--show-all is for --compare"));
        if (entries.size() != 1)
            return usageError(entries.isEmpty() ? QStringLiteral("no log entry given")
                                                : QStringLiteral("give one log entry"));
    }

    const DowntimeStats stats(folder);
    if (outages || format.value_or(ReportFormat::Text) != ReportFormat::Text)
        return exportReport(stats, folder, options, outages, entries,
                            format.value_or(ReportFormat::Text));
    QStringList report;
    try {
        if (options.compare) {
            bool truncated = false;
            const QStringList all = DowntimeStats::listLogEntries(folder, &truncated);
            if (truncated)
                printError(QStringLiteral("only the first %1 log entries are compared")
                               .arg(DowntimeStats::MaxLogEntries));
            stats.buildReport(options, all, QString(), report);
        } else {
            stats.singleReport(entries.first(), options, report);
            report += responseTimeLines(folder, entries.first());
        }
    } catch (const StatsError &e) {
        // What was written before the run stopped is still shown.
        printLines(report);
        printError(e.message());
        return 1;
    }
    printLines(report);
    return 0;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    try {
        return run(app.arguments().mid(1));
    } catch (const std::exception &e) {
        printError(QString::fromUtf8(e.what()));
    }
    return 1;
}
