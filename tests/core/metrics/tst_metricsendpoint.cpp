// The /metrics endpoint: which addresses it takes, what it answers to each
// request, and that it lets no client hold a connection.

#include "RawHttp.h"

#include "metrics/ListenAddress.h"
#include "metrics/MetricsListener.h"
#include "metrics/PrometheusText.h"

#include <QElapsedTimer>
#include <QTest>

class TestMetricsEndpoint : public QObject {
    Q_OBJECT
private slots:
    void addresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("address"); // as text(); empty for off or refused
        QTest::addColumn<QString>("error");   // part of the message; empty when none
        QTest::newRow("empty is off") << ""
                                      << ""
                                      << "";
        QTest::newRow("blanks are off") << "   "
                                        << ""
                                        << "";
        QTest::newRow("port alone: loopback") << "9101"
                                              << "127.0.0.1:9101"
                                              << "";
        QTest::newRow("IPv4") << "127.0.0.1:9101"
                              << "127.0.0.1:9101"
                              << "";
        QTest::newRow("localhost, not looked up") << "LocalHost:9101"
                                                  << "127.0.0.1:9101"
                                                  << "";
        QTest::newRow("IPv6 in brackets") << "[::1]:9101"
                                          << "[::1]:9101"
                                          << "";
        QTest::newRow("another address the user typed") << "0.0.0.0:9101"
                                                        << "0.0.0.0:9101"
                                                        << "";
        QTest::newRow("IPv6 without brackets") << "::1:9101"
                                               << ""
                                               << "brackets";
        QTest::newRow("a name") << "metrics.example:9101"
                                << ""
                                << "IP address or localhost";
        QTest::newRow("no port") << "127.0.0.1"
                                 << ""
                                 << "port is missing";
        QTest::newRow("empty port") << "127.0.0.1:"
                                    << ""
                                    << "1 to 65535";
        QTest::newRow("port 0") << "127.0.0.1:0"
                                << ""
                                << "1 to 65535";
        QTest::newRow("port too big") << "127.0.0.1:65536"
                                      << ""
                                      << "1 to 65535";
        QTest::newRow("port with a sign") << "127.0.0.1:+80"
                                          << ""
                                          << "1 to 65535";
        QTest::newRow("brackets without port") << "[::1]"
                                               << ""
                                               << ":port";
        QTest::newRow("scoped address") << "[fe80::1%lo]:9101"
                                        << ""
                                        << "IP address";
        QTest::newRow("too long") << QString(200, QLatin1Char('1')) + ":80"
                                  << ""
                                  << "too long";
    }

    void addresses()
    {
        QFETCH(QString, text);
        QFETCH(QString, address);
        QFETCH(QString, error);
        const ListenAddress parsed = ListenAddress::parse(text);
        QCOMPARE(parsed.text(), address);
        if (error.isEmpty()) {
            QCOMPARE(parsed.error, QString());
        } else {
            QVERIFY2(parsed.error.contains(error), qPrintable(parsed.error));
            QVERIFY(parsed.error.size() < 400);
        }
    }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<bool>("metrics");
        QTest::newRow("GET HTTP/1.1")
            << QByteArray("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
            << QByteArray("HTTP/1.1 200 OK") << true;
        QTest::newRow("GET HTTP/1.0")
            << QByteArray("GET /metrics HTTP/1.0\r\n\r\n") << QByteArray("HTTP/1.0 200 OK") << true;
        QTest::newRow("bare line feeds") << QByteArray("GET /metrics HTTP/1.1\nHost: x\n\n")
                                         << QByteArray("HTTP/1.1 200 OK") << true;
        QTest::newRow("with a query") << QByteArray("GET /metrics?name[]=x HTTP/1.1\r\n\r\n")
                                      << QByteArray("HTTP/1.1 200 OK") << true;
        QTest::newRow("HEAD") << QByteArray("HEAD /metrics HTTP/1.1\r\n\r\n")
                              << QByteArray("HTTP/1.1 405 Method Not Allowed") << false;
        QTest::newRow("POST") << QByteArray(
                                     "POST /metrics HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc")
                              << QByteArray("HTTP/1.1 405 Method Not Allowed") << false;
        QTest::newRow("lower-case get") << QByteArray("get /metrics HTTP/1.1\r\n\r\n")
                                        << QByteArray("HTTP/1.1 405 Method Not Allowed") << false;
        QTest::newRow("root") << QByteArray("GET / HTTP/1.1\r\n\r\n")
                              << QByteArray("HTTP/1.1 404 Not Found") << false;
        QTest::newRow("trailing slash") << QByteArray("GET /metrics/ HTTP/1.1\r\n\r\n")
                                        << QByteArray("HTTP/1.1 404 Not Found") << false;
        QTest::newRow("longer path") << QByteArray("GET /metricsx HTTP/1.1\r\n\r\n")
                                     << QByteArray("HTTP/1.1 404 Not Found") << false;
        QTest::newRow("HTTP/2.0") << QByteArray("GET /metrics HTTP/2.0\r\n\r\n")
                                  << QByteArray("HTTP/1.1 400 Bad Request") << false;
        QTest::newRow("HTTP/0.9") << QByteArray("GET /metrics\r\n\r\n")
                                  << QByteArray("HTTP/1.1 400 Bad Request") << false;
        QTest::newRow("absolute URI") << QByteArray("GET http://x/metrics HTTP/1.1\r\n\r\n")
                                      << QByteArray("HTTP/1.1 400 Bad Request") << false;
        QTest::newRow("garbage") << QByteArray("\x16\x03\x01\x02\x01\r\n\r\n")
                                 << QByteArray("HTTP/1.1 400 Bad Request") << false;
        QTest::newRow("head too long") << "GET /metrics HTTP/1.1\r\nX-Pad: " + QByteArray(9000, 'a')
                                       << QByteArray("HTTP/1.1 400 Bad Request") << false;
    }

    // Every request gets one answer and the connection is closed after it.
    void answers()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, status);
        QFETCH(bool, metrics);
        MetricsListener listener;
        QVERIFY(listener.listen(loopbackAnyPort()).isEmpty());
        const QByteArray body = "# HELP x y\n# TYPE x gauge\nx{service=\"a\\\"b\"} 1\n";
        listener.setBody(body);
        const RawHttp::Answer answer = RawHttp::exchange(listener.port(), request);
        QVERIFY(answer.connected);
        QVERIFY2(answer.closedByServer, answer.bytes.constData());
        QCOMPARE(answer.statusLine(), status);
        QCOMPARE(answer.header("Connection"), QByteArray("close"));
        QCOMPARE(answer.header("Content-Length").toInt(), answer.body().size());
        if (metrics) {
            QCOMPARE(answer.header("Content-Type"), PrometheusText::contentType());
            QCOMPARE(answer.body(), body);
        } else {
            QVERIFY(!answer.body().contains("x{"));
        }
        if (status.contains(" 405 "))
            QCOMPARE(answer.header("Allow"), QByteArray("GET"));
    }

    // A client that connects and sends nothing, or too little, is cut off
    // at the deadline; the others are still served meanwhile.
    void idleClientsAreCutOff()
    {
        MetricsListener listener;
        listener.setIdleTimeoutMs(300);
        QVERIFY(listener.listen(loopbackAnyPort()).isEmpty());
        listener.setBody("x 1\n");
        QElapsedTimer clock;
        clock.start();
        const RawHttp::Answer silent = RawHttp::exchange(listener.port(), "GET /metr", 5000);
        QVERIFY(silent.connected);
        QVERIFY(silent.closedByServer);
        QVERIFY(silent.bytes.isEmpty());
        QVERIFY2(clock.elapsed() >= 250 && clock.elapsed() < 3000,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(RawHttp::get(listener.port(), "/metrics"), QByteArray("x 1\n"));
    }

    // A port that is taken is told with the address.
    void portInUse()
    {
        MetricsListener first;
        QVERIFY(first.listen(loopbackAnyPort()).isEmpty());
        const QString problem =
            MetricsListener().listen(ListenAddress::parse(QString::number(first.port())));
        QVERIFY2(problem.contains(QStringLiteral("127.0.0.1:%1").arg(first.port())),
                 qPrintable(problem));
    }

private:
    static ListenAddress loopbackAnyPort()
    {
        ListenAddress a;
        a.address = QHostAddress(QHostAddress::LocalHost);
        a.port = 0;
        return a;
    }
};

QTEST_GUILESS_MAIN(TestMetricsEndpoint)
#include "tst_metricsendpoint.moc"
