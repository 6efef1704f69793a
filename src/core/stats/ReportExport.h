#pragma once

#include "stats/DowntimeStats.h"

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>

#include <optional>

enum class ReportFormat { Text, Csv, Json };

// Writes the figures of the down-time reports for other tools: CSV (RFC
// 4180: a header row, CR LF line ends, fields quoted where needed) and one
// JSON document whose shape docs/report.schema.json describes, told apart by
// its "kind". The outage list also has a text form for people; the other
// reports' text is the statistics window's own (DowntimeStats).
//
// Moments are ISO 8601 local times with their offset from UTC,
// "2024-03-03T10:00:00+01:00"; numbers never follow the locale.
class ReportExport {
public:
    // "text", "csv" or "json".
    static std::optional<ReportFormat> formatFromName(const QString &name);
    // "all", "1w", "2w", "1m", "3m", "6m" or "1y".
    static QString periodWord(StatsPeriod period);
    static std::optional<StatsPeriod> periodFromWord(const QString &word);

    static QByteArray csv(const SingleReportData &report);
    static QByteArray csv(const ComparisonData &comparison);
    static QByteArray csv(const OutageListData &outages);

    static QByteArray json(const SingleReportData &report);
    static QByteArray json(const ComparisonData &comparison);
    static QByteArray json(const OutageListData &outages);

    // One line an outage, with the locale's date and time texts.
    static QByteArray text(const OutageListData &outages, const QLocale &locale = QLocale());

    static QString isoTime(const QDateTime &when);
    // A field as CSV writes it: quoted when it holds a comma, quote, CR or
    // LF, its quotes doubled.
    static QString csvField(const QString &field);
};
