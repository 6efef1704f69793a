// From a monitor's poll to quellmark.prom: each service's figures, the
// program's, what a poll without a connection says, the atomic file, and a
// folder that cannot be written. The endpoint and the real node exporter
// are tried on the running program (tests/app/tst_metrics).

#include "StoreFixture.h"

#include "config/Settings.h"
#include "engine/Monitor.h"
#include "metrics/MetricsExport.h"
#include "metrics/MetricsFile.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QDateTime Now = QDateTime(QDate(2026, 12, 9), QTime(21, 0, 0), Qt::UTC);
const QDateTime CertEnds = QDateTime(QDate(2027, 1, 2), QTime(10, 0, 0), Qt::UTC);

QString readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll())
                                       : QStringLiteral("<missing>");
}
} // namespace

class TestMetricsExport : public QObject {
    Q_OBJECT
private:
    struct Rig {
        StoreFixture fixture;
        bool online = true;
        QStringList services;
        std::unique_ptr<Monitor> monitor;
        std::unique_ptr<MetricsExport> metrics;
        QString folder;

        Rig()
        {
            QDir().mkpath(fixture.context().programFolder);
            Monitor::Overrides fakes;
            fakes.internetConnected = [this] { return online; };
            fakes.watchConnection = false;
            fakes.now = [] { return Now; };
            fakes.probe = [](const ServiceTarget &target, const QString &, const ProbeSettings &,
                             std::function<bool()>) {
                ProbeResult r;
                r.connected = target.host != QLatin1String("refused");
                r.success = target.host.startsWith(QLatin1String("up"));
                r.resultCode = r.success ? QStringLiteral("200") : QStringLiteral("503");
                r.timing.answerUs = r.connected ? 12345 : -1;
                if (target.protocol == QLatin1String("https")) {
                    PeerCertificate c;
                    c.notAfter = CertEnds;
                    c.notBefore = Now.addDays(-30);
                    c.digest = QByteArray(32, 'x');
                    r.certificate = c;
                }
                return r;
            };
            monitor = std::make_unique<Monitor>(fixture.context(), fakes);
            monitor->setServiceListProvider([this] { return services; });
            metrics = std::make_unique<MetricsExport>(monitor.get(), fixture.context(),
                                                      [] { return Now; });
            metrics->setFolderSource([this] { return folder; });
        }
    };

private slots:
    void aPollsFigures()
    {
        Rig rig;
        QTemporaryDir out;
        rig.folder = out.path() + QStringLiteral("/made/on/demand");
        rig.services = {QStringLiteral("HTTP up.example 8080"),
                        QStringLiteral("HTTPS up-tls/path 443"), QStringLiteral("SMTP down 25"),
                        QStringLiteral("FTP refused 21")};
        QVERIFY(rig.metrics->listenOn(QStringLiteral("127.0.0.1:0x"))
                    .contains(QStringLiteral("1 to 65535")));
        rig.monitor->pollNow();
        rig.monitor->pollNow();
        const QString file = rig.folder + QLatin1Char('/') + MetricsFile::fileName();
        const QString text = readFile(file);
        const QStringList lines = text.split(QLatin1Char('\n'));
        const QString up = QStringLiteral(
            "{service=\"HTTP up.example 8080\",type=\"http\",host=\"up.example\",port=\"8080\"}");
        const QString tls = QStringLiteral(
            "{service=\"HTTPS up-tls/path 443\",type=\"https\",host=\"up-tls\",port=\"443\"}");
        const QString down =
            QStringLiteral("{service=\"SMTP down 25\",type=\"smtp\",host=\"down\",port=\"25\"}");
        const QString refused = QStringLiteral(
            "{service=\"FTP refused 21\",type=\"ftp\",host=\"refused\",port=\"21\"}");
        const QString stamp = QString::number(Now.toSecsSinceEpoch()) + QStringLiteral(".000");
        const QStringList expected{
            "quellmark_service_up" + up + " 1",
            "quellmark_service_up" + tls + " 1",
            "quellmark_service_up" + down + " 0",
            "quellmark_service_up" + refused + " 0",
            "quellmark_service_actual_failures" + up + " 0",
            "quellmark_service_actual_failures" + down + " 2",
            "quellmark_service_actual_failures" + refused + " 2",
            "quellmark_service_last_check_timestamp_seconds" + down + " " + stamp,
            "quellmark_service_response_seconds" + up + " 0.012",
            "quellmark_service_response_seconds" + down + " 0.012",
            "quellmark_certificate_expiry_timestamp_seconds" + tls + " " +
                QString::number(CertEnds.toSecsSinceEpoch()) + ".000",
            "quellmark_last_poll_timestamp_seconds " + stamp,
            "quellmark_polls_total 2",
            "quellmark_internet_connected 1",
            "quellmark_build_info{version=\"" + rig.fixture.context().versionText + "\"} 1",
        };
        for (const QString &line : expected)
            QVERIFY2(lines.contains(line),
                     qPrintable(line + QStringLiteral("\n--- in ---\n") + text));
        QVERIFY(!text.contains("quellmark_service_response_seconds" + refused));
        QCOMPARE(text.count(QStringLiteral("quellmark_certificate_expiry_timestamp_seconds{")), 1);
        // Nothing but the file is left in the folder.
        QCOMPARE(QDir(rig.folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{MetricsFile::fileName()});
        QCOMPARE(rig.metrics->text(), text.toUtf8());
    }

    // A service taken off the list leaves the metrics; a poll without a
    // connection says so and keeps the last results.
    void listChangesAndNoConnection()
    {
        Rig rig;
        QTemporaryDir out;
        rig.folder = out.path();
        rig.services = {QStringLiteral("HTTP up-a 80"), QStringLiteral("HTTP up-b 80")};
        rig.monitor->pollNow();
        rig.services.removeFirst();
        rig.online = false;
        rig.monitor->pollNow();
        const QString text = readFile(out.path() + QStringLiteral("/quellmark.prom"));
        QVERIFY(!text.contains(QStringLiteral("up-a")));
        QVERIFY(text.contains(QStringLiteral("quellmark_service_up{service=\"HTTP up-b "
                                             "80\",type=\"http\",host=\"up-b\",port=\"80\"} 1\n")));
        QVERIFY(text.contains(QStringLiteral("\nquellmark_internet_connected 0\n")));
        QVERIFY(text.contains(QStringLiteral("\nquellmark_polls_total 2\n")));
    }

    // No folder: no file. A folder that cannot be made is told once, in the
    // error log and as a status line, and again only after a write worked.
    void folderProblemsAreToldOnce()
    {
        Rig rig;
        QTemporaryDir out;
        rig.services = {QStringLiteral("HTTP up 80")};
        rig.monitor->pollNow();
        QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList());

        QFile blocker(out.path() + QStringLiteral("/file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QSignalSpy problems(rig.metrics.get(), &MetricsExport::problem);
        rig.folder = blocker.fileName() + QStringLiteral("/sub");
        rig.monitor->pollNow();
        rig.monitor->pollNow();
        QCOMPARE(problems.size(), 1);
        QVERIFY(problems.at(0).at(0).toString().contains(rig.folder));
        const QString log = readFile(rig.fixture.context().errorLogPath);
        QCOMPARE(log.count(QStringLiteral("The metrics folder ")), 1);

        rig.folder = out.path();
        rig.monitor->pollNow();
        QVERIFY(QFile::exists(out.path() + QStringLiteral("/quellmark.prom")));
        rig.folder = blocker.fileName() + QStringLiteral("/sub");
        rig.monitor->pollNow();
        QCOMPARE(problems.size(), 2);
    }

    void folderSetting_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("folder");
        QTest::newRow("empty: off") << "  "
                                    << "";
        QTest::newRow("absolute") << "/var/lib/x/../metrics/"
                                  << "/var/lib/metrics";
        QTest::newRow("home") << "~/metrics" << QDir::homePath() + "/metrics";
        QTest::newRow("relative: in the program folder") << "metrics"
                                                         << "/prog/metrics";
    }

    void folderSetting()
    {
        QFETCH(QString, setting);
        QFETCH(QString, folder);
        QCOMPARE(MetricsFile::resolveFolder(setting, QStringLiteral("/prog/")), folder);
    }
};

QTEST_GUILESS_MAIN(TestMetricsExport)
#include "tst_metricsexport.moc"
