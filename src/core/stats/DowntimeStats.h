#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

// Report periods in the order the statistics window offers them.
enum class StatsPeriod { AllLog, OneWeek, TwoWeeks, OneMonth, ThreeMonths, SixMonths, OneYear };

struct StatsOptions {
    StatsPeriod period = StatsPeriod::AllLog;
    bool compare = false;      // comparison table over all entries
    bool showAll = false;      // comparison: also rows of logs that start after the period start
    bool allDowntimes = false; // single report: every outage, not only the recent ones
};

// The figures behind the reports, for tools that take them further. Moments
// are local date-times; minutes are whole minutes on the wall clock as the
// text report counts them.
struct MonthTotal {
    int year = 0;
    int month = 0; // 1 to 12
    qint64 fails = 0;
    qint64 downMinutes = 0;
    double percent = 0;
    bool incomplete = false; // the text report's " *"
};

struct Outage {
    QString entry;
    QDateTime start;
    QDateTime end; // now while the outage is open
    bool open = false;
    qint64 minutes = 0;
    qint64 seconds = 0; // elapsed, from the two moments with their offsets
};

struct SingleReportData {
    QString entry;
    StatsOptions options;
    QDateTime periodStart;
    QDateTime now;
    bool incomplete = false;
    bool noDownTimeLogged = false; // the text report stops after its heading
    qint64 periodMinutes = 0;
    qint64 fails = 0;
    qint64 downMinutes = 0;
    double percent = 0;
    qint64 shortestMinutes = 0;
    qint64 longestMinutes = 0;
    QDateTime longestStart; // invalid without any outage
    std::vector<MonthTotal> months;  // over the whole log only
    std::vector<Outage> outages;     // as the report lists them, newest first
    qint64 skippedLines = 0;
};

struct ComparisonRow {
    QString entry;
    QString label; // the text table's label without its padding: "webhost(h)"
    QDateTime periodStart;
    qint64 periodDays = 0;
    bool incomplete = false;
    qint64 fails = 0;
    qint64 shortestMinutes = 0;
    qint64 longestMinutes = 0;
    qint64 downMinutes = 0;
    double percent = 0;
};

struct ComparisonData {
    StatsOptions options;
    QDateTime now;
    std::vector<ComparisonRow> rows; // in the table's order
    qint64 skippedLines = 0;
};

struct OutageListData {
    StatsPeriod period = StatsPeriod::AllLog;
    QDateTime now;
    std::vector<Outage> outages; // by log entry as listed, then oldest first
    qint64 skippedLines = 0;
};

// Turns service logs into the down-time report text: a single report for one
// log entry or a comparison table over all of them. A log entry is a service
// log's file name without ".log", e.g. "webhost(http)". The report goes to a
// list of lines (the report box); runs append to it, so a run that stops
// with a StatsError leaves the lines written so far in place.
//
// Every moment is taken on the local wall clock with whole-minute and
// whole-second differences truncated toward zero (TDTCalc). Each run reads
// its logs afresh, line by line: memory stays bounded by the recent outage
// list, whatever the size of a log (all outages listed excepted).
//
// Choices made where the report rules leave it open:
// - A period of less than one whole minute (a log begun less than a minute
//   ago, a monthly row at the very start of a month) shows 0.000 percent.
// - An outage still open at the end of a log is listed in the outage list
//   with its length up to now and an empty end, and counts nowhere else:
//   fails, totals, monthly rows and the comparison count ended outages only.
// - An empty log file reads as a log begun now with nothing in it: "No down
//   time logged since" now in the single report (marked incomplete for every
//   period but "All log"), a row of zeros in the comparison.
// - A came-off-error record with no went-on-error record before it counts
//   from the period start, as when the period begins inside an outage.
// - A line that is no record (blank, written by hand, cut short by a crash,
//   longer than any record: anything but a log start, went-on-error or
//   came-off-error line) or a record whose stamp cannot be read is skipped
//   as if it were not there. Their number closes the report, one line below
//   the footer (below "No down time logged since", which has none), and
//   only when there were any; the comparison counts them over the logs it
//   lists a row for.
// - A comparison row whose log has no outage shows shortest 0:00 as the
//   single report does, and an entry without a known protocol gets three
//   blanks in place of "(h)" so the columns keep their places.
// - An https log is labelled "(hs)" after its name cut or padded to 24, so
//   its label is as wide as the others.
class DowntimeStats {
public:
    using Clock = std::function<QDateTime()>;

    // Reports over the logs in programFolder, with date and time texts in the
    // locale's formats; now comes from the clock (the system clock when none).
    explicit DowntimeStats(const QString &programFolder, const QLocale &locale = QLocale(),
                           Clock now = {});

    // The window's steps after clearing the box: "Nothing to do ... " for an
    // empty list, else the comparison over all entries or the single report
    // on the selected one. Throws StatsError.
    void buildReport(const StatsOptions &options, const QStringList &entries,
                     const QString &selected, QStringList &report) const;
    // Throws StatsError (MissingLog when the entry's log does not exist).
    void singleReport(const QString &entry, const StatsOptions &options, QStringList &report) const;
    // Entries whose log does not exist are skipped. Throws StatsError.
    void comparison(const QStringList &entries, const StatsOptions &options,
                    QStringList &report) const;

    // The same runs as figures. Throw StatsError as the text runs do.
    SingleReportData singleReportData(const QString &entry, const StatsOptions &options) const;
    ComparisonData comparisonData(const QStringList &entries, const StatsOptions &options) const;
    // Every outage of the entries over the period, open ones included. A
    // single entry must exist (MissingLog); of several, missing ones are
    // skipped as the comparison skips them.
    OutageListData outageList(const QStringList &entries, StatsPeriod period) const;

    QString logPath(const QString &entry) const;

    // The log entries of a folder as the statistics window lists them: every
    // file named "*.log" without that ending, except the error and install
    // logs in any case, sorted without regard to case. At most
    // MaxLogEntries are listed; *truncated tells when more were found.
    static QStringList listLogEntries(const QString &programFolder, bool *truncated = nullptr);
    static constexpr qsizetype MaxLogEntries = 10000;

    // The start of a period at now before the incomplete rule is applied:
    // "All log" gives the log start; a month or year back that falls on a
    // day the target month lacks gives now minus 30, 91, 182 or 365 days.
    static QDateTime periodStart(StatsPeriod period, const QDateTime &now,
                                 const QDateTime &logStart);
    // "All log", "1 week", ... as the window's period list shows them.
    static QStringList periodNames();
    static std::optional<StatsPeriod> periodFromName(const QString &name);

    static QString missingLogMessage();
    static QString nothingToDoText() { return QStringLiteral("Nothing to do ... "); }
    // "Stats with Quellmark v" and the first three numbers of the version.
    static QString footerText();
    // The line under the footer that counts the lines a run skipped.
    static QString skippedLinesText(qint64 count);

private:
    QString m_programFolder;
    QLocale m_locale;
    Clock m_now;
};
