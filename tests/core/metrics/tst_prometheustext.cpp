// The metrics text: what each service and the program contribute, what is
// left out while unknown, label escaping, and Prometheus's own checker (which
// also holds the families' grouping and their HELP and TYPE lines).

#include "Promtool.h"

#include "metrics/PrometheusText.h"

#include <QTest>

Q_DECLARE_METATYPE(ServiceMetrics)
Q_DECLARE_METATYPE(MetricsSnapshot)

namespace {
ServiceMetrics service(const QString &name, const QString &type, const QString &host, int port)
{
    ServiceMetrics s;
    s.service = name;
    s.type = type;
    s.host = host;
    s.port = port;
    return s;
}

} // namespace

class TestPrometheusText : public QObject {
    Q_OBJECT
private slots:
    void services_data()
    {
        QTest::addColumn<ServiceMetrics>("metrics");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");

        const QString labels =
            QStringLiteral("{service=\"HTTP web 80\",type=\"http\",host=\"web\",port=\"80\"}");
        ServiceMetrics fresh = service(QStringLiteral("HTTP web 80"), "http", "web", 80);
        fresh.actualFailures = 2;
        QTest::newRow("not checked yet: the stored count alone")
            << fresh << QStringList{"quellmark_service_actual_failures" + labels + " 2"}
            << QStringList{"quellmark_service_up", "quellmark_service_last_check_timestamp_seconds",
                           "quellmark_service_response_seconds",
                           "quellmark_certificate_expiry_timestamp_seconds"};

        ServiceMetrics up = fresh;
        up.actualFailures = 0;
        up.up = true;
        up.lastCheckMs = 1765312345007;
        up.responseMs = 42;
        QTest::newRow("up, answered")
            << up
            << QStringList{"quellmark_service_up" + labels + " 1",
                           "quellmark_service_actual_failures" + labels + " 0",
                           "quellmark_service_last_check_timestamp_seconds" + labels +
                               " 1765312345.007",
                           "quellmark_service_response_seconds" + labels + " 0.042"}
            << QStringList{"quellmark_certificate_expiry_timestamp_seconds"};

        ServiceMetrics down = service(QStringLiteral("SMTP mail 2525"), "smtp", "mail", 2525);
        down.up = false;
        down.actualFailures = 3;
        down.lastCheckMs = 1765312345000;
        QTest::newRow("down, no answer: no response time")
            << down
            << QStringList{"quellmark_service_up{service=\"SMTP mail "
                           "2525\",type=\"smtp\",host=\"mail\",port=\"2525\"} 0",
                           "quellmark_service_actual_failures{service=\"SMTP mail "
                           "2525\",type=\"smtp\",host=\"mail\",port=\"2525\"} 3"}
            << QStringList{"quellmark_service_response_seconds"};

        ServiceMetrics tls = service(QStringLiteral("HTTPS secure/x 443"), "https", "secure", 443);
        tls.up = true;
        tls.responseMs = 1500;
        tls.certificateExpiryMs = 1767225600000;
        QTest::newRow("https with its certificate")
            << tls
            << QStringList{"quellmark_certificate_expiry_timestamp_seconds{service=\"HTTPS "
                           "secure/x 443\",type=\"https\",host=\"secure\",port=\"443\"} "
                           "1767225600.000",
                           "quellmark_service_response_seconds{service=\"HTTPS secure/x "
                           "443\",type=\"https\",host=\"secure\",port=\"443\"} 1.500",
                           "# TYPE quellmark_certificate_expiry_timestamp_seconds gauge"}
            << QStringList{};
    }

    void services()
    {
        QFETCH(ServiceMetrics, metrics);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        MetricsSnapshot snapshot;
        snapshot.version = QStringLiteral("1.2.3.4");
        snapshot.services << metrics;
        const QByteArray bytes = PrometheusText::format(snapshot);
        const QString text = QString::fromUtf8(bytes);
        const QStringList lines = text.split(QLatin1Char('\n'));
        for (const QString &line : present)
            QVERIFY2(lines.contains(line),
                     qPrintable(line + QStringLiteral("\n--- in ---\n") + text));
        for (const QString &name : absent)
            QVERIFY2(!text.contains(name), qPrintable(name));
        QVERIFY(bytes.endsWith('\n'));
    }

    void program_data()
    {
        QTest::addColumn<MetricsSnapshot>("snapshot");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        MetricsSnapshot start;
        start.version = QStringLiteral("1.0.0.1");
        QTest::newRow("before the first poll")
            << start
            << QStringList{"# TYPE quellmark_polls_total counter", "quellmark_polls_total 0",
                           "quellmark_build_info{version=\"1.0.0.1\"} 1",
                           "# TYPE quellmark_build_info gauge"}
            << QStringList{"quellmark_last_poll_timestamp_seconds", "quellmark_internet_connected",
                           "quellmark_service_"};
        MetricsSnapshot polled = start;
        polled.pollsTotal = 7;
        polled.lastPollMs = 1765312345999;
        polled.internetConnected = false;
        QTest::newRow("after a poll without a connection")
            << polled
            << QStringList{"quellmark_polls_total 7",
                           "quellmark_last_poll_timestamp_seconds 1765312345.999",
                           "quellmark_internet_connected 0",
                           "# HELP quellmark_internet_connected "
                           "1 when the last poll found an internet connection, 0 when not."}
            << QStringList{};
    }

    void program()
    {
        QFETCH(MetricsSnapshot, snapshot);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        const QByteArray bytes = PrometheusText::format(snapshot);
        const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
        for (const QString &line : present)
            QVERIFY2(lines.contains(line), qPrintable(line + QStringLiteral("\n--- in ---\n") +
                                                      QString::fromUtf8(bytes)));
        for (const QString &name : absent)
            QVERIFY2(!bytes.contains(name.toUtf8()), qPrintable(name));
    }

    void labelEscaping_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("escaped");
        QTest::newRow("plain") << "HTTP web 80"
                               << "HTTP web 80";
        QTest::newRow("double quote") << "HTTP a\"b 80"
                                      << "HTTP a\\\"b 80";
        QTest::newRow("backslash") << "HTTP a\\b 80"
                                   << "HTTP a\\\\b 80";
        QTest::newRow("backslash before quote") << "\\\""
                                                << "\\\\\\\"";
        QTest::newRow("line feed") << "a\nb"
                                   << "a\\nb";
        QTest::newRow("non-ASCII kept as it is") << "HTTP bücher.example/日本 80"
                                                 << "HTTP bücher.example/日本 80";
        QTest::newRow("tab and carriage return kept") << "a\tb\rc"
                                                      << "a\tb\rc";
    }

    void labelEscaping()
    {
        QFETCH(QString, value);
        QFETCH(QString, escaped);
        QCOMPARE(PrometheusText::escapeLabelValue(value), escaped);
    }

    // Prometheus's checker reads every family, the awkward names included,
    // and finds nothing to complain about.
    void promtoolAcceptsTheText()
    {
        if (!Promtool::available())
            QSKIP("promtool is not installed (Debian package prometheus); the text was not checked "
                  "by it");
        MetricsSnapshot snapshot;
        snapshot.version = QStringLiteral("1.0.0.\"1\\");
        snapshot.pollsTotal = 3;
        snapshot.lastPollMs = 1765312345123;
        snapshot.internetConnected = true;
        ServiceMetrics a = service(QStringLiteral("HTTP 127.0.0.1/q\"uote\\back/schön 8080"),
                                   "http", "127.0.0.1", 8080);
        a.up = true;
        a.actualFailures = 0;
        a.lastCheckMs = 1765312345000;
        a.responseMs = 3;
        ServiceMetrics b = service(QStringLiteral("HTTPS line\nbreak 443"), "https", "line", 443);
        b.up = false;
        b.actualFailures = 12;
        b.lastCheckMs = 1765312345001;
        b.certificateExpiryMs = 1767225600000;
        ServiceMetrics c = service(QStringLiteral("FTP files 21"), "ftp", "files", 21);
        c.actualFailures = 0;
        snapshot.services << a << b << c;
        const QByteArray text = PrometheusText::format(snapshot);
        QCOMPARE(Promtool::checkMetrics(text), QString());
        QVERIFY(text.contains("service=\"HTTP 127.0.0.1/q\\\"uote\\\\back/schön 8080\""));
        QVERIFY(text.contains("service=\"HTTPS line\\nbreak 443\""));
    }
};

QTEST_GUILESS_MAIN(TestPrometheusText)
#include "tst_prometheustext.moc"
