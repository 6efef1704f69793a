// What a probe measures of each phase, against servers and a resolver that
// hold each phase back by a known time; the TCP type's outcomes, direct and
// through a CONNECT proxy; and when an answer counts as slow. Everything
// runs on 127.0.0.1, names are answered by a fake resolver.
//
// Tolerances hold on a loaded two-core machine: a phase held back by d
// measures at least d and less than d + 2 s.

#include "FakeConnectProxy.h"
#include "FakeResolver.h"
#include "FakeServer.h"
#include "FakeTlsServer.h"
#include "FullBacklogListener.h"
#include "TestPki.h"

#include "engine/Prober.h"
#include "engine/ProbeRules.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSslSocket>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

using Scenario = FakeServer::Scenario;

namespace {

constexpr qint64 Slack = 2000 * 1000; // µs

QString named(QString name, quint16 port)
{
    return name.replace(QStringLiteral("%1"), QString::number(port));
}

ProbeSettings quickSettings(int timeoutSecs = 10)
{
    ProbeSettings s;
    s.connectionTimeoutSecs = timeoutSecs;
    return s;
}

ProbeResult probe(HostResolver &resolver, const QString &name, const ProbeSettings &settings = quickSettings())
{
    Prober prober(&resolver);
    const auto target = ServiceTarget::parse(name);
    if (!target)
        return {};
    return prober.run(*target, QString(), settings, {});
}

quint16 freePort()
{
    QTcpServer gone;
    if (!gone.listen(QHostAddress::LocalHost))
        return 0;
    return gone.serverPort();
}

// "at least ms, but not much more"
QString within(qint64 us, qint64 ms)
{
    if (us >= ms * 1000 && us < ms * 1000 + Slack)
        return {};
    return QStringLiteral("%1 µs, expected %2 ms to %2 ms + 2 s").arg(us).arg(ms);
}

} // namespace

class TestProbeTiming : public QObject {
    Q_OBJECT

    TestPki m_pki;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_pki.create(), qPrintable(m_pki.error()));
        // Before the first TLS use, and for this process only.
        qunsetenv("SSL_CERT_DIR");
        qputenv("SSL_CERT_FILE", QFile::encodeName(m_pki.caFile()));
        QVERIFY2(QSslSocket::supportsSsl(), "Qt has no TLS backend here");
    }

    // Each phase held back on its own; the others stay short, and the time
    // to the answer counts from the probe's start, so it holds them all.
    void phasesReflectDelays_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("lookupMs");
        QTest::addColumn<int>("answerMs");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("http, slow look-up") << "HTTP webhost %1" << 300 << 0 << QByteArray("HTTP/1.1 200 OK\r\n\r\n");
        QTest::newRow("http, slow answer") << "HTTP webhost %1" << 0 << 400 << QByteArray("HTTP/1.1 200 OK\r\n\r\n");
        QTest::newRow("http, both") << "HTTP webhost %1" << 200 << 300 << QByteArray("HTTP/1.1 503 No\r\n\r\n");
        QTest::newRow("ftp, slow greeting") << "FTP webhost %1" << 0 << 400 << QByteArray("220 ready\r\n");
        QTest::newRow("tcp, slow look-up") << "TCP webhost %1" << 300 << 0 << QByteArray();
        QTest::newRow("dotted address, no look-up") << "HTTP 127.0.0.1 %1" << 0 << 0 << QByteArray("HTTP/1.1 200 OK\r\n\r\n");
    }
    void phasesReflectDelays()
    {
        QFETCH(QString, name);
        QFETCH(int, lookupMs);
        QFETCH(int, answerMs);
        QFETCH(QByteArray, answer);

        FakeServer server;
        QVERIFY(server.listen());
        const bool http = name.startsWith(QLatin1String("HTTP"));
        Scenario scenario = http ? Scenario().waitForText("\r\n\r\n") : Scenario();
        server.setScenario(scenario.delay(answerMs).send(answer).waitForText("QUIT").close());
        FakeResolver resolver({QStringLiteral("webhost")});
        resolver.delayMs = lookupMs;

        const ProbeResult r = probe(resolver, named(name, server.port()));
        QVERIFY(r.connected);
        const ProbeTiming &t = r.timing;
        QVERIFY2(within(t.lookupUs, lookupMs).isEmpty(), qPrintable(within(t.lookupUs, lookupMs)));
        QVERIFY2(within(t.connectUs, 0).isEmpty(), qPrintable(within(t.connectUs, 0)));
        QCOMPARE(t.tlsUs, qint64(-1));
        QVERIFY2(within(t.answerUs, lookupMs + answerMs).isEmpty(),
                 qPrintable(within(t.answerUs, lookupMs + answerMs)));
        QVERIFY(t.answerUs >= t.lookupUs + t.connectUs);
    }

    // The server takes its time before it answers the handshake; through
    // the proxy the connect lasts until the tunnel stands.
    void tlsHandshakeDelayed_data()
    {
        QTest::addColumn<bool>("viaProxy");
        QTest::newRow("direct") << false;
        QTest::newRow("through the proxy") << true;
    }
    void tlsHandshakeDelayed()
    {
        QFETCH(bool, viaProxy);
        FakeTlsServer server;
        const TestPki::Identity id = m_pki.valid();
        QVERIFY(server.setIdentity(id.certificateFile, id.keyFile));
        QVERIFY(server.listen());
        server.setScenario(FakeTlsServer::Scenario().delay(400).startTls().waitForText("\r\n\r\n").send(
            "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
        FakeConnectProxy proxy(server.port());
        QVERIFY(proxy.listen());
        ProbeSettings settings = quickSettings();
        if (viaProxy)
            settings.proxy = {true, QStringLiteral("127.0.0.1"), proxy.port()};
        FakeResolver resolver({TestPki::hostName()});

        const ProbeResult r =
            probe(resolver, QStringLiteral("HTTPS %1 %2").arg(TestPki::hostName()).arg(server.port()), settings);
        QVERIFY2(r.success, r.response.constData());
        const ProbeTiming &t = r.timing;
        QVERIFY2(within(t.connectUs, 0).isEmpty(), qPrintable(within(t.connectUs, 0)));
        QVERIFY2(within(t.tlsUs, 400).isEmpty(), qPrintable(within(t.tlsUs, 400)));
        QVERIFY2(within(t.answerUs, 400).isEmpty(), qPrintable(within(t.answerUs, 400)));
        QVERIFY(t.answerUs >= t.lookupUs + t.connectUs + t.tlsUs);
        QCOMPARE(proxy.connectionCount(), viaProxy ? 1 : 0);
    }

    // The connect itself held back: the listener drops the request until
    // it has room again.
    void connectPhaseWaitsForTheListener()
    {
        FullBacklogListener listener;
        QVERIFY(listener.open());
        FakeResolver resolver;
        QTimer::singleShot(300, [&] { listener.release(); });
        const ProbeResult r = probe(resolver, named(QStringLiteral("TCP 127.0.0.1 %1"), listener.port()));
        QVERIFY(r.connected);
        QVERIFY(r.success);
        QVERIFY2(r.timing.connectUs >= 300 * 1000, qPrintable(QString::number(r.timing.connectUs)));
        // The client asks again about a second after its first request.
        QVERIFY2(r.timing.connectUs < 300 * 1000 + 3 * Slack / 2, qPrintable(QString::number(r.timing.connectUs)));
        QVERIFY(r.timing.answerUs >= r.timing.connectUs);
    }

    // Phases not reached stay at -1.
    void unreachedPhases_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("lookedUp");
        QTest::newRow("name not found") << "HTTP nowhere 80" << true;
        QTest::newRow("refused") << "HTTP 127.0.0.1 %1" << true;
        QTest::newRow("tcp without a port") << "TCP webhost" << false;
    }
    void unreachedPhases()
    {
        QFETCH(QString, name);
        QFETCH(bool, lookedUp);
        FakeResolver resolver({QStringLiteral("webhost")});
        const ProbeResult r = probe(resolver, named(name, freePort()));
        QVERIFY(!r.connected);
        QCOMPARE(r.timing.lookupUs >= 0, lookedUp);
        QCOMPARE(r.timing.connectUs, qint64(-1));
        QCOMPARE(r.timing.tlsUs, qint64(-1));
        QCOMPARE(r.timing.answerUs, qint64(-1));
    }

    // A server that never says anything gives no answer time.
    void silenceHasNoAnswerTime()
    {
        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(Scenario().stall());
        FakeResolver resolver;
        Prober prober(&resolver);
        prober.setSilenceLimitMs(300);
        const ProbeResult r = prober.run(*ServiceTarget::parse(named(QStringLiteral("FTP 127.0.0.1 %1"), server.port())),
                                         QString(), quickSettings(), {});
        QVERIFY(r.connected);
        QCOMPARE(r.resultCode, QStringLiteral("timeout"));
        QVERIFY(r.timing.connectUs >= 0);
        QCOMPARE(r.timing.answerUs, qint64(-1));
    }

    // TCP: up once the connection is accepted, closed at once and nothing
    // sent; refused and unanswered connects are unreachable; through the
    // proxy the tunnel is the connection, and the proxy's refusal is judged
    // like its http answer.
    void tcpOutcomes_data()
    {
        QTest::addColumn<QString>("target");  // "server", "refused", "silent"
        QTest::addColumn<QString>("proxy");   // "", "tunnel", "refusing", "silent"
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("code");
        QTest::newRow("up") << "server" << "" << true << true << "connected";
        QTest::newRow("refused") << "refused" << "" << false << false << "";
        QTest::newRow("silent") << "silent" << "" << false << false << "";
        QTest::newRow("proxy, up") << "server" << "tunnel" << true << true << "connected";
        QTest::newRow("proxy refuses") << "server" << "refusing" << true << false << "502";
        QTest::newRow("proxy silent") << "server" << "silent" << true << false << "timeout";
    }
    void tcpOutcomes()
    {
        QFETCH(QString, target);
        QFETCH(QString, proxy);
        QFETCH(bool, connected);
        QFETCH(bool, success);
        QFETCH(QString, code);

        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(Scenario().stall());
        FullBacklogListener full;
        QVERIFY(full.open());
        quint16 port = server.port();
        if (target == QLatin1String("refused"))
            port = freePort();
        else if (target == QLatin1String("silent"))
            port = full.port();

        FakeConnectProxy tunnel(server.port());
        QVERIFY(tunnel.listen());
        FakeServer silentProxy;
        QVERIFY(silentProxy.listen());
        silentProxy.setScenario(Scenario().stall());
        ProbeSettings settings = quickSettings(1);
        if (proxy == QLatin1String("tunnel") || proxy == QLatin1String("refusing")) {
            if (proxy == QLatin1String("refusing"))
                tunnel.setAnswer("HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
            settings.proxy = {true, QStringLiteral("127.0.0.1"), tunnel.port()};
        } else if (proxy == QLatin1String("silent")) {
            settings.proxy = {true, QStringLiteral("127.0.0.1"), silentProxy.port()};
        }

        FakeResolver resolver({QStringLiteral("webhost")});
        QElapsedTimer clock;
        clock.start();
        const ProbeResult r = probe(resolver, QStringLiteral("TCP webhost %1").arg(port), settings);
        const qint64 took = clock.elapsed();
        QCOMPARE(r.connected, connected);
        QCOMPARE(r.success, success);
        QCOMPARE(r.resultCode, code);
        QVERIFY(!r.aborted);
        // One second of connection time-out at most, and not cut short.
        QVERIFY2(took < 1000 + 2000, qPrintable(QString::number(took)));
        if (target == QLatin1String("silent") || proxy == QLatin1String("silent"))
            QVERIFY2(took >= 900, qPrintable(QString::number(took)));
        if (success) {
            QVERIFY(r.response.isEmpty());
            QVERIFY(r.timing.answerUs >= r.timing.connectUs && r.timing.connectUs >= 0);
            // Closed at once, without a byte sent.
            QTRY_VERIFY(server.peerClosed());
            QVERIFY(server.received().isEmpty());
        }
        if (proxy == QLatin1String("refusing"))
            QVERIFY(r.response.startsWith("HTTP/1.1 502 Bad Gateway\r\n"));
        if (!proxy.isEmpty() && proxy != QLatin1String("silent"))
            QCOMPARE(tunnel.request(), QStringLiteral("CONNECT webhost:%1 HTTP/1.1\r\nHost: webhost:%1\r\n\r\n")
                                           .arg(port)
                                           .toUtf8());
        if (proxy.isEmpty() && target == QLatin1String("server"))
            QCOMPARE(server.connectionCount(), 1);
    }

    // Slow means more than the limit, to the microsecond; only a success
    // can be slow, and 0 (or less, from a hand-edited store) is off.
    void slowJudgement_data()
    {
        QTest::addColumn<bool>("success");
        QTest::addColumn<qint64>("answerUs");
        QTest::addColumn<int>("limitMs");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QByteArray>("response");
        const QByteArray ok("HTTP/1.1 200 OK\r\n\r\n");
        QTest::newRow("equal is not slow") << true << qint64(1000000) << 1000 << "200" << ok;
        QTest::newRow("one more is slow")
            << true << qint64(1000001) << 1000 << "slow"
            << QByteArray("slow: the answer took 1001 ms, more than the 1000 ms allowed\r\n") + ok;
        QTest::newRow("well over")
            << true << qint64(2500400) << 1000 << "slow"
            << QByteArray("slow: the answer took 2501 ms, more than the 1000 ms allowed\r\n") + ok;
        QTest::newRow("off") << true << qint64(900000000) << 0 << "200" << ok;
        QTest::newRow("negative is off") << true << qint64(900000000) << -5 << "200" << ok;
        QTest::newRow("a failure keeps its code") << false << qint64(5000000) << 1000 << "503" << ok;
        QTest::newRow("no answer time") << true << qint64(-1) << 1000 << "200" << ok;
    }
    void slowJudgement()
    {
        QFETCH(bool, success);
        QFETCH(qint64, answerUs);
        QFETCH(int, limitMs);
        QFETCH(QString, code);
        QFETCH(QByteArray, response);
        ProbeResult r;
        r.connected = true;
        r.success = success;
        r.resultCode = success ? QStringLiteral("200") : QStringLiteral("503");
        r.response = "HTTP/1.1 200 OK\r\n\r\n";
        r.timing.answerUs = answerUs;
        const bool slow = judgeSlowAnswer(r, limitMs);
        QCOMPARE(slow, code == QLatin1String("slow"));
        QCOMPARE(r.success, success && !slow);
        QCOMPARE(r.resultCode, code);
        QCOMPARE(r.response, response);
    }
};

QTEST_GUILESS_MAIN(TestProbeTiming)
#include "tst_probetiming.moc"
