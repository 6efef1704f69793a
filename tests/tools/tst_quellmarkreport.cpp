#include "stats/DowntimeStats.h"
#include "support/ReportReaders.h"
#include "support/TestSandbox.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <algorithm>
#include <memory>

Q_DECLARE_METATYPE(StatsPeriod)

// Runs the real quellmark-report; the child inherits the sandbox's XDG
// folders, so it reads the sandbox's program folder.
class TestQuellmarkReport : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSandbox> m_sandbox;
    QString m_tool;
    QString m_folder;

    struct Result {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };

    Result run(const QStringList &args, const QString &locale = QStringLiteral("C")) const
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), locale);
        process.setProcessEnvironment(env);
        process.start(m_tool, args);
        Result result;
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = process.readAllStandardOutput();
        result.err = process.readAllStandardError();
        return result;
    }

    void writeLog(const QString &entry, const QStringList &lines) const
    {
        QFile file(m_folder + entry + QStringLiteral(".log"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        for (const QString &line : lines)
            file.write(line.toUtf8() + "\r\n");
    }

    static QByteArray printed(const QStringList &report)
    {
        QByteArray bytes;
        for (const QString &line : report)
            bytes += line.toUtf8() + '\n';
        return bytes;
    }

    // The tool's output must be the engine's report on the same logs. Both
    // read the clock, so a second that ticks between them gets a new try.
    void sameAsEngine(const QStringList &args, const StatsOptions &options, const QString &entry,
                      const QLocale &locale = QLocale::c(),
                      const QString &childLocale = QStringLiteral("C"))
    {
        const DowntimeStats stats(m_folder, locale);
        QByteArray wanted;
        Result result;
        for (int attempt = 0; attempt < 3; ++attempt) {
            QStringList before;
            if (options.compare)
                stats.buildReport(options, DowntimeStats::listLogEntries(m_folder), QString(),
                                  before);
            else
                stats.singleReport(entry, options, before);
            result = run(args, childLocale);
            wanted = printed(before);
            if (result.out == wanted)
                break;
        }
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.err.isEmpty());
        QCOMPARE(QString::fromUtf8(result.out), QString::fromUtf8(wanted));
    }

private slots:
    void initTestCase()
    {
        m_tool = qEnvironmentVariable("QUELLMARK_REPORT");
        if (m_tool.isEmpty() || !QFile::exists(m_tool))
            QSKIP("QUELLMARK_REPORT does not name the tool");
    }

    void init()
    {
        m_sandbox = std::make_unique<TestSandbox>();
        m_folder = m_sandbox->programFolder();
        QVERIFY(QDir().mkpath(m_folder));
        writeLog(QStringLiteral("webhost(http)"),
                 {"1 Mar 2024 08:00:00:  Log start", "3 Mar 2024 10:00:00: went on error.",
                  "3 Mar 2024 10:30:00: came off error.", "31 Mar 2024 23:50:00: went on error.",
                  "1 Apr 2024 00:20:00: came off error."});
        writeLog(QStringLiteral("mail(smtp)"), {"10 Mar 2024 12:00:00:  Log start"});
        writeLog(QStringLiteral("error"), {"1 Mar 2024 08:00:00: no internet connection"});
    }
    void cleanup() { m_sandbox.reset(); }

    void help()
    {
        const Result r = run({QStringLiteral("--help")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.startsWith("Usage: quellmark-report"));
        QVERIFY(r.out.contains(m_folder.toUtf8()));
    }

    void list()
    {
        const Result r = run({QStringLiteral("--list")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("mail(smtp)\nwebhost(http)\n"));
    }

    void singleReport_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<StatsPeriod>("period");
        QTest::addColumn<bool>("allDowntimes");
        QTest::newRow("default period") << QStringList() << StatsPeriod::AllLog << false;
        QTest::newRow("all") << QStringList{"--period", "all"} << StatsPeriod::AllLog << false;
        QTest::newRow("1w") << QStringList{"--period", "1w"} << StatsPeriod::OneWeek << false;
        QTest::newRow("2w") << QStringList{"--period=2w"} << StatsPeriod::TwoWeeks << false;
        QTest::newRow("1m") << QStringList{"--period", "1m"} << StatsPeriod::OneMonth << false;
        QTest::newRow("3m") << QStringList{"--period", "3m"} << StatsPeriod::ThreeMonths << false;
        QTest::newRow("6m") << QStringList{"--period", "6m"} << StatsPeriod::SixMonths << false;
        QTest::newRow("1y, all downtimes")
            << QStringList{"--period", "1y", "--all-downtimes"} << StatsPeriod::OneYear << true;
        QTest::newRow("text format") << QStringList{"--format", "text"} << StatsPeriod::AllLog
                                     << false;
    }
    void singleReport()
    {
        QFETCH(QStringList, args);
        QFETCH(StatsPeriod, period);
        QFETCH(bool, allDowntimes);
        StatsOptions options;
        options.period = period;
        options.allDowntimes = allDowntimes;
        sameAsEngine(args << QStringLiteral("webhost(http)"), options,
                     QStringLiteral("webhost(http)"));
    }

    // Months gone by do not depend on the clock.
    void reportContent()
    {
        const Result r = run({QStringLiteral("webhost(http)")});
        QCOMPARE(r.exitCode, 0);
        const QStringList lines = QString::fromUtf8(r.out).split(QLatin1Char('\n'));
        QCOMPARE(lines.first(), QStringLiteral("WEBHOST(HTTP) DOWN TIME STATS:"));
        QCOMPARE(lines.at(2), QStringLiteral("Summary from: 1 Mar 2024 08:00:00"));
        QVERIFY(lines.contains(QStringLiteral("2024/03     1   0:30   0.068 *")));
        QVERIFY(lines.contains(QStringLiteral("2024/04     1   0:30   0.069")));
        QVERIFY(lines.contains(QStringLiteral("31 Mar 2024 23:50 - 00:20 =  0:30")));
        QVERIFY(r.out.endsWith((DowntimeStats::footerText() + QLatin1Char('\n')).toUtf8()));
    }

    void comparison_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<StatsPeriod>("period");
        QTest::addColumn<bool>("showAll");
        QTest::newRow("all log") << QStringList{"--compare"} << StatsPeriod::AllLog << false;
        QTest::newRow("1 month, show all")
            << QStringList{"--show-all", "--period", "1m", "--compare"} << StatsPeriod::OneMonth
            << true;
        QTest::newRow("1 year") << QStringList{"--compare", "--period", "1y"}
                                << StatsPeriod::OneYear << false;
        QTest::newRow("text format") << QStringList{"--compare", "--format=text"}
                                     << StatsPeriod::AllLog << false;
    }
    void comparison()
    {
        QFETCH(QStringList, args);
        QFETCH(StatsPeriod, period);
        QFETCH(bool, showAll);
        StatsOptions options;
        options.compare = true;
        options.period = period;
        options.showAll = showAll;
        sameAsEngine(args, options, QString());
    }

    void followsTheLocale()
    {
        writeLog(QStringLiteral("gb(ftp)"),
                 {"01/03/2024 08:00:00:  Log start", "03/03/2024 10:00:00: went on error.",
                  "03/03/2024 10:30:00: came off error."});
        StatsOptions options;
        sameAsEngine({QStringLiteral("gb(ftp)")}, options, QStringLiteral("gb(ftp)"),
                     QLocale(QStringLiteral("en_GB")), QStringLiteral("en_GB.UTF-8"));
    }

    void nothingToCompare()
    {
        for (const QString &name : QDir(m_folder).entryList(QDir::Files))
            QVERIFY(QFile::remove(m_folder + name));
        const Result r = run({QStringLiteral("--compare")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("Nothing to do ... \n") + QByteArray(35, '-') + '\n');
    }

    void missingLog()
    {
        const Result r = run({QStringLiteral("gone(http)")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.out.isEmpty());
        QCOMPARE(r.err, QByteArray("quellmark-report: The selected file does not exist. "
                                   "Please refresh the list.\n"));
    }

    // A blank line after the first outage and a record a crash cut short
    // are passed over: the whole report is printed, with their count last.
    void damagedLinesAreSkipped()
    {
        writeLog(QStringLiteral("bad(pop3)"),
                 {"1 Mar 2024 08:00:00:  Log start", "3 Mar 2024 10:00:00: went on error.",
                  "3 Mar 2024 10:30:00: came off error.", "",
                  "31 Mar 2024 23:50:00: went on error.", "1 Apr 2024 00:20:00: came off error.",
                  "2 Apr 2024 0"});
        const Result r = run({QStringLiteral("bad(pop3)")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.err.isEmpty());
        const QStringList lines = QString::fromUtf8(r.out).split(QLatin1Char('\n'));
        QVERIFY(lines.contains(QStringLiteral("Fails = 2")));
        QVERIFY(lines.contains(QStringLiteral("2024/04     1   0:30   0.069")));
        QVERIFY(lines.contains(QStringLiteral("31 Mar 2024 23:50 - 00:20 =  0:30")));
        QCOMPARE(lines.mid(lines.size() - 3),
                 (QStringList{DowntimeStats::footerText(),
                              "Lines skipped (not a record or unreadable time stamp): 2", ""}));
    }

    // Every format of every report, read back by other tools; a log whose
    // name needs quoting comes through each of them whole.
    void formats_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("format");
        const QString tricky = QStringLiteral("we \"b\",s\\\u00f6\u20ac(http)");
        for (const char *format : {"csv", "json"}) {
            const QString f = QString::fromLatin1(format);
            QTest::addRow("single %s", format) << QStringList{"--format", f, tricky} << f;
            QTest::addRow("compare %s", format)
                << QStringList{"--format=" + f, "--compare", "--period", "1y", "--show-all"} << f;
            QTest::addRow("all outages %s", format) << QStringList{"--outages", "--format", f} << f;
        }
        QTest::newRow("outages of one log, text")
            << QStringList{"--outages", tricky} << QStringLiteral("text");
        QTest::newRow("outages of one log, json")
            << QStringList{"--outages", "--format", "json", tricky} << QStringLiteral("json");
    }
    void formats()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, format);
        const QString tricky = QStringLiteral("we \"b\",s\\\u00f6\u20ac(http)");
        writeLog(tricky, {"1 Mar 2024 08:00:00:  Log start", "3 Mar 2024 10:00:00: went on error.",
                          "3 Mar 2024 10:30:00: came off error."});
        const Result r = run(args);
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QVERIFY(r.err.isEmpty());
        if (format == QLatin1String("text")) {
            QCOMPARE(QString::fromUtf8(r.out),
                     tricky + QStringLiteral(": 3 Mar 2024 10:00:00 - 3 Mar 2024 10:30:00 = 1800 s\n"));
        } else if (format == QLatin1String("json")) {
            const QString errors = ReportReaders::schemaErrors(r.out);
            QVERIFY2(errors.isEmpty(), qPrintable(errors));
            QVERIFY(QString::fromUtf8(r.out).contains(
                QString::fromUtf8(QJsonDocument(QJsonArray{tricky}).toJson(QJsonDocument::Compact))
                    .mid(1).chopped(1)));
        } else {
            QString error;
            const auto rows = ReportReaders::parseCsv(r.out, &error);
            QVERIFY2(rows, qPrintable(error));
            const qsizetype column = rows->first().indexOf(QStringLiteral("service"));
            QVERIFY(column >= 0);
            QVERIFY(std::any_of(rows->cbegin() + 1, rows->cend(),
                                [&](const QStringList &row) { return row.value(column) == tricky; }));
        }
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("nothing") << QStringList();
        QTest::newRow("two entries") << QStringList{"a(http)", "b(http)"};
        QTest::newRow("unknown option") << QStringList{"--monthly", "a(http)"};
        QTest::newRow("unknown period") << QStringList{"--period", "2m", "a(http)"};
        QTest::newRow("period without value") << QStringList{"a(http)", "--period"};
        QTest::newRow("show all without compare") << QStringList{"--show-all", "a(http)"};
        QTest::newRow("entry with compare") << QStringList{"--compare", "a(http)"};
        QTest::newRow("all downtimes with compare") << QStringList{"--compare", "--all-downtimes"};
        QTest::newRow("list with entry") << QStringList{"--list", "a(http)"};
        QTest::newRow("list with format") << QStringList{"--list", "--format", "csv"};
        QTest::newRow("unknown format") << QStringList{"--format", "xml", "a(http)"};
        QTest::newRow("format without value") << QStringList{"a(http)", "--format"};
        QTest::newRow("outages with compare") << QStringList{"--outages", "--compare"};
        QTest::newRow("outages of two entries") << QStringList{"--outages", "a(http)", "b(http)"};
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        const Result r = run(args);
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.out.isEmpty());
        QVERIFY(r.err.startsWith("quellmark-report: "));
    }
};

QTEST_GUILESS_MAIN(TestQuellmarkReport)
#include "tst_quellmarkreport.moc"
