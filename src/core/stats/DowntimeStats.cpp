#include "stats/DowntimeStats.h"

#include "config/ProgramContext.h"
#include "base/Subs.h"
#include "stats/LogLineReader.h"
#include "stats/LogRecord.h"
#include "stats/StampReader.h"
#include "stats/StatsError.h"
#include "stats/TDTCalc.h"
#include "base/TimeStamp.h"

#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <vector>

namespace {

// Lines of the recent outage list when not every outage is listed.
constexpr qint64 RecentLines = 21;
// Starting value of the shortest outage, above any real one.
constexpr qint64 NoShortest = 1000000;

QString line35(char c)
{
    return QString(35, QLatin1Char(c));
}

QString hmm(qint64 minutes)
{
    // Minutes shown as hours and minutes: same layout as minutes and seconds.
    return MinutesSeconds(minutes);
}

QString twoDigits(int n)
{
    return QString::number(n).rightJustified(2, QLatin1Char('0'));
}

int monthIndex(int year, int month)
{
    return year * 12 + (month - 1);
}

int monthIndexOf(qint64 ms)
{
    const QDate date = TDTCalc::dateOf(ms);
    return monthIndex(date.year(), date.month());
}

qint64 firstOfMonth(int index)
{
    return TDTCalc::wallClockMs(QDate(index / 12, index % 12 + 1, 1), QTime(0, 0));
}

// Upper case of the letters a to z only, as the report heading shows entries.
QString upperAsciiLetters(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() >= 'a' && c.unicode() <= 'z')
            c = QChar(c.unicode() - 'a' + 'A');
    }
    return text;
}

// The texts of numbers and moments for one run.
class Texts {
public:
    explicit Texts(const QLocale &locale) : m_locale(locale), m_numbers(locale)
    {
        // Percentages never get group separators, whatever the locale.
        m_numbers.setNumberOptions(m_numbers.numberOptions() | QLocale::OmitGroupSeparator);
        m_dateFormat = TimeStamp::dateFormat(locale);
    }

    // Thousandths, rounded half away from zero; never a negative zero.
    static qint64 thousandths(double value)
    {
        const double r = std::round(value * 1000.0);
        if (!std::isfinite(r) || std::fabs(r) > 9.0e15)
            return 0;
        return static_cast<qint64>(r);
    }

    // "0.000"
    QString fixed3(double value) const
    {
        return m_numbers.toString(double(thousandths(value)) / 1000.0, 'f', 3);
    }

    // "0.###": up to three decimals, no trailing zeros, no lone separator.
    QString upTo3(double value) const
    {
        QString text = fixed3(value);
        const QString point = m_numbers.decimalPoint();
        const qsizetype at = text.lastIndexOf(point);
        if (at < 0)
            return text;
        while (text.endsWith(m_numbers.zeroDigit()))
            text.chop(m_numbers.zeroDigit().size());
        if (text.size() == at + point.size())
            text.truncate(at);
        return text;
    }

    QString dateTime(qint64 ms) const
    {
        const QDateTime local = TDTCalc::fromWallClockMs(ms);
        if (local.isValid())
            return TimeStamp::format(local, m_locale);
        // A clock time the zone skips (a period start a week after the
        // clocks went forward) is no local moment; show it as it stands.
        if (local.time() == QTime(0, 0))
            return m_locale.toString(local.date(), m_dateFormat);
        return m_locale.toString(QDateTime(local.date(), local.time(), Qt::UTC),
                                 m_dateFormat + QLatin1Char(' ') + TimeStamp::timeFormat(m_locale));
    }

    QString shortDate(qint64 ms) const
    {
        return m_locale.toString(TDTCalc::dateOf(ms), m_dateFormat);
    }

    static QString hourMinute(qint64 ms)
    {
        const QTime t = TDTCalc::timeOf(ms);
        return twoDigits(t.hour()) + QLatin1Char(':') + twoDigits(t.minute());
    }

private:
    QLocale m_locale;
    QLocale m_numbers;
    QString m_dateFormat;
};

double percentage(qint64 downMinutes, qint64 periodMinutes)
{
    // A period of no whole minute has no meaningful share: shown as 0.
    if (periodMinutes <= 0)
        return 0.0;
    return double(downMinutes) * 100.0 / double(periodMinutes);
}

// The period start on the wall clock, before the incomplete rule.
qint64 periodStartMs(StatsPeriod period, qint64 now, qint64 logStart)
{
    const auto daysBack = [now](qint64 days) { return now - days * TDTCalc::MsPerDay; };
    // The same day and time of day some months back, or a fixed number of
    // days back when that month lacks the day.
    const auto monthsBack = [now, &daysBack](int months, qint64 fallbackDays) {
        const QDate today = TDTCalc::dateOf(now);
        int year = today.year();
        int month = today.month();
        if (month <= months) {
            month += 12;
            year -= 1;
        }
        const QDate date(year, month - months, today.day());
        if (!date.isValid())
            return daysBack(fallbackDays);
        return TDTCalc::wallClockMs(date, TDTCalc::timeOf(now));
    };
    switch (period) {
    case StatsPeriod::AllLog:
        return logStart;
    case StatsPeriod::OneWeek:
        return daysBack(7);
    case StatsPeriod::TwoWeeks:
        return daysBack(14);
    case StatsPeriod::OneMonth:
        return monthsBack(1, 30);
    case StatsPeriod::ThreeMonths:
        return monthsBack(3, 91);
    case StatsPeriod::SixMonths:
        return monthsBack(6, 182);
    case StatsPeriod::OneYear:
        return monthsBack(12, 365);
    }
    return logStart;
}

// Whole minutes, days and seconds between two moments, as TDTCalc counts them.
class Span {
public:
    qint64 minutes(qint64 from, qint64 to)
    {
        // Integer division truncates toward zero as TDTCalc does, and gives
        // its very answers for any span of fewer minutes than fit its 32
        // bits; it is called for every outage of a log.
        constexpr qint64 Exact = qint64(std::numeric_limits<qint32>::max()) * 60000;
        const qint64 span = to - from;
        if (span > -Exact && span < Exact)
            return span / 60000;
        m_calc.setSpan(from, to);
        return m_calc.Minutes();
    }
    qint64 days(qint64 from, qint64 to)
    {
        m_calc.setSpan(from, to);
        return m_calc.Days();
    }
    qint64 seconds(qint64 from, qint64 to)
    {
        m_calc.setSpan(from, to);
        return m_calc.Seconds();
    }

private:
    TDTCalc m_calc;
};

// Whether the text at `at` reads `word`.
bool hasAt(QStringView text, qsizetype at, QLatin1String word)
{
    if (at + word.size() > text.size())
        return false;
    for (qsizetype i = 0; i < word.size(); ++i) {
        if (text[at + i].unicode() != word[i].unicode())
            return false;
    }
    return true;
}

// The end of the stamp: the first ": " of the line, or -1. One pass over a
// few dozen characters; this runs for every line of every log.
qsizetype stampEnd(QStringView line)
{
    for (qsizetype i = 0; i + 1 < line.size(); ++i) {
        if (line[i] == QLatin1Char(':') && line[i + 1] == QLatin1Char(' '))
            return i;
    }
    return -1;
}

// "on error" anywhere marks a went-on-error record, else "off error" a
// came-off-error record: the same as looking for the one and then the other.
LogRecord::Kind kindOf(QStringView rest)
{
    bool off = false;
    for (qsizetype i = 0; i < rest.size(); ++i) {
        if (rest[i] != QLatin1Char('o'))
            continue;
        if (hasAt(rest, i, QLatin1String("on error")))
            return LogRecord::WentOnError;
        if (!off && hasAt(rest, i, QLatin1String("off error")))
            off = true;
    }
    return off ? LogRecord::CameOffError : LogRecord::Start;
}

// The kind of record the text after the stamp makes, or nullopt for a line
// the program never writes: a hand-written note, a record cut short. Blanks
// or a stray CR around "Log start" (a log whose line ends were converted
// twice) still leave a log start record.
std::optional<LogRecord::Kind> recordKind(QStringView rest)
{
    const LogRecord::Kind kind = kindOf(rest);
    if (kind != LogRecord::Start || rest.trimmed() == QLatin1String("Log start"))
        return kind;
    return std::nullopt;
}

struct LogLine {
    qint64 index; // among the lines left after dropping
    LogRecord::Kind kind;
    qint64 when;
};

// One pass over one log: prepares it (log start, period start, incomplete
// rule, dropping) and walks its records, keeping the counters, the monthly
// rows when they are wanted and the lines the outage list needs.
class LogScan {
public:
    LogScan(const QString &path, const StatsOptions &options, qint64 now, const QLocale &locale,
            const Texts &texts, Span &span)
        : m_path(path), m_options(options), m_now(now), m_nowMonth(monthIndexOf(now)),
          m_stamps(locale), m_texts(texts), m_span(span)
    {
    }

    // Monthly rows go to report (single report over the whole log).
    void setMonthlyOutput(QStringList *report) { m_report = report; }
    // Monthly rows as figures, in the order the report shows them.
    void setMonthlyTotals(std::vector<MonthTotal> *months) { m_months = months; }
    void setKeepOutageLines(bool keep) { m_keepLines = keep; }

    void run()
    {
        LogLineReader reader;
        QString error;
        if (!reader.open(m_path, &error))
            throw StatsError(StatsError::Unreadable, error);
        bool readAll = false;
        // The month's row shows what was counted before a stop, too.
        try {
            readAll = scanLines(reader, error);
        } catch (...) {
            flushRow();
            throw;
        }
        flushRow();
        if (!readAll)
            throw StatsError(StatsError::Unreadable, error);
        if (!m_started)
            setLogStart(m_now); // an empty log: begun now, nothing in it
    }

    // Zero rows for the months after the last record walked up to the
    // current month.
    void finishMonths()
    {
        if (!monthly())
            return;
        const int current = m_nowMonth;
        const int from = m_anyRecord ? m_lastRecordMonth + 1 : current + 1;
        for (int index = from; index <= current; ++index)
            appendZeroRow(index, index == current);
    }

    qint64 logStart() const { return m_logStart; }
    qint64 periodStart() const { return m_periodStart; }
    bool incomplete() const { return m_incomplete; }
    qint64 kept() const { return m_kept; }
    qint64 skipped() const { return m_skipped; }
    qint64 fails() const { return m_fails; }
    qint64 total() const { return m_total; }
    qint64 shortest() const { return m_total == 0 ? 0 : m_shortest; }
    qint64 longest() const { return m_longest; }
    std::optional<qint64> longestStart() const { return m_longestStart; }

    // The lines of the outage list, oldest first.
    std::vector<LogLine> outageLines() const
    {
        const qint64 firstIndex =
            m_options.allDowntimes ? 0 : std::max<qint64>(0, m_kept - RecentLines);
        std::vector<LogLine> lines;
        for (const LogLine &line : m_lines) {
            if (line.index >= firstIndex)
                lines.push_back(line);
        }
        return lines;
    }

private:
    // False with a message in error when a line cannot be read.
    bool scanLines(LogLineReader &reader, QString &error)
    {
        QString text;
        bool dropping = true;
        std::optional<LogLine> pending;
        LogLineReader::Result result;
        LogLine line{};
        while ((result = reader.next(text, &error)) == LogLineReader::GotLine ||
               result == LogLineReader::TooLong) {
            // A damaged line is passed over as if it were not there, so one
            // bad line never costs the user the rest of the report. A run of
            // zero bytes a crash left is one overlong line.
            if (result == LogLineReader::TooLong || !read(text, line)) [[unlikely]] {
                ++m_skipped;
                continue;
            }
            if (!m_started)
                setLogStart(line.when);
            // Lines a whole second or more before the period start go; the
            // first one that does not ends the dropping.
            if (dropping) {
                if (m_span.seconds(line.when, m_periodStart) > 0)
                    continue;
                dropping = false;
            }
            const LogLine kept{m_kept++, line.kind, line.when};
            keepForOutageList(kept);
            // A log with one line left shows no down time at all, so the
            // first line is walked only once a second one exists.
            if (kept.index == 0) {
                pending = kept;
                continue;
            }
            if (kept.index == 1) {
                if (m_report) {
                    m_report->append(line35('_'));
                    m_report->append(QStringLiteral("Monthly Totals:"));
                    m_report->append(QStringLiteral("        Fails   h:mm     %  "));
                }
                walk(*pending);
            }
            walk(kept);
        }
        return result != LogLineReader::Failed;
    }

    // False for a line that is no record or whose stamp cannot be read;
    // a line that is no record never has its stamp read.
    bool read(const QString &text, LogLine &line)
    {
        const qsizetype end = stampEnd(text);
        if (end < 0) [[unlikely]]
            return false;
        // The kind is told by the text after the stamp only.
        const auto kind = recordKind(QStringView(text).mid(end + 2));
        if (!kind) [[unlikely]]
            return false;
        const auto when = m_stamps.read(QStringView(text).left(end));
        if (!when) [[unlikely]]
            return false;
        line = {0, *kind, *when};
        return true;
    }

    void setLogStart(qint64 when)
    {
        m_started = true;
        m_logStart = when;
        m_periodStart = periodStartMs(m_options.period, m_now, when);
        if (m_periodStart < m_logStart) {
            m_periodStart = m_logStart;
            m_incomplete = true;
        }
        // A came-off-error record with no went-on-error record before it
        // counts from the period start.
        m_outageStart = m_periodStart;
    }

    void keepForOutageList(const LogLine &line)
    {
        if (!m_keepLines)
            return;
        if (m_options.allDowntimes) {
            if (line.kind != LogRecord::Start)
                m_lines.push_back(line);
            return;
        }
        m_lines.push_back(line);
        if (qint64(m_lines.size()) > RecentLines)
            m_lines.pop_front();
    }

    void walk(const LogLine &line)
    {
        if (line.kind == LogRecord::WentOnError) {
            if (monthly() && line.index == 1) {
                const int outageMonth = monthIndexOf(line.when);
                for (int index = monthIndexOf(m_logStart); index < outageMonth; ++index)
                    appendZeroRow(index, index == monthIndexOf(m_logStart));
            }
            m_outageStart = line.when;
            noteRecord(line.when);
        } else if (line.kind == LogRecord::CameOffError) {
            const qint64 start = line.index == 0 ? m_periodStart : m_outageStart;
            const qint64 d = m_span.minutes(start, line.when);
            // Strictly longer only, so the earliest of equal outages is named.
            if (d > m_longest) {
                m_longest = d;
                m_longestStart = start;
            }
            if (d < m_shortest)
                m_shortest = d;
            m_total += d;
            ++m_fails;
            noteRecord(line.when);
            if (monthly())
                addToMonth(line.when, d);
        }
    }

    void noteRecord(qint64 when)
    {
        m_anyRecord = true;
        m_lastRecordMonth = monthOf(when);
    }

    // monthIndexOf, remembered for the day last asked about: records come
    // in time order, many a day.
    int monthOf(qint64 when)
    {
        if (when < m_monthDay || when >= m_monthDay + TDTCalc::MsPerDay) {
            m_monthDay = when - (when % TDTCalc::MsPerDay + TDTCalc::MsPerDay) % TDTCalc::MsPerDay;
            m_monthOfDay = monthIndexOf(when);
        }
        return m_monthOfDay;
    }

    // Outages count toward the month in which they end. The month's row
    // takes its place when the month is first met and is written once its
    // count is known, so a long log costs one text per month, not per outage.
    void addToMonth(qint64 recovery, qint64 minutes)
    {
        const int month = monthOf(recovery);
        if (month == m_rowMonth) {
            ++m_rowFails;
            m_rowMinutes += minutes;
        } else {
            flushRow();
            m_rowMonth = month;
            m_rowFails = 1;
            m_rowMinutes = minutes;
            m_rowMarked = firstOfMonth(month) <= m_periodStart || month == m_nowMonth;
            if (m_report) {
                m_rowLine = m_report->size();
                m_report->append(QString());
            }
            if (m_months) {
                m_rowTotal = m_months->size();
                m_months->push_back({});
            }
        }
        m_rowPending = true;
    }

    void flushRow()
    {
        if (!monthly() || !m_rowPending)
            return;
        m_rowPending = false;
        const qint64 from = std::max(firstOfMonth(m_rowMonth), m_logStart);
        const qint64 to = std::min(firstOfMonth(m_rowMonth + 1), m_now);
        const double percent = percentage(m_rowMinutes, m_span.minutes(from, to));
        if (m_report)
            (*m_report)[m_rowLine] =
                monthlyRow(m_rowMonth, m_rowFails, m_rowMinutes, percent, m_rowMarked);
        if (m_months)
            (*m_months)[m_rowTotal] =
                monthTotal(m_rowMonth, m_rowFails, m_rowMinutes, percent, m_rowMarked);
    }

    void appendZeroRow(int month, bool marked)
    {
        if (m_report)
            m_report->append(monthlyRow(month, 0, 0, 0.0, marked));
        if (m_months)
            m_months->push_back(monthTotal(month, 0, 0, 0.0, marked));
    }

    bool monthly() const { return m_report || m_months; }

    static MonthTotal monthTotal(int month, qint64 fails, qint64 minutes, double percent,
                                 bool marked)
    {
        return {month / 12, month % 12 + 1, fails, minutes, percent, marked};
    }

    QString monthlyRow(int month, qint64 fails, qint64 minutes, double percent, bool marked) const
    {
        return QString::number(month / 12) + QLatin1Char('/') + twoDigits(month % 12 + 1) +
               QLatin1Char(' ') + PadLeftBlanks(QString::number(fails), 5) + QLatin1Char(' ') +
               PadLeftBlanks(hmm(minutes), 6) + QLatin1Char(' ') +
               PadLeftBlanks(m_texts.fixed3(percent), 7) +
               (marked ? QStringLiteral(" *") : QString());
    }

    QString m_path;
    const StatsOptions &m_options;
    qint64 m_now;
    int m_nowMonth;
    StampReader m_stamps;
    const Texts &m_texts;
    Span &m_span;
    QStringList *m_report = nullptr;
    std::vector<MonthTotal> *m_months = nullptr;
    bool m_keepLines = false;

    bool m_started = false;
    qint64 m_logStart = 0;
    qint64 m_periodStart = 0;
    bool m_incomplete = false;
    qint64 m_kept = 0;
    qint64 m_skipped = 0;
    std::deque<LogLine> m_lines;

    qint64 m_outageStart = 0;
    qint64 m_fails = 0;
    qint64 m_total = 0;
    qint64 m_shortest = NoShortest;
    qint64 m_longest = 0;
    std::optional<qint64> m_longestStart;
    bool m_anyRecord = false;
    int m_lastRecordMonth = 0;
    qint64 m_monthDay = std::numeric_limits<qint64>::max() / 2; // no day yet
    int m_monthOfDay = 0;

    int m_rowMonth = -1;
    qint64 m_rowFails = 0;
    qint64 m_rowMinutes = 0;
    bool m_rowMarked = false;
    qsizetype m_rowLine = -1;
    size_t m_rowTotal = 0;
    bool m_rowPending = false;
};

// One row of the outage list, on the wall clock.
struct ListedOutage {
    qint64 rowDate; // the date the row is listed under: its record's
    qint64 start;
    qint64 end; // now while open
    bool open;  // no came-off-error record after it
};

// The outage list, newest first; until a came-off-error record is met the
// outage is still open and ends now.
std::vector<ListedOutage> listedOutages(const LogScan &scan, qint64 now)
{
    const std::vector<LogLine> lines = scan.outageLines();
    std::vector<ListedOutage> listed;
    bool open = true;
    qint64 start = scan.periodStart();
    qint64 end = now;
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        bool row = false;
        if (it->kind == LogRecord::CameOffError) {
            open = false;
            end = it->when;
            if (it->index == 0) {
                start = scan.periodStart();
                row = true;
            }
        } else if (it->kind == LogRecord::WentOnError) {
            start = it->when;
            row = true;
        }
        if (row)
            listed.push_back({it->when, start, end, open});
    }
    return listed;
}

// The skipped lines' count closes a report, and only when there were some.
void appendSkipped(QStringList &report, qint64 count)
{
    if (count > 0)
        report.append(DowntimeStats::skippedLinesText(count));
}

bool isLogFile(const QString &path)
{
    return QFileInfo(path).isFile();
}

// An entry names a file in the program folder, never a path.
bool isPlainEntry(const QString &entry)
{
    return !entry.isEmpty() && !entry.contains(QLatin1Char('/')) && !entry.contains(QChar(u'\0')) &&
           entry != QLatin1String("..");
}

} // namespace

DowntimeStats::DowntimeStats(const QString &programFolder, const QLocale &locale, Clock now)
    : m_programFolder(IncludeTrailingPathDelimiter(programFolder)), m_locale(locale),
      m_now(std::move(now))
{
    if (!m_now)
        m_now = [] { return QDateTime::currentDateTime(); };
}

QString DowntimeStats::missingLogMessage()
{
    return QStringLiteral("The selected file does not exist. Please refresh the list.");
}

QString DowntimeStats::footerText()
{
    const QStringList parts = ProgramContext::buildVersion().split(QLatin1Char('.'));
    return QStringLiteral("Stats with ") + ProgramContext::applicationTitle() +
           QStringLiteral(" v") + parts.mid(0, 3).join(QLatin1Char('.'));
}

QString DowntimeStats::skippedLinesText(qint64 count)
{
    return QStringLiteral("Lines skipped (not a record or unreadable time stamp): ") +
           QString::number(count);
}

QStringList DowntimeStats::periodNames()
{
    return {QStringLiteral("All log"), QStringLiteral("1 week"),   QStringLiteral("2 weeks"),
            QStringLiteral("1 month"), QStringLiteral("3 months"), QStringLiteral("6 months"),
            QStringLiteral("1 year")};
}

std::optional<StatsPeriod> DowntimeStats::periodFromName(const QString &name)
{
    const qsizetype index = periodNames().indexOf(name);
    if (index < 0)
        return std::nullopt;
    return static_cast<StatsPeriod>(index);
}

QDateTime DowntimeStats::periodStart(StatsPeriod period, const QDateTime &now,
                                     const QDateTime &logStart)
{
    return TDTCalc::fromWallClockMs(
        periodStartMs(period, TDTCalc::wallClockMs(now), TDTCalc::wallClockMs(logStart)));
}

QString DowntimeStats::logPath(const QString &entry) const
{
    return m_programFolder + entry + QStringLiteral(".log");
}

QStringList DowntimeStats::listLogEntries(const QString &programFolder, bool *truncated)
{
    if (truncated)
        *truncated = false;
    QStringList entries;
    QDirIterator it(programFolder, QDir::Files | QDir::Hidden | QDir::System);
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        // The program writes ".log" in lower case; another case would name
        // an entry whose file the report could not open.
        if (!name.endsWith(QLatin1String(".log")))
            continue;
        const QString entry = name.chopped(4);
        const QString lower = entry.toLower();
        if (entry.isEmpty() || lower == QLatin1String("install") || lower == QLatin1String("error"))
            continue;
        // A name with a line break or other control character would break
        // the report's lines.
        if (std::any_of(entry.cbegin(), entry.cend(),
                        [](QChar c) { return c.category() == QChar::Other_Control; }))
            continue;
        if (entries.size() >= MaxLogEntries) {
            if (truncated)
                *truncated = true;
            break;
        }
        entries.append(entry);
    }
    std::sort(entries.begin(), entries.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return entries;
}

void DowntimeStats::buildReport(const StatsOptions &options, const QStringList &entries,
                                const QString &selected, QStringList &report) const
{
    if (entries.isEmpty()) {
        report.append(nothingToDoText());
        report.append(line35('-'));
        return;
    }
    if (options.compare)
        comparison(entries, options, report);
    else
        singleReport(selected, options, report);
}

void DowntimeStats::singleReport(const QString &entry, const StatsOptions &options,
                                 QStringList &report) const
{
    const QString path = logPath(entry);
    if (!isPlainEntry(entry) || !isLogFile(path))
        throw StatsError(StatsError::MissingLog, missingLogMessage());

    const qint64 now = TDTCalc::wallClockMs(m_now());
    const Texts texts(m_locale);
    Span span;
    const bool wholeLog = options.period == StatsPeriod::AllLog;
    const qsizetype top = report.size();

    report.append(upperAsciiLetters(entry) + QStringLiteral(" DOWN TIME STATS:"));
    report.append(line35('-'));

    LogScan scan(path, options, now, m_locale, texts, span);
    scan.setMonthlyOutput(wholeLog ? &report : nullptr);
    scan.setKeepOutageLines(true);
    scan.run();

    const QString marker = scan.incomplete() ? QStringLiteral(" *") : QString();
    if (scan.kept() <= 1) {
        report.append(QStringLiteral("No down time logged since ") +
                      texts.dateTime(scan.periodStart()) + marker);
        // No footer here: the count closes the report in its place.
        appendSkipped(report, scan.skipped());
        return;
    }
    scan.finishMonths();

    const qint64 periodMinutes = span.minutes(scan.periodStart(), now);
    const QStringList summary = {
        QStringLiteral("Summary from: ") + texts.dateTime(scan.periodStart()) + marker,
        QStringLiteral("          to: ") + texts.dateTime(now),
        QStringLiteral("                  h:mm"),
        QStringLiteral("Total Time = ") + PadLeftBlanks(hmm(periodMinutes), 9),
        QStringLiteral("Down Time  = ") + PadLeftBlanks(hmm(scan.total()), 9) +
            QStringLiteral(" (") + texts.upTo3(percentage(scan.total(), periodMinutes)) +
            QStringLiteral("%)"),
        QStringLiteral(" Shortest  = ") + PadLeftBlanks(hmm(scan.shortest()), 9),
        QStringLiteral(" Longest   = ") + PadLeftBlanks(hmm(scan.longest()), 9) +
            QStringLiteral(" (on ") +
            (scan.longestStart() ? texts.dateTime(*scan.longestStart()) : QString()) +
            QLatin1Char(')'),
        QStringLiteral("Fails = ") + QString::number(scan.fails()),
    };
    // Over the whole log the summary stands right under the heading, above
    // the monthly totals.
    if (wholeLog) {
        for (qsizetype i = 0; i < summary.size(); ++i)
            report.insert(top + 2 + i, summary.at(i));
    } else {
        report.append(summary);
    }

    report.append(line35('_'));
    report.append(options.allDowntimes ? QStringLiteral("Down Times (h:mm):")
                                       : QStringLiteral("Recent Down Times (h:mm):"));
    for (const ListedOutage &outage : listedOutages(scan, now)) {
        const QString offText = outage.open ? QString() : Texts::hourMinute(outage.end);
        report.append(texts.shortDate(outage.rowDate) + QLatin1Char(' ') +
                      PadLeftBlanks(Texts::hourMinute(outage.start), 5) + QStringLiteral(" - ") +
                      PadLeftBlanks(offText, 5) + QStringLiteral(" = ") +
                      PadLeftBlanks(hmm(span.minutes(outage.start, outage.end)), 5));
    }

    report.append(QString());
    report.append(QStringLiteral(" * denotes incomplete data for period"));
    report.append(line35('_'));
    report.append(footerText());
    appendSkipped(report, scan.skipped());
}

namespace {

// The local moment a wall-clock value stands for. A clock time the zone
// skips (a period start a week after the clocks went forward) takes the
// offset in force before the change.
QDateTime localMoment(qint64 ms)
{
    const QDateTime local = TDTCalc::fromWallClockMs(ms);
    if (local.isValid())
        return local;
    const QDateTime before = TDTCalc::fromWallClockMs(ms - 3 * 3600 * 1000);
    return QDateTime(local.date(), local.time(), Qt::OffsetFromUTC,
                     before.isValid() ? before.offsetFromUtc() : 0);
}

Outage outageOf(const QString &entry, const ListedOutage &listed, Span &span)
{
    Outage outage;
    outage.entry = entry;
    outage.start = localMoment(listed.start);
    outage.end = localMoment(listed.end);
    outage.open = listed.open;
    outage.minutes = span.minutes(listed.start, listed.end);
    outage.seconds = outage.start.secsTo(outage.end);
    return outage;
}

struct TableRow {
    qint64 key; // the down-time percentage in thousandths
    QString text;
    ComparisonRow figures;
};

// The comparison's rows over the entries, sorted as the table lists them.
std::vector<TableRow> comparisonRows(const DowntimeStats &stats, const QLocale &locale,
                                     const QStringList &entries, const StatsOptions &options,
                                     qint64 now, const Texts &texts, qint64 &skipped)
{
    Span span;
    std::vector<TableRow> rows;
    // Over the logs the table shows: a log without a row adds nothing to it.
    skipped = 0;
    for (const QString &entry : entries) {
        const QString path = stats.logPath(entry);
        if (!isPlainEntry(entry) || !isLogFile(path))
            continue;
        LogScan scan(path, options, now, locale, texts, span);
        scan.run();
        if (scan.incomplete() && !options.showAll)
            continue;
        skipped += scan.skipped();

        const qsizetype bracket = entry.indexOf(QLatin1Char('('));
        // The https mark is one wider; its name gives up a column so the
        // label stays 28 wide and the figures keep their places.
        const bool https = entry.contains(QLatin1String("(https)"));
        const QString name = PadRightChar(bracket < 0 ? entry : entry.left(bracket),
                                          QLatin1Char(' '), https ? 24 : 25);
        QString mark = QStringLiteral("   ");
        if (https)
            mark = QStringLiteral("(hs)");
        else if (entry.contains(QLatin1String("(http)")))
            mark = QStringLiteral("(h)");
        else if (entry.contains(QLatin1String("(ftp)")))
            mark = QStringLiteral("(f)");
        else if (entry.contains(QLatin1String("(smtp)")))
            mark = QStringLiteral("(s)");
        else if (entry.contains(QLatin1String("(pop3)")))
            mark = QStringLiteral("(p)");
        const QString label = name + mark;

        const qint64 periodMinutes = span.minutes(scan.periodStart(), now);
        const double percent = percentage(scan.total(), periodMinutes);
        const qint64 days = span.days(scan.periodStart(), now);
        const ComparisonRow figures{entry,
                                    name.trimmed() + mark.trimmed(),
                                    localMoment(scan.periodStart()),
                                    days,
                                    scan.incomplete(),
                                    scan.fails(),
                                    scan.shortest(),
                                    scan.longest(),
                                    scan.total(),
                                    percent};
        rows.push_back(
            {Texts::thousandths(percent),
             label + PadLeftBlanks(QString::number(days), 5) +
                 (scan.incomplete() ? QStringLiteral("*") : QStringLiteral(" ")) +
                 PadLeftBlanks(QString::number(scan.fails()), 5) +
                 PadLeftBlanks(hmm(scan.shortest()), 7) + PadLeftBlanks(hmm(scan.longest()), 7) +
                 PadLeftBlanks(hmm(scan.total()), 8) + PadLeftBlanks(texts.fixed3(percent), 7),
             figures});
    }
    // Lowest share first; equal shares by their text without regard to case.
    std::stable_sort(rows.begin(), rows.end(), [](const TableRow &a, const TableRow &b) {
        if (a.key != b.key)
            return a.key < b.key;
        return a.text.compare(b.text, Qt::CaseInsensitive) < 0;
    });
    return rows;
}

} // namespace

void DowntimeStats::comparison(const QStringList &entries, const StatsOptions &options,
                               QStringList &report) const
{
    const qint64 now = TDTCalc::wallClockMs(m_now());
    const Texts texts(m_locale);
    qint64 skipped = 0;
    const std::vector<TableRow> rows =
        comparisonRows(*this, m_locale, entries, options, now, texts, skipped);

    report.append(QStringLiteral("DOWN TIME STATS COMPARISON on ") + texts.dateTime(now));
    report.append(QString(49, QLatin1Char('-')));
    report.append(
        QStringLiteral("Service                    Period  Fail  Short   Long     Downtime"));
    report.append(
        QStringLiteral("                             days     #   h:mm   h:mm    h:mm      %"));
    for (const TableRow &row : rows)
        report.append(row.text);
    if (options.period != StatsPeriod::AllLog && options.showAll) {
        report.append(QString());
        report.append(QStringLiteral(" * denotes incomplete data for period"));
    }
    report.append(line35('_'));
    report.append(footerText());
    appendSkipped(report, skipped);
}

ComparisonData DowntimeStats::comparisonData(const QStringList &entries,
                                             const StatsOptions &options) const
{
    const qint64 now = TDTCalc::wallClockMs(m_now());
    const Texts texts(m_locale);
    ComparisonData data;
    data.options = options;
    data.now = localMoment(now);
    for (TableRow &row :
         comparisonRows(*this, m_locale, entries, options, now, texts, data.skippedLines))
        data.rows.push_back(std::move(row.figures));
    return data;
}

SingleReportData DowntimeStats::singleReportData(const QString &entry,
                                                 const StatsOptions &options) const
{
    const QString path = logPath(entry);
    if (!isPlainEntry(entry) || !isLogFile(path))
        throw StatsError(StatsError::MissingLog, missingLogMessage());

    const qint64 now = TDTCalc::wallClockMs(m_now());
    const Texts texts(m_locale);
    Span span;
    SingleReportData data;
    data.entry = entry;
    data.options = options;
    data.options.compare = false;

    LogScan scan(path, options, now, m_locale, texts, span);
    if (options.period == StatsPeriod::AllLog)
        scan.setMonthlyTotals(&data.months);
    scan.setKeepOutageLines(true);
    scan.run();

    data.periodStart = localMoment(scan.periodStart());
    data.now = localMoment(now);
    data.incomplete = scan.incomplete();
    data.skippedLines = scan.skipped();
    data.periodMinutes = span.minutes(scan.periodStart(), now);
    if (scan.kept() <= 1) {
        data.noDownTimeLogged = true;
        data.months.clear();
        return data;
    }
    scan.finishMonths();
    data.fails = scan.fails();
    data.downMinutes = scan.total();
    data.percent = percentage(scan.total(), data.periodMinutes);
    data.shortestMinutes = scan.shortest();
    data.longestMinutes = scan.longest();
    if (scan.longestStart())
        data.longestStart = localMoment(*scan.longestStart());
    for (const ListedOutage &listed : listedOutages(scan, now))
        data.outages.push_back(outageOf(entry, listed, span));
    return data;
}

OutageListData DowntimeStats::outageList(const QStringList &entries, StatsPeriod period) const
{
    const qint64 now = TDTCalc::wallClockMs(m_now());
    const Texts texts(m_locale);
    Span span;
    StatsOptions options;
    options.period = period;
    options.allDowntimes = true;
    OutageListData data;
    data.period = period;
    data.now = localMoment(now);
    for (const QString &entry : entries) {
        const QString path = logPath(entry);
        if (!isPlainEntry(entry) || !isLogFile(path)) {
            if (entries.size() == 1)
                throw StatsError(StatsError::MissingLog, missingLogMessage());
            continue;
        }
        LogScan scan(path, options, now, m_locale, texts, span);
        scan.setKeepOutageLines(true);
        scan.run();
        data.skippedLines += scan.skipped();
        // As the single report: a log with one line left shows no outage.
        if (scan.kept() <= 1)
            continue;
        const std::vector<ListedOutage> listed = listedOutages(scan, now);
        for (auto it = listed.crbegin(); it != listed.crend(); ++it)
            data.outages.push_back(outageOf(entry, *it, span));
    }
    return data;
}
