#include "config/ProgramContext.h"
#include "stats/DowntimeStats.h"
#include "stats/StatsError.h"
#include "base/TimeStamp.h"
#include "support/TestSandbox.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <memory>

#include <time.h>

Q_DECLARE_METATYPE(StatsPeriod)

namespace {

// Every report here is taken at this moment unless a case says otherwise.
const QDateTime Now(QDate(2026, 6, 15), QTime(12, 0, 0));

// Hand-written service logs in the C locale's time stamps.
QStringList logLines(const QString &name)
{
    if (name == QLatin1String("onlystart"))
        return {"1 Mar 2026 08:00:00:  Log start"};
    if (name == QLatin1String("inmonth"))
        return {"1 Apr 2026 09:00:00:  Log start", "10 May 2026 10:00:00: went on error.",
                "10 May 2026 10:45:00: came off error.", "20 May 2026 22:00:00: went on error.",
                "20 May 2026 23:30:30: came off error."};
    if (name == QLatin1String("crossmonth"))
        return {"10 Jan 2026 12:00:00:  Log start",      "31 Jan 2026 23:00:00: went on error.",
                "1 Feb 2026 01:00:00: came off error.",  "14 May 2026 20:00:00: went on error.",
                "16 May 2026 08:30:00: came off error.", "1 Jun 2026 10:00:00: went on error.",
                "1 Jun 2026 10:10:00: came off error."};
    if (name == QLatin1String("equal"))
        return {"1 Jun 2026:  Log start",
                "2 Jun 2026 08:00:00: went on error.",
                "2 Jun 2026 08:20:00: came off error.",
                "3 Jun 2026 09:00:00: went on error.",
                "3 Jun 2026 09:20:59: came off error.",
                "4 Jun 2026 10:00:00: went on error.",
                "4 Jun 2026 10:05:00: came off error."};
    if (name == QLatin1String("late"))
        return {"1 Jun 2026 08:00:00:  Log start", "5 Jun 2026 14:00:00: went on error.",
                "5 Jun 2026 14:03:00: came off error."};
    if (name == QLatin1String("open"))
        return {"1 Jun 2026 12:00:00:  Log start", "14 Jun 2026 23:00:00: went on error."};
    if (name == QLatin1String("dropping"))
        return {"1 Jun 2026 12:00:00:  Log start", "8 Jun 2026 11:59:59: went on error.",
                "8 Jun 2026 12:00:00: came off error.", "9 Jun 2026 10:00:00: went on error.",
                "10 Jun 2026 07:00:00: came off error."};
    if (name == QLatin1String("fresh"))
        return {"15 Jun 2026 11:59:30:  Log start", "15 Jun 2026 11:59:40: went on error.",
                "15 Jun 2026 11:59:50: came off error."};
    if (name == QLatin1String("months"))
        return {"15 Jan 2026 06:00:00:  Log start", "3 Mar 2026 10:00:00: went on error.",
                "3 Mar 2026 10:30:00: came off error."};
    if (name == QLatin1String("yearlater"))
        return {"1 Jan 2025 12:00:00:  Log start", "5 Mar 2025 10:00:00: went on error.",
                "5 Mar 2025 10:20:00: came off error.", "5 Mar 2026 10:00:00: went on error.",
                "5 Mar 2026 10:20:00: came off error."};
    if (name == QLatin1String("thirty")) {
        // Two start lines, then fourteen outages of 1 to 14 minutes on 1 to
        // 14 May: thirty lines, the 10th being the end of the 4th outage.
        QStringList lines = {"30 Apr 2026 18:00:00:  Log start",
                             "30 Apr 2026 18:00:01:  Log start"};
        for (int k = 1; k <= 14; ++k) {
            lines << QStringLiteral("%1 May 2026 10:00:00: went on error.").arg(k)
                  << QStringLiteral("%1 May 2026 10:%2:00: came off error.")
                         .arg(k)
                         .arg(k, 2, 10, QLatin1Char('0'));
        }
        return lines;
    }
    if (name == QLatin1String("apple"))
        return {"1 Jan 2026:  Log start"};
    if (name == QLatin1String("Banana"))
        return {"1 Feb 2026 12:00:00:  Log start"};
    if (name == QLatin1String("a-very-long-host-name.example.org"))
        return {"1 May 2026 12:00:00:  Log start", "2 Jun 2026 12:00:00: went on error.",
                "2 Jun 2026 13:00:00: came off error."};
    if (name == QLatin1String("misc"))
        return {"1 Jun 2026 12:00:00:  Log start", "10 Jun 2026 12:00:00: went on error."};
    return {};
}

// The same log with its stamps as another locale writes them.
QStringList inLocale(const QStringList &lines, const QLocale &locale)
{
    QStringList out;
    for (const QString &line : lines) {
        const qsizetype end = line.indexOf(QLatin1String(": "));
        const auto when = TimeStamp::parse(line.left(end), QLocale::c());
        out << TimeStamp::format(*when, locale) + line.mid(end);
    }
    return out;
}

QString footer()
{
    const QStringList parts = ProgramContext::buildVersion().split(QLatin1Char('.'));
    return QStringLiteral("Stats with Quellmark v") + parts.mid(0, 3).join(QLatin1Char('.'));
}

// A raw text block as report lines; FOOTER stands for the footer line.
QStringList expected(const char *text)
{
    QString block = QString::fromUtf8(text);
    if (block.startsWith(QLatin1Char('\n')))
        block.remove(0, 1);
    if (block.endsWith(QLatin1Char('\n')))
        block.chop(1);
    QStringList lines = block.split(QLatin1Char('\n'));
    for (QString &line : lines) {
        if (line == QLatin1String("FOOTER"))
            line = footer();
    }
    return lines;
}

// Compares line by line so a failure names the first differing line.
bool sameReport(const QStringList &actual, const QStringList &wanted)
{
    const qsizetype n = std::max(actual.size(), wanted.size());
    for (qsizetype i = 0; i < n; ++i) {
        const QString a = i < actual.size() ? actual.at(i) : QStringLiteral("<none>");
        const QString w = i < wanted.size() ? wanted.at(i) : QStringLiteral("<none>");
        if (a != w) {
            qWarning().noquote() << "line" << i + 1
                                 << "\n  actual: [" + a + "]\n  wanted: [" + w + "]";
            qWarning().noquote() << "whole report:\n" + actual.join(QLatin1Char('\n'));
            return false;
        }
    }
    return true;
}

const char *const CrossMonthAll = R"(
CROSSMONTH(HTTP) DOWN TIME STATS:
-----------------------------------
Summary from: 10 Jan 2026 12:00:00
          to: 15 Jun 2026 12:00:00
                  h:mm
Total Time =   3744:00
Down Time  =     38:40 (1.033%)
 Shortest  =      0:10
 Longest   =     36:30 (on 14 May 2026 20:00:00)
Fails = 3
___________________________________
Monthly Totals:
        Fails   h:mm     %  
2026/02     1   2:00   0.298
2026/05     1  36:30   4.906
2026/06     1   0:10   0.048 *
___________________________________
Recent Down Times (h:mm):
1 Jun 2026 10:00 - 10:10 =  0:10
14 May 2026 20:00 - 08:30 = 36:30
31 Jan 2026 23:00 - 01:00 =  2:00

 * denotes incomplete data for period
___________________________________
FOOTER
)";

const char *const CrossMonthOneMonth = R"(
CROSSMONTH(HTTP) DOWN TIME STATS:
-----------------------------------
Summary from: 15 May 2026 12:00:00
          to: 15 Jun 2026 12:00:00
                  h:mm
Total Time =    744:00
Down Time  =     20:40 (2.778%)
 Shortest  =      0:10
 Longest   =     20:30 (on 15 May 2026 12:00:00)
Fails = 2
___________________________________
Recent Down Times (h:mm):
1 Jun 2026 10:00 - 10:10 =  0:10
16 May 2026 12:00 - 08:30 = 20:30

 * denotes incomplete data for period
___________________________________
FOOTER
)";

const char *const CrossMonthOneYear = R"(
CROSSMONTH(HTTP) DOWN TIME STATS:
-----------------------------------
Summary from: 10 Jan 2026 12:00:00 *
          to: 15 Jun 2026 12:00:00
                  h:mm
Total Time =   3744:00
Down Time  =     38:40 (1.033%)
 Shortest  =      0:10
 Longest   =     36:30 (on 14 May 2026 20:00:00)
Fails = 3
___________________________________
Recent Down Times (h:mm):
1 Jun 2026 10:00 - 10:10 =  0:10
14 May 2026 20:00 - 08:30 = 36:30
31 Jan 2026 23:00 - 01:00 =  2:00

 * denotes incomplete data for period
___________________________________
FOOTER
)";

const char *const InMonthAll = R"(
INMONTH(HTTP) DOWN TIME STATS:
-----------------------------------
Summary from: 1 Apr 2026 09:00:00
          to: 15 Jun 2026 12:00:00
                  h:mm
Total Time =   1803:00
Down Time  =      2:15 (0.125%)
 Shortest  =      0:45
 Longest   =      1:30 (on 20 May 2026 22:00:00)
Fails = 2
___________________________________
Monthly Totals:
        Fails   h:mm     %  
2026/04     0   0:00   0.000 *
2026/05     2   2:15   0.302
2026/06     0   0:00   0.000 *
___________________________________
Recent Down Times (h:mm):
20 May 2026 22:00 - 23:30 =  1:30
10 May 2026 10:00 - 10:45 =  0:45

 * denotes incomplete data for period
___________________________________
FOOTER
)";

const char *const InMonthAllGB = R"(
INMONTH(HTTP) DOWN TIME STATS:
-----------------------------------
Summary from: 01/04/2026 09:00:00
          to: 15/06/2026 12:00:00
                  h:mm
Total Time =   1803:00
Down Time  =      2:15 (0.125%)
 Shortest  =      0:45
 Longest   =      1:30 (on 20/05/2026 22:00:00)
Fails = 2
___________________________________
Monthly Totals:
        Fails   h:mm     %  
2026/04     0   0:00   0.000 *
2026/05     2   2:15   0.302
2026/06     0   0:00   0.000 *
___________________________________
Recent Down Times (h:mm):
20/05/2026 22:00 - 23:30 =  1:30
10/05/2026 10:00 - 10:45 =  0:45

 * denotes incomplete data for period
___________________________________
FOOTER
)";

const char *const InMonthOneMonth = R"(
INMONTH(HTTP) DOWN TIME STATS:
-----------------------------------
Summary from: 15 May 2026 12:00:00
          to: 15 Jun 2026 12:00:00
                  h:mm
Total Time =    744:00
Down Time  =      1:30 (0.202%)
 Shortest  =      1:30
 Longest   =      1:30 (on 20 May 2026 22:00:00)
Fails = 1
___________________________________
Recent Down Times (h:mm):
20 May 2026 22:00 - 23:30 =  1:30

 * denotes incomplete data for period
___________________________________
FOOTER
)";

const char *const EqualAll = R"(
EQUAL(HTTP) DOWN TIME STATS:
-----------------------------------
Summary from: 1 Jun 2026
          to: 15 Jun 2026 12:00:00
                  h:mm
Total Time =    348:00
Down Time  =      0:45 (0.216%)
 Shortest  =      0:05
 Longest   =      0:20 (on 2 Jun 2026 08:00:00)
Fails = 3
___________________________________
Monthly Totals:
        Fails   h:mm     %  
2026/06     3   0:45   0.216 *
___________________________________
Recent Down Times (h:mm):
4 Jun 2026 10:00 - 10:05 =  0:05
3 Jun 2026 09:00 - 09:20 =  0:20
2 Jun 2026 08:00 - 08:20 =  0:20

 * denotes incomplete data for period
___________________________________
FOOTER
)";

const char *const EqualOneYearGB = R"(
EQUAL(HTTP) DOWN TIME STATS:
-----------------------------------
Summary from: 01/06/2026 *
          to: 15/06/2026 12:00:00
                  h:mm
Total Time =    348:00
Down Time  =      0:45 (0.216%)
 Shortest  =      0:05
 Longest   =      0:20 (on 02/06/2026 08:00:00)
Fails = 3
___________________________________
Recent Down Times (h:mm):
04/06/2026 10:00 - 10:05 =  0:05
03/06/2026 09:00 - 09:20 =  0:20
02/06/2026 08:00 - 08:20 =  0:20

 * denotes incomplete data for period
___________________________________
FOOTER
)";

const char *const LateOneMonth = R"(
LATE(HTTP) DOWN TIME STATS:
-----------------------------------
Summary from: 1 Jun 2026 08:00:00 *
          to: 15 Jun 2026 12:00:00
                  h:mm
Total Time =    340:00
Down Time  =      0:03 (0.015%)
 Shortest  =      0:03
 Longest   =      0:03 (on 5 Jun 2026 14:00:00)
Fails = 1
___________________________________
Recent Down Times (h:mm):
5 Jun 2026 14:00 - 14:03 =  0:03

 * denotes incomplete data for period
___________________________________
FOOTER
)";

// The open outage is listed up to now and counted nowhere else.
const char *const OpenAll = R"(
OPEN(HTTP) DOWN TIME STATS:
-----------------------------------
Summary from: 1 Jun 2026 12:00:00
          to: 15 Jun 2026 12:00:00
                  h:mm
Total Time =    336:00
Down Time  =      0:00 (0%)
 Shortest  =      0:00
 Longest   =      0:00 (on )
Fails = 0
___________________________________
Monthly Totals:
        Fails   h:mm     %  
___________________________________
Recent Down Times (h:mm):
14 Jun 2026 23:00 -       = 13:00

 * denotes incomplete data for period
___________________________________
FOOTER
)";

// Now is half a second past 12:00:00: the record 1.5 s before the period
// start goes, the one 0.5 s before stays and ends an outage that began
// before the period.
const char *const DroppingOneWeek = R"(
DROPPING(HTTP) DOWN TIME STATS:
-----------------------------------
Summary from: 8 Jun 2026 12:00:00
          to: 15 Jun 2026 12:00:00
                  h:mm
Total Time =    168:00
Down Time  =     21:00 (12.5%)
 Shortest  =      0:00
 Longest   =     21:00 (on 9 Jun 2026 10:00:00)
Fails = 2
___________________________________
Recent Down Times (h:mm):
9 Jun 2026 10:00 - 07:00 = 21:00
8 Jun 2026 12:00 - 12:00 =  0:00

 * denotes incomplete data for period
___________________________________
FOOTER
)";

// A log begun 30 seconds ago: no whole minute to divide by, shown as 0.
const char *const FreshAll = R"(
FRESH(HTTP) DOWN TIME STATS:
-----------------------------------
Summary from: 15 Jun 2026 11:59:30
          to: 15 Jun 2026 12:00:00
                  h:mm
Total Time =      0:00
Down Time  =      0:00 (0%)
 Shortest  =      0:00
 Longest   =      0:00 (on )
Fails = 1
___________________________________
Monthly Totals:
        Fails   h:mm     %  
2026/06     1   0:00   0.000 *
___________________________________
Recent Down Times (h:mm):
15 Jun 2026 11:59 - 11:59 =  0:00

 * denotes incomplete data for period
___________________________________
FOOTER
)";

const char *const MonthsAll = R"(
MONTHS(HTTP) DOWN TIME STATS:
-----------------------------------
Summary from: 15 Jan 2026 06:00:00
          to: 15 Jun 2026 12:00:00
                  h:mm
Total Time =   3630:00
Down Time  =      0:30 (0.014%)
 Shortest  =      0:30
 Longest   =      0:30 (on 3 Mar 2026 10:00:00)
Fails = 1
___________________________________
Monthly Totals:
        Fails   h:mm     %  
2026/01     0   0:00   0.000 *
2026/02     0   0:00   0.000
2026/03     1   0:30   0.067
2026/04     0   0:00   0.000
2026/05     0   0:00   0.000
2026/06     0   0:00   0.000 *
___________________________________
Recent Down Times (h:mm):
3 Mar 2026 10:00 - 10:30 =  0:30

 * denotes incomplete data for period
___________________________________
FOOTER
)";

const char *const YearLaterAll = R"(
YEARLATER(HTTP) DOWN TIME STATS:
-----------------------------------
Summary from: 1 Jan 2025 12:00:00
          to: 15 Jun 2026 12:00:00
                  h:mm
Total Time =  12720:00
Down Time  =      0:40 (0.005%)
 Shortest  =      0:20
 Longest   =      0:20 (on 5 Mar 2025 10:00:00)
Fails = 2
___________________________________
Monthly Totals:
        Fails   h:mm     %  
2025/01     0   0:00   0.000 *
2025/02     0   0:00   0.000
2025/03     1   0:20   0.045
2026/03     1   0:20   0.045
2026/04     0   0:00   0.000
2026/05     0   0:00   0.000
2026/06     0   0:00   0.000 *
___________________________________
Recent Down Times (h:mm):
5 Mar 2026 10:00 - 10:20 =  0:20
5 Mar 2025 10:00 - 10:20 =  0:20

 * denotes incomplete data for period
___________________________________
FOOTER
)";

const char *const ThirtyHead = R"(
THIRTY(HTTP) DOWN TIME STATS:
-----------------------------------
Summary from: 30 Apr 2026 18:00:00
          to: 15 Jun 2026 12:00:00
                  h:mm
Total Time =   1098:00
Down Time  =      1:45 (0.159%)
 Shortest  =      0:01
 Longest   =      0:14 (on 14 May 2026 10:00:00)
Fails = 14
___________________________________
Monthly Totals:
        Fails   h:mm     %  
2026/05    14   1:45   0.235
2026/06     0   0:00   0.000 *
___________________________________
)";

// Outage rows of the thirty-line log, newest first, from day `last` down to `first`.
QStringList thirtyRows(int last, int first)
{
    QStringList rows;
    for (int k = last; k >= first; --k)
        rows << QStringLiteral("%1 May 2026 10:00 - 10:%2 =  0:%2")
                    .arg(k)
                    .arg(k, 2, 10, QLatin1Char('0'));
    return rows;
}

QStringList thirtyReport(bool all)
{
    QStringList lines = expected(ThirtyHead);
    lines << (all ? QStringLiteral("Down Times (h:mm):")
                  : QStringLiteral("Recent Down Times (h:mm):"));
    // The last 21 lines hold the 5th to 14th outage and the end of the 4th.
    lines << (all ? thirtyRows(14, 1) : thirtyRows(14, 5));
    lines << QString() << QStringLiteral(" * denotes incomplete data for period")
          << QString(35, QLatin1Char('_')) << footer();
    return lines;
}

const char *const CompareHead = R"(
DOWN TIME STATS COMPARISON on 15 Jun 2026 12:00:00
-------------------------------------------------
Service                    Period  Fail  Short   Long     Downtime
                             days     #   h:mm   h:mm    h:mm      %
)";

const char *const CompareAllRows = R"(
apple                    (f)  165     0   0:00   0:00    0:00  0.000
Banana                   (s)  134     0   0:00   0:00    0:00  0.000
misc                           14     0   0:00   0:00    0:00  0.000
late                     (s)   14     1   0:03   0:03    0:03  0.015
a-very-long-host-name.exa(p)   45     1   1:00   1:00    1:00  0.093
equal                    (f)   14     3   0:05   0:20    0:45  0.216
crossmonth               (h)  156     3   0:10  36:30   38:40  1.033
)";

const char *const CompareOneMonthRows = R"(
apple                    (f)   31     0   0:00   0:00    0:00  0.000
Banana                   (s)   31     0   0:00   0:00    0:00  0.000
a-very-long-host-name.exa(p)   31     1   1:00   1:00    1:00  0.134
crossmonth               (h)   31     2   0:10  20:30   20:40  2.778
)";

const char *const CompareOneMonthShowAllRows = R"(
apple                    (f)   31     0   0:00   0:00    0:00  0.000
Banana                   (s)   31     0   0:00   0:00    0:00  0.000
misc                           14*    0   0:00   0:00    0:00  0.000
late                     (s)   14*    1   0:03   0:03    0:03  0.015
a-very-long-host-name.exa(p)   31     1   1:00   1:00    1:00  0.134
equal                    (f)   14*    3   0:05   0:20    0:45  0.216
crossmonth               (h)   31     2   0:10  20:30   20:40  2.778
)";

const char *const CompareOneYearShowAllRows = R"(
apple                    (f)  165*    0   0:00   0:00    0:00  0.000
Banana                   (s)  134*    0   0:00   0:00    0:00  0.000
misc                           14*    0   0:00   0:00    0:00  0.000
late                     (s)   14*    1   0:03   0:03    0:03  0.015
a-very-long-host-name.exa(p)   45*    1   1:00   1:00    1:00  0.093
equal                    (f)   14*    3   0:05   0:20    0:45  0.216
crossmonth               (h)  156*    3   0:10  36:30   38:40  1.033
)";

} // namespace

class TestDowntimeStats : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSandbox> m_sandbox;
    QString m_folder;

    void writeLog(const QString &entry, const QStringList &lines)
    {
        QFile file(m_folder + entry + QStringLiteral(".log"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        for (const QString &line : lines)
            file.write(line.toUtf8() + "\r\n");
    }

    void writeCompareFolder(const QLocale &locale)
    {
        const QStringList names = {"crossmonth(http)", "equal(ftp)",
                                   "late(smtp)",       "apple(ftp)",
                                   "Banana(smtp)",     "a-very-long-host-name.example.org(pop3)",
                                   "misc(gopher)"};
        for (const QString &entry : names)
            writeLog(entry,
                     inLocale(logLines(entry.left(entry.indexOf(QLatin1Char('(')))), locale));
    }

    DowntimeStats stats(const QLocale &locale, const QDateTime &now = Now) const
    {
        return DowntimeStats(m_folder, locale, [now] { return now; });
    }

private slots:
    void init()
    {
        m_sandbox = std::make_unique<TestSandbox>();
        m_folder = m_sandbox->programFolder();
        QVERIFY(QDir().mkpath(m_folder));
    }
    void cleanup() { m_sandbox.reset(); }

    void periodStart_data()
    {
        QTest::addColumn<StatsPeriod>("period");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QDateTime>("start");
        const auto at = [](int y, int m, int d, int h = 10, int min = 20, int s = 30) {
            return QDateTime(QDate(y, m, d), QTime(h, min, s));
        };
        QTest::newRow("1 week") << StatsPeriod::OneWeek << at(2026, 1, 3) << at(2025, 12, 27);
        QTest::newRow("2 weeks") << StatsPeriod::TwoWeeks << at(2026, 1, 3) << at(2025, 12, 20);
        QTest::newRow("1 month on 31 March")
            << StatsPeriod::OneMonth << at(2026, 3, 31) << at(2026, 3, 1);
        QTest::newRow("1 month in January")
            << StatsPeriod::OneMonth << at(2026, 1, 15, 8, 0, 0) << at(2025, 12, 15, 8, 0, 0);
        QTest::newRow("1 month on 30 June")
            << StatsPeriod::OneMonth << at(2026, 6, 30) << at(2026, 5, 30);
        QTest::newRow("3 months in February")
            << StatsPeriod::ThreeMonths << at(2026, 2, 15) << at(2025, 11, 15);
        QTest::newRow("3 months on 31 May")
            << StatsPeriod::ThreeMonths << at(2026, 5, 31) << at(2026, 3, 1);
        QTest::newRow("6 months on 31 July")
            << StatsPeriod::SixMonths << at(2026, 7, 31) << at(2026, 1, 31);
        QTest::newRow("6 months on 31 August")
            << StatsPeriod::SixMonths << at(2026, 8, 31) << at(2026, 3, 2);
        QTest::newRow("1 year") << StatsPeriod::OneYear << at(2026, 12, 15) << at(2025, 12, 15);
        QTest::newRow("1 year on 29 February")
            << StatsPeriod::OneYear << at(2028, 2, 29, 9, 0, 0) << at(2027, 3, 1, 9, 0, 0);
        QTest::newRow("all log") << StatsPeriod::AllLog << at(2026, 6, 15) << at(2020, 1, 2);
    }
    void periodStart()
    {
        QFETCH(StatsPeriod, period);
        QFETCH(QDateTime, now);
        QFETCH(QDateTime, start);
        const QDateTime logStart(QDate(2020, 1, 2), QTime(10, 20, 30));
        QCOMPARE(DowntimeStats::periodStart(period, now, logStart), start);
    }

    void singleReport_data()
    {
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<StatsPeriod>("period");
        QTest::addColumn<bool>("allDowntimes");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QStringList>("report");

        const auto row = [](const char *name, const char *log, const char *locale,
                            StatsPeriod period, const QStringList &report, bool all = false,
                            const QDateTime &now = Now) {
            QTest::newRow(name) << QString::fromLatin1(log) << QString::fromLatin1(locale) << period
                                << all << now << report;
        };
        const auto noDownTime = [](const char *heading, const char *since) {
            return QStringList{QString::fromLatin1(heading), QString(35, QLatin1Char('-')),
                               QStringLiteral("No down time logged since ") +
                                   QString::fromLatin1(since)};
        };
        row("only start, all log", "onlystart", "C", StatsPeriod::AllLog,
            noDownTime("ONLYSTART(HTTP) DOWN TIME STATS:", "1 Mar 2026 08:00:00"));
        row("only start, 1 month", "onlystart", "C", StatsPeriod::OneMonth,
            noDownTime("ONLYSTART(HTTP) DOWN TIME STATS:", "15 May 2026 12:00:00"));
        row("only start, 1 year", "onlystart", "C", StatsPeriod::OneYear,
            noDownTime("ONLYSTART(HTTP) DOWN TIME STATS:", "1 Mar 2026 08:00:00 *"));
        row("only start, 1 year, en_GB", "onlystart", "en_GB", StatsPeriod::OneYear,
            noDownTime("ONLYSTART(HTTP) DOWN TIME STATS:", "01/03/2026 08:00:00 *"));
        row("inside one month, all log", "inmonth", "C", StatsPeriod::AllLog, expected(InMonthAll));
        row("inside one month, all log, en_GB", "inmonth", "en_GB", StatsPeriod::AllLog,
            expected(InMonthAllGB));
        row("inside one month, 1 month", "inmonth", "C", StatsPeriod::OneMonth,
            expected(InMonthOneMonth));
        row("across months, all log", "crossmonth", "C", StatsPeriod::AllLog,
            expected(CrossMonthAll));
        row("outage begun before the period", "crossmonth", "C", StatsPeriod::OneMonth,
            expected(CrossMonthOneMonth));
        row("across months, 1 year", "crossmonth", "C", StatsPeriod::OneYear,
            expected(CrossMonthOneYear));
        row("equal longest, all log", "equal", "C", StatsPeriod::AllLog, expected(EqualAll));
        row("equal longest, 1 year, en_GB", "equal", "en_GB", StatsPeriod::OneYear,
            expected(EqualOneYearGB));
        row("log starting after the period start", "late", "C", StatsPeriod::OneMonth,
            expected(LateOneMonth));
        row("thirty lines, recent", "thirty", "C", StatsPeriod::AllLog, thirtyReport(false));
        row("thirty lines, all downtimes", "thirty", "C", StatsPeriod::AllLog, thirtyReport(true),
            true);
        row("months without outages", "months", "C", StatsPeriod::AllLog, expected(MonthsAll));
        row("recovery a year later", "yearlater", "C", StatsPeriod::AllLog, expected(YearLaterAll));
        row("open outage", "open", "C", StatsPeriod::AllLog, expected(OpenAll));
        row("dropping lines", "dropping", "C", StatsPeriod::OneWeek, expected(DroppingOneWeek),
            false, Now.addMSecs(500));
        row("period under a minute", "fresh", "C", StatsPeriod::AllLog, expected(FreshAll));
    }
    void singleReport()
    {
        QFETCH(QString, log);
        QFETCH(QString, locale);
        QFETCH(StatsPeriod, period);
        QFETCH(bool, allDowntimes);
        QFETCH(QDateTime, now);
        QFETCH(QStringList, report);

        const QLocale loc(locale);
        const QString entry = log + QStringLiteral("(http)");
        writeLog(entry, inLocale(logLines(log), loc));
        StatsOptions options;
        options.period = period;
        options.allDowntimes = allDowntimes;
        QStringList actual;
        stats(loc, now).singleReport(entry, options, actual);
        QVERIFY(sameReport(actual, report));
    }

    void comparison_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<StatsPeriod>("period");
        QTest::addColumn<bool>("showAll");
        QTest::addColumn<QStringList>("report");

        const auto report = [](const char *rows, bool footnote, const char *head = CompareHead) {
            QStringList lines = expected(head);
            if (rows)
                lines << expected(rows);
            if (footnote)
                lines << QString() << QStringLiteral(" * denotes incomplete data for period");
            return lines << QString(35, QLatin1Char('_')) << footer();
        };
        // "All log" never marks a row and never shows the footnote.
        QTest::newRow("all log") << "C" << StatsPeriod::AllLog << false
                                 << report(CompareAllRows, false);
        QTest::newRow("all log, show all")
            << "C" << StatsPeriod::AllLog << true << report(CompareAllRows, false);
        QTest::newRow("1 month") << "C" << StatsPeriod::OneMonth << false
                                 << report(CompareOneMonthRows, false);
        QTest::newRow("1 month, show all")
            << "C" << StatsPeriod::OneMonth << true << report(CompareOneMonthShowAllRows, true);
        QTest::newRow("1 year") << "C" << StatsPeriod::OneYear << false << report(nullptr, false);
        QTest::newRow("1 year, show all")
            << "C" << StatsPeriod::OneYear << true << report(CompareOneYearShowAllRows, true);
        QTest::newRow("1 month, en_GB") << "en_GB" << StatsPeriod::OneMonth << false
                                        << report(CompareOneMonthRows, false,
                                                  R"(
DOWN TIME STATS COMPARISON on 15/06/2026 12:00:00
-------------------------------------------------
Service                    Period  Fail  Short   Long     Downtime
                             days     #   h:mm   h:mm    h:mm      %
)");
    }
    void comparison()
    {
        QFETCH(QString, locale);
        QFETCH(StatsPeriod, period);
        QFETCH(bool, showAll);
        QFETCH(QStringList, report);

        const QLocale loc(locale);
        writeCompareFolder(loc);
        StatsOptions options;
        options.compare = true;
        options.period = period;
        options.showAll = showAll;
        // An entry whose file is gone is skipped without a word.
        const QStringList entries = DowntimeStats::listLogEntries(m_folder)
                                    << QStringLiteral("gone(http)");
        QStringList actual;
        stats(loc).buildReport(options, entries, QString(), actual);
        QVERIFY(sameReport(actual, report));
    }

    void numbersFollowTheLocale()
    {
        const QLocale german(QStringLiteral("de_DE"));
        writeLog(QStringLiteral("inmonth(http)"), inLocale(logLines("inmonth"), german));
        QStringList report;
        stats(german).singleReport(QStringLiteral("inmonth(http)"), StatsOptions(), report);
        QVERIFY(report.contains(QStringLiteral("Down Time  =      2:15 (0,125%)")));
        QVERIFY(report.contains(QStringLiteral("2026/05     2   2:15   0,302")));
        QVERIFY(report.contains(QStringLiteral("Summary from: 01.04.2026 09:00:00")));
    }

    void emptyLog_data()
    {
        QTest::addColumn<StatsPeriod>("period");
        QTest::addColumn<QString>("since");
        QTest::addColumn<QString>("row");
        QTest::newRow("all log") << StatsPeriod::AllLog << "15 Jun 2026 12:00:00"
                                 << "empty                    (h)    0     0   0:00   0:00    "
                                    "0:00  0.000";
        QTest::newRow("1 week") << StatsPeriod::OneWeek << "15 Jun 2026 12:00:00 *"
                                << "empty                    (h)    0*    0   0:00   0:00    "
                                   "0:00  0.000";
    }
    // An empty log reads as a log begun now with nothing in it.
    void emptyLog()
    {
        QFETCH(StatsPeriod, period);
        QFETCH(QString, since);
        QFETCH(QString, row);
        writeLog(QStringLiteral("empty(http)"), {});
        StatsOptions options;
        options.period = period;
        QStringList report;
        stats(QLocale::c()).singleReport(QStringLiteral("empty(http)"), options, report);
        QCOMPARE(report.last(), QStringLiteral("No down time logged since ") + since);

        options.compare = true;
        options.showAll = true;
        report.clear();
        stats(QLocale::c()).comparison({QStringLiteral("empty(http)")}, options, report);
        QCOMPARE(report.at(4), row);
    }

    // A week after the clocks went forward at 02:00, a report at 02:30
    // starts its period at a clock time that never was; it is shown as such.
    void periodStartInSkippedHour()
    {
        struct ZoneGuard {
            QByteArray old = qgetenv("TZ");
            ZoneGuard()
            {
                qputenv("TZ", "Europe/Berlin");
                tzset();
            }
            ~ZoneGuard()
            {
                if (old.isNull())
                    qunsetenv("TZ");
                else
                    qputenv("TZ", old);
                tzset();
            }
        } zone;
        if (QDateTime(QDate(2026, 3, 29), QTime(2, 30)).isValid())
            QSKIP("no time zone data for Europe/Berlin");
        writeLog(QStringLiteral("gap(http)"), {"1 Mar 2026 08:00:00:  Log start"});
        StatsOptions options;
        options.period = StatsPeriod::OneWeek;
        QStringList report;
        stats(QLocale::c(), QDateTime(QDate(2026, 4, 5), QTime(2, 30)))
            .singleReport(QStringLiteral("gap(http)"), options, report);
        QCOMPARE(report.last(), QStringLiteral("No down time logged since 29 Mar 2026 02:30:00"));
    }

    // Lines the program never wrote, or a record whose stamp cannot be read,
    // are passed over: the report is the one of the log without them, and
    // their number closes it.
    void damagedLinesAreSkipped_data()
    {
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<StatsPeriod>("period");
        QTest::addColumn<QStringList>("report");

        const QStringList clean = logLines("inmonth");
        const auto with = [&clean](std::initializer_list<std::pair<int, QString>> damage) {
            QStringList lines = clean;
            // From the back, so each position names a line of the clean log.
            for (auto it = std::rbegin(damage); it != std::rend(damage); ++it)
                lines.insert(it->first, it->second);
            return lines;
        };
        const auto skipped = [](QStringList report, int count) {
            return report << QStringLiteral(
                                 "Lines skipped (not a record or unreadable time stamp): %1")
                                 .arg(count);
        };
        const QStringList all = expected(InMonthAll);
        QTest::newRow("blank line after the first outage")
            << with({{3, QString()}}) << StatsPeriod::AllLog << skipped(all, 1);
        QTest::newRow("stray CR after the log start is no damage") << [&clean] {
            QStringList lines = clean;
            lines[0] += QLatin1Char('\r');
            return lines;
        }() << StatsPeriod::AllLog << all;
        QTest::newRow("blank first line")
            << with({{0, QString()}}) << StatsPeriod::AllLog << skipped(all, 1);
        QTest::newRow("line written by hand")
            << with({{1, QStringLiteral("router replaced, see ticket 12")}}) << StatsPeriod::AllLog
            << skipped(all, 1);
        QTest::newRow("note with a time stamp")
            << with({{2, QStringLiteral("10 May 2026 10:30:00: rebooted the router")}})
            << StatsPeriod::AllLog << skipped(all, 1);
        QTest::newRow("cut short mid-stamp at the end")
            << with({{5, QStringLiteral("15 Jun 2026 11:5")}}) << StatsPeriod::AllLog
            << skipped(all, 1);
        QTest::newRow("record cut short before its kind")
            << with({{5, QStringLiteral("14 Jun 2026 08:00:00: went on er")}})
            << StatsPeriod::AllLog << skipped(all, 1);
        QTest::newRow("record with an unreadable stamp")
            << with({{5, QStringLiteral("32 May 2026 12:00:00: went on error.")}})
            << StatsPeriod::AllLog << skipped(all, 1);
        QTest::newRow("zero bytes a crash left")
            << with({{3, QString(6, QChar(0))}}) << StatsPeriod::AllLog << skipped(all, 1);
        QTest::newRow("a page of zero bytes, longer than any line")
            << with({{3, QString(8192, QChar(0))}}) << StatsPeriod::AllLog << skipped(all, 1);
        QTest::newRow("overlong last line") << (with({}) << QString(100000, QLatin1Char('x')))
                                            << StatsPeriod::AllLog << skipped(all, 1);
        QTest::newRow("several, over a period")
            << with({{0, QStringLiteral("\t")},
                     {1, QStringLiteral("2 May 2026 10:00:00")},
                     {3, QString()},
                     {5, QStringLiteral("Tuesday: went on error.")}})
            << StatsPeriod::OneMonth << skipped(expected(InMonthOneMonth), 4);
        QTest::newRow("no record left but the start")
            << QStringList{"1 Mar 2026 08:00:00:  Log start", "", "1 Mar 2026 0"}
            << StatsPeriod::AllLog
            << skipped({"X(HTTP) DOWN TIME STATS:", QString(35, QLatin1Char('-')),
                        "No down time logged since 1 Mar 2026 08:00:00"},
                       2);
    }
    void damagedLinesAreSkipped()
    {
        QFETCH(QStringList, log);
        QFETCH(StatsPeriod, period);
        QFETCH(QStringList, report);
        const QString entry = report.first().startsWith(QLatin1String("X("))
                                  ? QStringLiteral("x(http)")
                                  : QStringLiteral("inmonth(http)");
        writeLog(entry, log);
        StatsOptions options;
        options.period = period;
        QStringList actual;
        try {
            stats(QLocale::c()).singleReport(entry, options, actual);
        } catch (const StatsError &e) {
            QFAIL(qPrintable(e.message()));
        }
        QVERIFY(sameReport(actual, report));
    }

    // The table counts the lines skipped in the logs it lists.
    void comparisonCountsSkippedLines_data()
    {
        QTest::addColumn<bool>("showAll");
        QTest::addColumn<int>("count");
        // Over three months only crossmonth is complete; the other two
        // logs begin inside the period.
        QTest::newRow("complete logs") << false << 1;
        QTest::newRow("show all") << true << 3;
    }
    void comparisonCountsSkippedLines()
    {
        QFETCH(bool, showAll);
        QFETCH(int, count);
        writeLog(QStringLiteral("crossmonth(http)"), QStringList(logLines("crossmonth")) << "");
        writeLog(QStringLiteral("inmonth(ftp)"), QStringList(logLines("inmonth"))
                                                     << "15 Jun 2026 25:00:00: went on error.");
        writeLog(QStringLiteral("late(smtp)"), QStringList(logLines("late")) << "x");
        StatsOptions options;
        options.compare = true;
        options.period = StatsPeriod::ThreeMonths;
        options.showAll = showAll;
        QStringList report;
        try {
            stats(QLocale::c())
                .comparison(DowntimeStats::listLogEntries(m_folder), options, report);
        } catch (const StatsError &e) {
            QFAIL(qPrintable(e.message()));
        }
        QCOMPARE(report.at(report.size() - 2), footer());
        QCOMPARE(report.last(), DowntimeStats::skippedLinesText(count));
        // The rows are those of the logs without the damaged lines.
        QVERIFY(report.contains(
            "crossmonth               (h)   92     2   0:10  36:30   36:40  1.661"));
        QCOMPARE(
            report.contains("inmonth                  (f)   75*    2   0:45   1:30    2:15  0.125"),
            showAll);
    }

    void missingLog_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::newRow("gone") << "gone(http)";
        QTest::newRow("path") << "../quellmark/x(http)";
        QTest::newRow("folder") << "folder(http)";
    }
    void missingLog()
    {
        QFETCH(QString, entry);
        QVERIFY(QDir().mkpath(m_folder + QStringLiteral("folder(http).log")));
        writeLog(QStringLiteral("x(http)"), logLines("inmonth"));
        QStringList report;
        try {
            stats(QLocale::c()).singleReport(entry, StatsOptions(), report);
            QFAIL("no message");
        } catch (const StatsError &e) {
            QCOMPARE(e.kind(), StatsError::MissingLog);
            QCOMPARE(e.message(),
                     QStringLiteral("The selected file does not exist. Please refresh the list."));
        }
        QVERIFY(report.isEmpty());
    }

    void nothingToDo()
    {
        QStringList report;
        StatsOptions options;
        options.compare = true;
        stats(QLocale::c()).buildReport(options, {}, QString(), report);
        QCOMPARE(report, QStringList({"Nothing to do ... ", QString(35, QLatin1Char('-'))}));
    }

    void listLogEntries()
    {
        for (const char *name :
             {"error.log", "install.log", "Error.LOG", "INSTALL.log", "errors.log", "b(http).log",
              "A(ftp).log", ".hidden(http).log", "upper.LOG", "notes.txt", ".log"})
            QVERIFY(QFile(m_folder + QString::fromLatin1(name)).open(QIODevice::WriteOnly));
        QVERIFY(QDir().mkpath(m_folder + QStringLiteral("folder.log")));
        bool truncated = true;
        QCOMPARE(DowntimeStats::listLogEntries(m_folder, &truncated),
                 QStringList({".hidden(http)", "A(ftp)", "b(http)", "errors"}));
        QVERIFY(!truncated);
    }
};

QTEST_GUILESS_MAIN(TestDowntimeStats)
#include "tst_downtimestats.moc"
