// An https service's log, alert address and comparison row follow the http
// rules with the protocol "https".

#include "support/TestSandbox.h"

#include "alerts/MessageTemplate.h"
#include "engine/ServiceLog.h"
#include "stats/DowntimeStats.h"

#include <QDir>
#include <QFile>
#include <QTest>

class TestHttpsLogs : public QObject {
    Q_OBJECT

    std::unique_ptr<TestSandbox> m_sandbox;
    QString m_folder;

private slots:
    void init()
    {
        m_sandbox = std::make_unique<TestSandbox>();
        m_folder = m_sandbox->programFolder();
        QVERIFY(QDir().mkpath(m_folder));
    }
    void cleanup() { m_sandbox.reset(); }

    void names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("logFile");
        QTest::addColumn<QString>("siteUrl");
        QTest::newRow("default port") << "HTTPS securehost 443"
                                      << "securehost(https).log"
                                      << "https://securehost:443";
        QTest::newRow("path and port") << "HTTPS securehost/a/b/ 8443"
                                       << "securehost_a_b(https).log"
                                       << "https://securehost:8443/a/b/";
        QTest::newRow("no port") << "HTTPS securehost/x"
                                 << "securehost_x(https).log"
                                 << "https://securehost/x";
    }
    void names()
    {
        QFETCH(QString, name);
        QFETCH(QString, logFile);
        QFETCH(QString, siteUrl);
        QCOMPARE(ServiceLog::logPath(m_folder, name), m_folder + logFile);
        QCOMPARE(BuildSiteUrl(name), siteUrl);
    }

    // "(hs)" marks an https row; the figures stay in the columns of the
    // other rows.
    void comparisonLabel()
    {
        const QStringList entries = {"plain(http)", "secure(https)",
                                     "a-very-long-host-name.example.org(https)"};
        for (const QString &entry : entries) {
            QFile file(m_folder + entry + QStringLiteral(".log"));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QDateTime now(QDate(2026, 6, 15), QTime(12, 0));
        const DowntimeStats stats(m_folder, QLocale::c(), [now] { return now; });
        StatsOptions options;
        options.compare = true;
        QStringList report;
        stats.comparison(DowntimeStats::listLogEntries(m_folder), options, report);

        const QString figures = QStringLiteral("    0     0   0:00   0:00    0:00  0.000");
        QVERIFY(report.contains(QStringLiteral("plain                    (h)") + figures));
        QVERIFY(report.contains(QStringLiteral("secure                  (hs)") + figures));
        QVERIFY(report.contains(QStringLiteral("a-very-long-host-name.ex(hs)") + figures));
    }
};

QTEST_GUILESS_MAIN(TestHttpsLogs)
#include "tst_httpslogs.moc"
