// The running program feeding Prometheus: after a poll over three loopback
// services (two up, one down) quellmark.prom is in the metrics folder, its
// own endpoint serves the same text (also while a poll runs), Prometheus's
// checker takes both, and a real node exporter reading the folder serves
// each service's 0 or 1. With QM_METRICS_SAMPLE_DIR set, the file and the
// node exporter's lines are saved there for a look by eye.

#include "AppProcess.h"
#include "FakeServer.h"
#include "NodeExporter.h"
#include "PrivateBus.h"
#include "Promtool.h"
#include "RawHttp.h"
#include "TestSandbox.h"

#include "config/RegistryStore.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString Interface = QStringLiteral("org.kestrin.Quellmark");
const QString Root = QStringLiteral("Software\\Kestrin Software\\Quellmark");

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// service label -> value of quellmark_service_up, from any exposition text
// (labels in any order, as the node exporter sorts them).
QMap<QString, QString> upValues(const QByteArray &text)
{
    QMap<QString, QString> values;
    static const QRegularExpression sample(
        QStringLiteral("^quellmark_service_up\\{(.*)\\} (\\S+)$"));
    static const QRegularExpression service(
        QStringLiteral("(?:^|,)service=\"((?:[^\"\\\\]|\\\\.)*)\""));
    for (const QByteArray &line : text.split('\n')) {
        const QRegularExpressionMatch m = sample.match(QString::fromUtf8(line));
        if (!m.hasMatch())
            continue;
        const QRegularExpressionMatch s = service.match(m.captured(1));
        if (s.hasMatch())
            values.insert(s.captured(1), m.captured(2));
    }
    return values;
}

QByteArray quellmarkLines(const QByteArray &text)
{
    QByteArray lines;
    for (const QByteArray &line : text.split('\n'))
        if (line.contains("quellmark") || line.contains("textfile"))
            lines += line + '\n';
    return lines;
}

void saveSample(const QString &name, const QByteArray &bytes)
{
    const QString dir = qEnvironmentVariable("QM_METRICS_SAMPLE_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    QFile f(dir + QLatin1Char('/') + name);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}
} // namespace

class TestMetrics : public QObject {
    Q_OBJECT
private slots:
    void pollOverThreeServices()
    {
        if (!PrivateBus::available())
            QSKIP("dbus-daemon is not installed (Debian package dbus-daemon); the metrics were not "
                  "tested");
        TestSandbox sandbox;
        PrivateBus bus;
        QVERIFY(bus.start());
        QTemporaryDir folder;
        const QString metricsFolder = folder.path() + QStringLiteral("/textfile");

        FakeServer upA;
        FakeServer upB;
        FakeServer down;
        const auto ok = FakeServer::Scenario()
                            .waitForText("\r\n\r\n")
                            .send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")
                            .close();
        // The failing service answers late, so the poll runs a while.
        const auto late = FakeServer::Scenario()
                              .waitForText("\r\n\r\n")
                              .delay(2500)
                              .send("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n")
                              .close();
        for (FakeServer *server : {&upA, &upB, &down})
            QVERIFY(server->listen());
        upA.setScenario(ok);
        upB.setScenario(ok);
        down.setScenario(late);
        // Quotes and letters beyond ASCII in a name survive every step.
        const QString nameA = QStringLiteral("HTTP 127.0.0.1/\"quoted\"/schön %1").arg(upA.port());
        const QString nameB = QStringLiteral("HTTP 127.0.0.1 %1").arg(upB.port());
        const QString nameDown = QStringLiteral("HTTP 127.0.0.1/down %1").arg(down.port());
        const quint16 endpoint = freePort();
        QVERIFY(endpoint != 0);
        {
            RegistryStore store(sandbox.storePath());
            for (const QString &name : {nameA, nameB, nameDown})
                store.createKey(Root + QStringLiteral("\\Services\\") + name);
            store.setValue(Root, QStringLiteral("MetricsFolder"),
                           RegValue::fromString(metricsFolder));
            store.setValue(Root, QStringLiteral("MetricsListen"),
                           RegValue::fromString(QStringLiteral("127.0.0.1:%1").arg(endpoint)));
        }

        AppProcess app;
        QVERIFY(app.start());
        QDBusConnection connection =
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("metrics"));
        QTRY_VERIFY(connection.interface()->isServiceRegistered(Interface).value());
        QDBusInterface remote(Interface, QStringLiteral("/"), Interface, connection);

        // Before the first poll: the program's figures, no file yet.
        QVERIFY(RawHttp::get(endpoint, "/metrics").contains("\nquellmark_polls_total 0\n"));
        QVERIFY(!QFile::exists(metricsFolder + QStringLiteral("/quellmark.prom")));
        QCOMPARE(RawHttp::exchange(endpoint, "POST /metrics HTTP/1.1\r\n\r\n").statusLine(),
                 QByteArray("HTTP/1.1 405 Method Not Allowed"));

        QVERIFY(remote.call(QStringLiteral("PollNow")).type() == QDBusMessage::ReplyMessage);
        QTRY_VERIFY_WITH_TIMEOUT(remote.property("Polling").toBool(), 10000);
        // While the poll waits on the late service the endpoint answers, with
        // what it had before the poll: this poll's metrics come at its end.
        QVERIFY(RawHttp::get(endpoint, "/metrics", 5000).contains("\nquellmark_polls_total 0\n"));
        QTRY_COMPARE_WITH_TIMEOUT(remote.property("PollsHandled").toInt(), 1, 15000);

        QFile file(metricsFolder + QStringLiteral("/quellmark.prom"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray written = file.readAll();
        const QByteArray served = RawHttp::get(endpoint, "/metrics");
        QCOMPARE(served, written);
        const QMap<QString, QString> expected{
            {QStringLiteral("HTTP 127.0.0.1/\\\"quoted\\\"/schön %1").arg(upA.port()), "1"},
            {nameB, "1"},
            {nameDown, "0"}};
        QCOMPARE(upValues(written), expected);
        QVERIFY(written.contains("\nquellmark_polls_total 1\n"));
        saveSample(QStringLiteral("quellmark.prom"), written);
        if (Promtool::available()) {
            QCOMPARE(Promtool::checkMetrics(written), QString());
            QCOMPARE(Promtool::checkMetrics(served), QString());
        } else {
            qWarning("promtool is not installed (Debian package prometheus); the text was not "
                     "checked by it");
        }

        if (NodeExporter::available()) {
            NodeExporter exporter;
            QVERIFY2(exporter.start(metricsFolder), qPrintable(exporter.error()));
            const QByteArray scraped = exporter.scrape();
            QVERIFY2(scraped.contains("\nnode_textfile_scrape_error 0\n"),
                     quellmarkLines(scraped).constData());
            QCOMPARE(upValues(scraped), expected);
            saveSample(QStringLiteral("node-exporter-scrape.txt"), quellmarkLines(scraped));
        } else {
            qWarning(
                "prometheus-node-exporter is not installed; the textfile collector was not tried");
        }

        QVERIFY(remote.call(QStringLiteral("Exit")).type() == QDBusMessage::ReplyMessage);
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitCode(), 0);
        QDBusConnection::disconnectFromBus(QStringLiteral("metrics"));
    }
};

QTEST_GUILESS_MAIN(TestMetrics)
#include "tst_metrics.moc"
