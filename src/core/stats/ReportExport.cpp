#include "stats/ReportExport.h"

#include "base/TimeStamp.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <iterator>

namespace {

// Bumped when a field changes meaning or goes; new fields do not bump it.
constexpr int ShapeVersion = 1;

const char *const PeriodWords[] = {"all", "1w", "2w", "1m", "3m", "6m", "1y"};

// Percentages to the thousandth, as the text report rounds them.
double rounded(double percent)
{
    const double r = std::round(percent * 1000.0);
    return std::isfinite(r) ? r / 1000.0 : 0.0;
}

QString percentText(double percent)
{
    return QString::number(rounded(percent), 'f', 3);
}

QString flag(bool on)
{
    return on ? QStringLiteral("true") : QStringLiteral("false");
}

QString monthText(const MonthTotal &month)
{
    return QStringLiteral("%1-%2")
        .arg(month.year, 4, 10, QLatin1Char('0'))
        .arg(month.month, 2, 10, QLatin1Char('0'));
}

QJsonValue jsonTime(const QDateTime &when)
{
    return when.isValid() ? QJsonValue(ReportExport::isoTime(when)) : QJsonValue(QJsonValue::Null);
}

class CsvWriter {
public:
    explicit CsvWriter(const QStringList &header) : m_columns(header.size()) { row(header); }

    void row(const QStringList &fields)
    {
        Q_ASSERT(fields.size() == m_columns);
        QStringList quoted;
        quoted.reserve(fields.size());
        for (const QString &field : fields)
            quoted << ReportExport::csvField(field);
        m_bytes += quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
    }
    QByteArray bytes() const { return m_bytes; }

private:
    qsizetype m_columns;
    QByteArray m_bytes;
};

QJsonObject outageObject(const Outage &outage)
{
    return {
        {QStringLiteral("service"), outage.entry},
        {QStringLiteral("start"), jsonTime(outage.start)},
        {QStringLiteral("end"), outage.open ? QJsonValue(QJsonValue::Null) : jsonTime(outage.end)},
        {QStringLiteral("ongoing"), outage.open},
        {QStringLiteral("duration_seconds"), outage.seconds},
        {QStringLiteral("duration_minutes"), outage.minutes}};
}

QJsonArray outageArray(const std::vector<Outage> &outages)
{
    QJsonArray array;
    for (const Outage &outage : outages)
        array.append(outageObject(outage));
    return array;
}

QJsonObject header(const char *kind, const QDateTime &now, StatsPeriod period)
{
    return {{QStringLiteral("kind"), QLatin1String(kind)},
            {QStringLiteral("version"), ShapeVersion},
            {QStringLiteral("generated"), jsonTime(now)},
            {QStringLiteral("period"), ReportExport::periodWord(period)}};
}

QByteArray document(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

} // namespace

std::optional<ReportFormat> ReportExport::formatFromName(const QString &name)
{
    if (name == QLatin1String("text"))
        return ReportFormat::Text;
    if (name == QLatin1String("csv"))
        return ReportFormat::Csv;
    if (name == QLatin1String("json"))
        return ReportFormat::Json;
    return std::nullopt;
}

QString ReportExport::periodWord(StatsPeriod period)
{
    return QLatin1String(PeriodWords[int(period)]);
}

std::optional<StatsPeriod> ReportExport::periodFromWord(const QString &word)
{
    for (int i = 0; i < int(std::size(PeriodWords)); ++i) {
        if (word == QLatin1String(PeriodWords[i]))
            return static_cast<StatsPeriod>(i);
    }
    return std::nullopt;
}

QString ReportExport::isoTime(const QDateTime &when)
{
    if (!when.isValid())
        return QString();
    const int offset = when.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return when.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString ReportExport::csvField(const QString &field)
{
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')) &&
        !field.contains(QLatin1Char('\r')) && !field.contains(QLatin1Char('\n')))
        return field;
    QString quoted = field;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// One table for the three parts of the report: the record column says
// which part a row belongs to, and each part fills the columns it has.
QByteArray ReportExport::csv(const SingleReportData &report)
{
    CsvWriter out({"record", "service", "month", "start", "end", "incomplete", "ongoing", "fails",
                   "down_minutes", "down_percent", "total_minutes", "shortest_minutes",
                   "longest_minutes", "longest_start", "duration_seconds"});
    out.row({"summary", report.entry, QString(), isoTime(report.periodStart), isoTime(report.now),
             flag(report.incomplete), QString(), QString::number(report.fails),
             QString::number(report.downMinutes), percentText(report.percent),
             QString::number(report.periodMinutes), QString::number(report.shortestMinutes),
             QString::number(report.longestMinutes), isoTime(report.longestStart), QString()});
    for (const MonthTotal &month : report.months) {
        out.row({"month", report.entry, monthText(month), QString(), QString(),
                 flag(month.incomplete), QString(), QString::number(month.fails),
                 QString::number(month.downMinutes), percentText(month.percent), QString(),
                 QString(), QString(), QString(), QString()});
    }
    for (const Outage &outage : report.outages) {
        out.row({"outage", outage.entry, QString(), isoTime(outage.start),
                 outage.open ? QString() : isoTime(outage.end), QString(), flag(outage.open),
                 QString(), QString::number(outage.minutes), QString(), QString(), QString(),
                 QString(), QString(), QString::number(outage.seconds)});
    }
    return out.bytes();
}

QByteArray ReportExport::csv(const ComparisonData &comparison)
{
    CsvWriter out({"service", "label", "period_start", "period_days", "incomplete", "fails",
                   "shortest_minutes", "longest_minutes", "down_minutes", "down_percent"});
    for (const ComparisonRow &row : comparison.rows) {
        out.row({row.entry, row.label, isoTime(row.periodStart), QString::number(row.periodDays),
                 flag(row.incomplete), QString::number(row.fails),
                 QString::number(row.shortestMinutes), QString::number(row.longestMinutes),
                 QString::number(row.downMinutes), percentText(row.percent)});
    }
    return out.bytes();
}

QByteArray ReportExport::csv(const OutageListData &outages)
{
    CsvWriter out({"service", "start", "end", "duration_seconds", "ongoing"});
    for (const Outage &outage : outages.outages) {
        out.row({outage.entry, isoTime(outage.start), outage.open ? QString() : isoTime(outage.end),
                 QString::number(outage.seconds), flag(outage.open)});
    }
    return out.bytes();
}

QByteArray ReportExport::json(const SingleReportData &report)
{
    QJsonObject object = header("single_report", report.now, report.options.period);
    object.insert(QStringLiteral("service"), report.entry);
    object.insert(QStringLiteral("all_downtimes"), report.options.allDowntimes);
    object.insert(QStringLiteral("period_start"), jsonTime(report.periodStart));
    object.insert(QStringLiteral("incomplete"), report.incomplete);
    object.insert(QStringLiteral("no_down_time_logged"), report.noDownTimeLogged);
    object.insert(QStringLiteral("summary"),
                  QJsonObject{{QStringLiteral("total_minutes"), report.periodMinutes},
                              {QStringLiteral("down_minutes"), report.downMinutes},
                              {QStringLiteral("down_percent"), rounded(report.percent)},
                              {QStringLiteral("shortest_minutes"), report.shortestMinutes},
                              {QStringLiteral("longest_minutes"), report.longestMinutes},
                              {QStringLiteral("longest_start"), jsonTime(report.longestStart)},
                              {QStringLiteral("fails"), report.fails}});
    QJsonArray months;
    for (const MonthTotal &month : report.months) {
        months.append(QJsonObject{{QStringLiteral("month"), monthText(month)},
                                  {QStringLiteral("fails"), month.fails},
                                  {QStringLiteral("down_minutes"), month.downMinutes},
                                  {QStringLiteral("down_percent"), rounded(month.percent)},
                                  {QStringLiteral("incomplete"), month.incomplete}});
    }
    object.insert(QStringLiteral("monthly_totals"), months);
    object.insert(QStringLiteral("outages"), outageArray(report.outages));
    object.insert(QStringLiteral("skipped_lines"), report.skippedLines);
    return document(object);
}

QByteArray ReportExport::json(const ComparisonData &comparison)
{
    QJsonObject object = header("comparison", comparison.now, comparison.options.period);
    object.insert(QStringLiteral("show_all"), comparison.options.showAll);
    QJsonArray rows;
    for (const ComparisonRow &row : comparison.rows) {
        rows.append(QJsonObject{{QStringLiteral("service"), row.entry},
                                {QStringLiteral("label"), row.label},
                                {QStringLiteral("period_start"), jsonTime(row.periodStart)},
                                {QStringLiteral("period_days"), row.periodDays},
                                {QStringLiteral("incomplete"), row.incomplete},
                                {QStringLiteral("fails"), row.fails},
                                {QStringLiteral("shortest_minutes"), row.shortestMinutes},
                                {QStringLiteral("longest_minutes"), row.longestMinutes},
                                {QStringLiteral("down_minutes"), row.downMinutes},
                                {QStringLiteral("down_percent"), rounded(row.percent)}});
    }
    object.insert(QStringLiteral("rows"), rows);
    object.insert(QStringLiteral("skipped_lines"), comparison.skippedLines);
    return document(object);
}

QByteArray ReportExport::json(const OutageListData &outages)
{
    QJsonObject object = header("outages", outages.now, outages.period);
    object.insert(QStringLiteral("outages"), outageArray(outages.outages));
    object.insert(QStringLiteral("skipped_lines"), outages.skippedLines);
    return document(object);
}

QByteArray ReportExport::text(const OutageListData &outages, const QLocale &locale)
{
    if (outages.outages.empty())
        return "No outages logged.\n";
    QByteArray bytes;
    for (const Outage &outage : outages.outages) {
        const QString end =
            outage.open ? QStringLiteral("ongoing") : TimeStamp::format(outage.end, locale);
        bytes += (outage.entry + QStringLiteral(": ") + TimeStamp::format(outage.start, locale) +
                  QStringLiteral(" - ") + end + QStringLiteral(" = ") +
                  QString::number(outage.seconds) + QStringLiteral(" s\n"))
                     .toUtf8();
    }
    return bytes;
}
