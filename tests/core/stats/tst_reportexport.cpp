// The CSV and JSON exports of the down-time reports, read back by tools that
// share no code with the writer, over a log whose name needs quoting and an
// outage across the change to summer time.

#include "ReportReaders.h"
#include "TestSandbox.h"

#include "stats/DowntimeStats.h"
#include "stats/ReportExport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <ctime>

namespace {

// Quote, comma, backslash, blank and letters beyond ASCII.
const QString Tricky = QStringLiteral("we \"b\",s\\\u00f6\u20ac \u6771(http)");

} // namespace

class TestReportExport : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSandbox> m_sandbox;
    QString m_folder;

    void writeLog(const QString &entry, const QStringList &lines) const
    {
        QFile file(m_folder + entry + QStringLiteral(".log"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        for (const QString &line : lines)
            file.write(line.toUtf8() + "\r\n");
    }

    DowntimeStats stats() const
    {
        return DowntimeStats(m_folder, QLocale::c(),
                             [] { return QDateTime(QDate(2024, 4, 2), QTime(9, 10)); });
    }

    QByteArray exported(const QString &kind, bool json) const
    {
        const QStringList entries = DowntimeStats::listLogEntries(m_folder);
        StatsOptions options;
        options.allDowntimes = true;
        if (kind == QLatin1String("single")) {
            const SingleReportData data = stats().singleReportData(Tricky, options);
            return json ? ReportExport::json(data) : ReportExport::csv(data);
        }
        if (kind == QLatin1String("comparison")) {
            options.compare = true;
            const ComparisonData data = stats().comparisonData(entries, options);
            return json ? ReportExport::json(data) : ReportExport::csv(data);
        }
        const OutageListData data = stats().outageList(entries, StatsPeriod::AllLog);
        return json ? ReportExport::json(data) : ReportExport::csv(data);
    }

    // Every "service" value anywhere in a JSON document.
    static void collectServices(const QJsonValue &value, QStringList &found)
    {
        if (value.isArray()) {
            for (const QJsonValue &item : value.toArray())
                collectServices(item, found);
        } else if (value.isObject()) {
            const QJsonObject object = value.toObject();
            for (auto it = object.begin(); it != object.end(); ++it) {
                if (it.key() == QLatin1String("service"))
                    found << it.value().toString();
                else
                    collectServices(it.value(), found);
            }
        }
    }

private slots:
    void initTestCase()
    {
        // Central European time with its change to summer time on 31 March 2024.
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }

    void init()
    {
        m_sandbox = std::make_unique<TestSandbox>();
        m_folder = m_sandbox->programFolder();
        QVERIFY(QDir().mkpath(m_folder));
        writeLog(Tricky,
                 {"1 Mar 2024 08:00:00:  Log start", "3 Mar 2024 10:00:00: went on error.",
                  "3 Mar 2024 10:30:00: came off error.", "31 Mar 2024 01:50:00: went on error.",
                  "31 Mar 2024 03:20:00: came off error.", "2 Apr 2024 09:00:00: went on error."});
        writeLog(QStringLiteral("mail(smtp)"), {"10 Mar 2024 12:00:00:  Log start"});
    }
    void cleanup() { m_sandbox.reset(); }

    void csvField_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("written");
        QTest::newRow("plain") << "webhost(http)"
                               << "webhost(http)";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("comma") << "a,b"
                               << "\"a,b\"";
        QTest::newRow("quotes doubled") << "say \"hi\""
                                        << "\"say \"\"hi\"\"\"";
        QTest::newRow("line feed") << "a\nb"
                                   << "\"a\nb\"";
        QTest::newRow("carriage return") << "a\rb"
                                         << "\"a\rb\"";
        QTest::newRow("backslash and umlaut stay bare") << "a\\\u00f6"
                                                        << "a\\\u00f6";
    }
    void csvField()
    {
        QFETCH(QString, field);
        QFETCH(QString, written);
        QCOMPARE(ReportExport::csvField(field), written);
    }

    void isoTime_data()
    {
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QString>("text");
        QTest::newRow("winter") << QDateTime(QDate(2024, 1, 15), QTime(12, 0, 5))
                                << "2024-01-15T12:00:05+01:00";
        QTest::newRow("summer") << QDateTime(QDate(2024, 7, 1), QTime(0, 0))
                                << "2024-07-01T00:00:00+02:00";
        QTest::newRow("utc") << QDateTime(QDate(2024, 7, 1), QTime(6, 30), Qt::UTC)
                             << "2024-07-01T06:30:00+00:00";
        QTest::newRow("behind utc")
            << QDateTime(QDate(2024, 7, 1), QTime(6, 30), Qt::OffsetFromUTC, -(3 * 3600 + 1800))
            << "2024-07-01T06:30:00-03:30";
    }
    void isoTime()
    {
        QFETCH(QDateTime, when);
        QFETCH(QString, text);
        QCOMPARE(ReportExport::isoTime(when), text);
    }

    // Oldest first; the outage across the change to summer time lasted 30
    // minutes though the wall clock moved 90, and the open one runs to now.
    void outageFigures_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<qint64>("minutes");
        QTest::addColumn<bool>("open");
        QTest::newRow("winter") << 0 << "2024-03-03T10:00:00+01:00"
                                << "2024-03-03T10:30:00+01:00" << qint64(1800) << qint64(30)
                                << false;
        QTest::newRow("clocks forward")
            << 1 << "2024-03-31T01:50:00+01:00"
            << "2024-03-31T03:20:00+02:00" << qint64(1800) << qint64(90) << false;
        QTest::newRow("still open")
            << 2 << "2024-04-02T09:00:00+02:00"
            << "2024-04-02T09:10:00+02:00" << qint64(600) << qint64(10) << true;
    }
    void outageFigures()
    {
        QFETCH(int, index);
        QFETCH(QString, start);
        QFETCH(QString, end);
        QFETCH(qint64, seconds);
        QFETCH(qint64, minutes);
        QFETCH(bool, open);
        const OutageListData data = stats().outageList({Tricky}, StatsPeriod::AllLog);
        QCOMPARE(int(data.outages.size()), 3);
        const Outage &outage = data.outages.at(size_t(index));
        QCOMPARE(outage.entry, Tricky);
        QCOMPARE(ReportExport::isoTime(outage.start), start);
        QCOMPARE(ReportExport::isoTime(outage.end), end);
        QCOMPARE(outage.seconds, seconds);
        QCOMPARE(outage.minutes, minutes);
        QCOMPARE(outage.open, open);
    }

    // The figures are the text report's: the same monthly rows and fails.
    void singleFiguresMatchTheText()
    {
        StatsOptions options;
        QStringList text;
        stats().singleReport(Tricky, options, text);
        const SingleReportData data = stats().singleReportData(Tricky, options);
        QVERIFY(text.contains(QStringLiteral("Fails = %1").arg(data.fails)));
        const qsizetype first = text.indexOf(QStringLiteral("        Fails   h:mm     %  ")) + 1;
        QVERIFY(first > 0);
        QCOMPARE(qsizetype(data.months.size()),
                 text.indexOf(QString(35, QLatin1Char('_')), first) - first);
        for (size_t i = 0; i < data.months.size(); ++i) {
            const MonthTotal &m = data.months.at(i);
            const QString row = text.at(first + qsizetype(i));
            QVERIFY2(row.startsWith(QStringLiteral("%1/%2 %3")
                                        .arg(m.year)
                                        .arg(m.month, 2, 10, QLatin1Char('0'))
                                        .arg(m.fails, 5)),
                     qPrintable(row));
            QCOMPARE(row.endsWith(QLatin1String(" *")), m.incomplete);
        }
        // Listed newest first, as the text lists them.
        QCOMPARE(int(data.outages.size()), 3);
        QVERIFY(data.outages.front().open);
    }

    void exportsReadBack_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("json");
        for (const char *kind : {"single", "comparison", "outages"}) {
            QTest::addRow("%s csv", kind) << QString::fromLatin1(kind) << false;
            QTest::addRow("%s json", kind) << QString::fromLatin1(kind) << true;
        }
    }
    void exportsReadBack()
    {
        QFETCH(QString, kind);
        QFETCH(bool, json);
        const QByteArray bytes = exported(kind, json);
        if (json) {
            const QString errors = ReportReaders::schemaErrors(bytes);
            QVERIFY2(errors.isEmpty(), qPrintable(errors));
            const QJsonObject document = QJsonDocument::fromJson(bytes).object();
            const QString wantedKind =
                kind == QLatin1String("single") ? QStringLiteral("single_report") : kind;
            QCOMPARE(document.value(QLatin1String("kind")).toString(), wantedKind);
            QStringList services;
            collectServices(document, services);
            QVERIFY(services.contains(Tricky));
            return;
        }
        // Every line ends in CR LF.
        QCOMPARE(bytes.count("\r\n"), bytes.count('\n'));
        QVERIFY(bytes.endsWith("\r\n"));
        QString error;
        const auto rows = ReportReaders::parseCsv(bytes, &error);
        QVERIFY2(rows, qPrintable(error));
        QVERIFY(rows->size() >= 2);
        const QStringList header = rows->first();
        const qsizetype service = header.indexOf(QStringLiteral("service"));
        QVERIFY(service >= 0);
        bool found = false;
        for (const QStringList &row : rows->mid(1)) {
            QCOMPARE(row.size(), header.size());
            found = found || row.at(service) == Tricky;
        }
        QVERIFY(found);
    }
};

QTEST_GUILESS_MAIN(TestReportExport)
#include "tst_reportexport.moc"
