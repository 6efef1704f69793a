// Probes against the scripted fake server on 127.0.0.1, with names answered
// by a fake resolver so nothing outside this machine is ever looked up.

#include "engine/AnswerReader.h"
#include "engine/Prober.h"
#include "engine/ProbeRules.h"
#include "FakeResolver.h"
#include "FakeServer.h"

#include <QElapsedTimer>
#include <QHash>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

using Scenario = FakeServer::Scenario;

namespace {

// "webhost", "proxyhost" and "192.168.1.300" are this machine; "nowhere"
// does not exist; a lookup of "never" is never answered.
FakeResolver machineResolver()
{
    FakeResolver resolver(
        {QStringLiteral("webhost"), QStringLiteral("proxyhost"), QStringLiteral("192.168.1.300")});
    // Nobody listens on 127.0.0.2: the probe must move on to the next address.
    resolver.answers.insert(QStringLiteral("twohost"),
                            {QHostAddress(QStringLiteral("127.0.0.2")), QHostAddress::LocalHost});
    resolver.silent.insert(QStringLiteral("never"));
    return resolver;
}

QByteArray request(const QByteArray &firstLine, const QByteArray &host)
{
    return firstLine + "\r\nHost: " + host +
           "\r\nCache-Control: no-cache\r\nPragma: no-cache\r\nUser-Agent: " +
           userAgentText().toUtf8() + "\r\nReferer: http://" + makerHost().toUtf8() +
           "/quellmark\r\n\r\n";
}

// Answers once the whole request is in, then closes.
Scenario answering(const QByteArray &answer)
{
    return Scenario().waitForText("\r\n\r\n").send(answer).close();
}

// "%1" in a name stands for the fake server's port.
QString named(QString name, quint16 port)
{
    return name.replace(QStringLiteral("%1"), QString::number(port));
}

} // namespace

class TestProber : public QObject {
    Q_OBJECT

    ProbeResult probe(Prober &prober, const QString &name, const QString &pattern = QString(),
                      ProbeSettings settings = quickSettings(),
                      std::function<bool()> abortRequested = {})
    {
        const auto target = ServiceTarget::parse(name);
        if (!target)
            return {};
        return prober.run(*target, pattern, settings, std::move(abortRequested));
    }

    static ProbeSettings quickSettings()
    {
        ProbeSettings s;
        s.connectionTimeoutSecs = 10; // a failing test must not hang for a minute
        return s;
    }

private slots:
    void requestOnTheWire_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("proxyHost"); // empty: direct
        QTest::addColumn<QByteArray>("firstLine");
        QTest::addColumn<QByteArray>("hostHeader");

        QTest::newRow("head, lower-cased path")
            << "HTTP webhost/Status.HTML %1"
            << ""
            << "" << QByteArray("HEAD /status.html HTTP/1.1") << QByteArray("webhost:%1");
        QTest::newRow("get with a pattern")
            << "HTTP webhost/a/b/ %1"
            << "x"
            << "" << QByteArray("GET /a/b HTTP/1.1") << QByteArray("webhost:%1");
        QTest::newRow("dotted address, not looked up")
            << "HTTP 127.0.0.1 %1"
            << ""
            << "" << QByteArray("HEAD / HTTP/1.1") << QByteArray("127.0.0.1:%1");
        QTest::newRow("proxy by name, default port")
            << "HTTP webhost/a/b/ 80"
            << ""
            << " proxyhost " << QByteArray("HEAD http://webhost/a/b HTTP/1.1")
            << QByteArray("webhost");
        QTest::newRow("proxy by address, other port")
            << "HTTP webhost/a/b/ 8080"
            << ""
            << "127.0.0.1" << QByteArray("HEAD http://webhost:8080/a/b HTTP/1.1")
            << QByteArray("webhost:8080");
        QTest::newRow("proxy, unknown target host is the proxy's business")
            << "HTTP nowhere 80"
            << "welcome"
            << "proxyhost" << QByteArray("GET http://nowhere/ HTTP/1.1") << QByteArray("nowhere");
    }

    void requestOnTheWire()
    {
        QFETCH(QString, name);
        QFETCH(QString, pattern);
        QFETCH(QString, proxyHost);
        QFETCH(QByteArray, firstLine);
        QFETCH(QByteArray, hostHeader);

        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(answering("HTTP/1.1 200 OK\r\n\r\nwelcome x"));
        FakeResolver resolver = machineResolver();
        Prober prober(&resolver);
        ProbeSettings settings = quickSettings();
        if (!proxyHost.isEmpty())
            settings.proxy = {true, proxyHost, server.port()};

        const ProbeResult r = probe(prober, named(name, server.port()), pattern, settings);
        QVERIFY(r.connected);
        QVERIFY(r.success);
        QCOMPARE(server.connectionCount(), 1);
        const QByteArray port = QByteArray::number(server.port());
        QCOMPARE(server.received(),
                 request(firstLine.replace("%1", port), hostHeader.replace("%1", port)));
        QVERIFY(!resolver.asked.contains(QStringLiteral("127.0.0.1")));
    }

    // The proxy is for http only, and only when it is fully given.
    void proxyNotUsed_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("use");
        QTest::addColumn<QString>("proxyHost");
        QTest::addColumn<int>("proxyPort"); // -1: the proxy server's port

        QTest::newRow("not ticked") << "HTTP webhost %1" << false << "127.0.0.1" << -1;
        QTest::newRow("blank host") << "HTTP webhost %1" << true << "  " << -1;
        QTest::newRow("port 0") << "HTTP webhost %1" << true << "127.0.0.1" << 0;
        QTest::newRow("ftp ignores it") << "FTP webhost %1" << true << "127.0.0.1" << -1;
    }

    void proxyNotUsed()
    {
        QFETCH(QString, name);
        QFETCH(bool, use);
        QFETCH(QString, proxyHost);
        QFETCH(int, proxyPort);

        FakeServer service, proxy;
        QVERIFY(service.listen());
        QVERIFY(proxy.listen());
        service.setScenario(Scenario().send("220 ready\r\n").waitForText("\r\n").close());
        FakeResolver resolver = machineResolver();
        Prober prober(&resolver);
        ProbeSettings settings = quickSettings();
        settings.proxy = {use, proxyHost, proxyPort < 0 ? int(proxy.port()) : proxyPort};

        const ProbeResult r = probe(prober, named(name, service.port()), {}, settings);
        QVERIFY(r.connected);
        QCOMPARE(service.connectionCount(), 1);
        QCOMPARE(proxy.connectionCount(), 0);
    }

    void httpAnswers_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<Scenario>("scenario");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("code");

        QTest::newRow("404 is up")
            << "" << answering("HTTP/1.1 404 Not Found\r\n\r\n") << true << "404";
        QTest::newRow("503 is down")
            << "" << answering("HTTP/1.1 503 Service Unavailable\r\n\r\n") << false << "503";
        QTest::newRow("not http") << "" << answering("<html>down</html>") << false << "<ht";
        QTest::newRow("pattern in body")
            << "Welcome" << answering("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nWELCOME!!")
            << true << "200";
        QTest::newRow("pattern only in a header")
            << "welcome" << answering("HTTP/1.1 200 OK\r\nX-Note: welcome\r\n\r\nhello") << false
            << "pattern fail";
        // A server that flushes its headers before the body must not look down.
        QTest::newRow("body after a pause, content length")
            << "welcome"
            << Scenario()
                   .waitForText("\r\n\r\n")
                   .send("HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n")
                   .delay(300)
                   .send("welcome home")
                   .stall()
            << true << "200";
        QTest::newRow("body after a pause, chunked")
            << "welcome"
            << Scenario()
                   .waitForText("\r\n\r\n")
                   .send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
                   .delay(300)
                   .send("7\r\nwelcome\r\n")
                   .delay(100)
                   .send("0\r\n\r\n")
                   .stall()
            << true << "200";
        QTest::newRow("body after a pause, until close") << "welcome"
                                                         << Scenario()
                                                                .waitForText("\r\n\r\n")
                                                                .send("HTTP/1.0 200 OK\r\n\r\n")
                                                                .delay(300)
                                                                .send("welcome")
                                                                .halfClose()
                                                                .stall()
                                                         << true << "200";
        // The header block below is 30 bytes, so the body starts a 10-byte piece.
        QTest::newRow("zero byte hides the rest of its piece")
            << "welcome"
            << answering(QByteArray("HTTP/1.0 200 OK\r\nX-Pad: 12\r\n\r\n\0welcome!!", 40)) << false
            << "pattern fail";
        QTest::newRow("zero byte in an earlier piece")
            << "welcome"
            << answering(QByteArray("HTTP/1.0 200 OK\r\nX-Pad: 12\r\n\r\n\0"
                                    "123456789welcome",
                                    47))
            << true << "200";
        QTest::newRow("server closes at once") << "" << Scenario().close() << false << "timeout";
    }

    void httpAnswers()
    {
        QFETCH(QString, pattern);
        QFETCH(Scenario, scenario);

        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(scenario);
        FakeResolver resolver = machineResolver();
        Prober prober(&resolver);
        QElapsedTimer clock;
        clock.start();
        const ProbeResult r =
            probe(prober, named(QStringLiteral("HTTP webhost %1"), server.port()), pattern);
        QVERIFY(r.connected);
        QVERIFY(!r.aborted);
        QTEST(r.success, "success");
        QTEST(r.resultCode, "code");
        QVERIFY2(clock.elapsed() < 5000, "the answer was complete long before the time-out");
    }

    void zeroByteKeepsTheRestOfTheStream()
    {
        FakeServer server;
        QVERIFY(server.listen());
        const QByteArray head = "HTTP/1.0 200 OK\r\nX-Pad: 12\r\n\r\n";
        QCOMPARE(head.size(), 30);
        server.setScenario(answering(head + QByteArray("\0"
                                                       "123456789welcome",
                                                       17)));
        FakeResolver resolver = machineResolver();
        Prober prober(&resolver);
        const ProbeResult r =
            probe(prober, named(QStringLiteral("HTTP webhost %1"), server.port()), "x");
        QCOMPARE(r.response, head + "welcome");
    }

    void greetings_data()
    {
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<Scenario>("scenario");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("code");

        const auto greet = [](const QByteArray &line) {
            return Scenario().send(line).waitForText("QUIT\r\n").close();
        };
        QTest::newRow("ftp 220") << "FTP" << greet("220 ready\r\n") << true << "220";
        QTest::newRow("ftp 421") << "FTP" << greet("421 busy\r\n") << false << "421";
        QTest::newRow("smtp 220") << "SMTP" << greet("220 mail ESMTP\r\n") << true << "220";
        QTest::newRow("pop3 +OK") << "POP3" << greet("+OK POP3 ready\r\n") << true << "+OK";
        QTest::newRow("pop3 -ERR") << "POP3" << greet("-ERR go away\r\n") << false << "-ER";
        QTest::newRow("pop3 +ok") << "POP3" << greet("+ok ready\r\n") << false << "+ok";
        QTest::newRow("greeting in pieces")
            << "FTP"
            << Scenario().send("22").delay(150).send("0 ok\r").delay(150).send("\n").waitForText(
                   "QUIT\r\n")
            << true << "220";
    }

    void greetings()
    {
        QFETCH(QString, protocol);
        QFETCH(Scenario, scenario);

        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(scenario);
        FakeResolver resolver = machineResolver();
        Prober prober(&resolver);
        QElapsedTimer clock;
        clock.start();
        const ProbeResult r =
            probe(prober, protocol + QStringLiteral(" webhost ") + QString::number(server.port()));
        QVERIFY(clock.elapsed() < 5000);
        QVERIFY(r.connected);
        QTEST(r.success, "success");
        QTEST(r.resultCode, "code");
        // QUIT follows whatever the greeting, and nothing else is sent.
        QTRY_COMPARE(server.received(), QByteArray("QUIT\r\n"));
    }

    // A closed connection ends the read at once instead of waiting out the
    // time-out for a line end that cannot come.
    void greetingCutByClose()
    {
        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(Scenario().send("220 bye").close());
        FakeResolver resolver = machineResolver();
        Prober prober(&resolver);
        QElapsedTimer clock;
        clock.start();
        const ProbeResult r =
            probe(prober, QStringLiteral("FTP 127.0.0.1 ") + QString::number(server.port()));
        QVERIFY(clock.elapsed() < 3000);
        QVERIFY(r.success);
        QCOMPARE(r.response, QByteArray("220 bye"));
    }

    void silentServerTimesOut_data()
    {
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<bool>("quitExpected");
        QTest::newRow("http") << "HTTP" << false;
        QTest::newRow("ftp sends QUIT all the same") << "FTP" << true;
    }

    void silentServerTimesOut()
    {
        QFETCH(QString, protocol);
        QFETCH(bool, quitExpected);

        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(Scenario().stall());
        FakeResolver resolver = machineResolver();
        Prober prober(&resolver);
        ProbeSettings settings;
        settings.connectionTimeoutSecs = 1;
        QElapsedTimer clock;
        clock.start();
        const ProbeResult r =
            probe(prober, protocol + QStringLiteral(" webhost ") + QString::number(server.port()),
                  {}, settings);
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(elapsed >= 950 && elapsed < 3000, qPrintable(QString::number(elapsed)));
        QVERIFY(r.connected);
        QVERIFY(!r.success);
        QCOMPARE(r.resultCode, QStringLiteral("timeout"));
        QVERIFY(r.response.isEmpty());
        if (quitExpected)
            QTRY_COMPARE(server.received(), QByteArray("QUIT\r\n"));
    }

    // The silence limit counts only while nothing at all has come.
    void silenceLimit()
    {
        FakeServer silent, slow;
        QVERIFY(silent.listen());
        QVERIFY(slow.listen());
        silent.setScenario(Scenario().stall());
        slow.setScenario(Scenario().waitForText("\r\n\r\n").send("HTTP/1.1 200 OK\r\n").stall());
        FakeResolver resolver = machineResolver();
        Prober prober(&resolver);
        prober.setSilenceLimitMs(300);
        ProbeSettings settings;
        settings.connectionTimeoutSecs = 1;

        QElapsedTimer clock;
        clock.start();
        ProbeResult r =
            probe(prober, named(QStringLiteral("HTTP webhost %1"), silent.port()), {}, settings);
        QVERIFY2(clock.elapsed() < 900, "silence limit applies");
        QCOMPARE(r.resultCode, QStringLiteral("timeout"));

        clock.restart();
        r = probe(prober, named(QStringLiteral("HTTP webhost %1"), slow.port()), {}, settings);
        QVERIFY2(clock.elapsed() >= 950, "something came: only the connection time-out ends it");
        // What arrived is judged.
        QVERIFY(r.success);
        QCOMPARE(r.resultCode, QStringLiteral("200"));
    }

    void endlessStreamIsBounded_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<qsizetype>("limit");
        QTest::newRow("http body") << "HTTP webhost %1" << QByteArray("HTTP/1.0 200 OK\r\n\r\n")
                                   << AnswerReader::HttpLimit;
        QTest::newRow("greeting") << "SMTP webhost %1" << QByteArray("421 ")
                                  << AnswerReader::GreetingLimit;
    }

    void endlessStreamIsBounded()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, start);
        QFETCH(qsizetype, limit);

        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(Scenario().send(start).streamForever(QByteArray(16384, 'a')));
        FakeResolver resolver = machineResolver();
        Prober prober(&resolver);
        QElapsedTimer clock;
        clock.start();
        const ProbeResult r = probe(prober, named(name, server.port()), QStringLiteral("zzz"));
        QVERIFY(clock.elapsed() < 5000);
        QVERIFY(!r.success);
        QCOMPARE(r.response.size(), limit);
    }

    void abortDuringRead_data()
    {
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<bool>("byPredicate");
        QTest::newRow("http, abort()") << "HTTP" << false;
        QTest::newRow("http, predicate") << "HTTP" << true;
        QTest::newRow("ftp, abort()") << "FTP" << false;
    }

    void abortDuringRead()
    {
        QFETCH(QString, protocol);
        QFETCH(bool, byPredicate);

        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(Scenario().stall());
        FakeResolver resolver = machineResolver();
        Prober prober(&resolver);
        bool requested = false;
        QElapsedTimer clock;
        QTimer::singleShot(300, this, [&] {
            clock.start();
            if (byPredicate)
                requested = true;
            else
                prober.abort();
        });
        const ProbeResult r =
            probe(prober, protocol + QStringLiteral(" webhost ") + QString::number(server.port()),
                  {}, quickSettings(), [&] { return requested; });
        QVERIFY(clock.isValid());
        QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(r.aborted);
        QVERIFY(r.connected);
        QVERIFY(!r.success);
        QVERIFY(!prober.isBusy());
        // No QUIT after an abort.
        QTRY_VERIFY(server.peerClosed());
        QVERIFY(!server.received().contains("QUIT"));
    }

    // A server that sends a byte every few hundred microseconds, from a
    // thread of its own, never lets a probe wait long on its socket: the
    // window's events (here the timer that aborts) must still be handled.
    void abortWhileServerDrips()
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        QVERIFY(listener >= 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), length) == 0);
        QVERIFY(::listen(listener, 1) == 0);
        QVERIFY(::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) == 0);
        std::atomic<bool> stop{false};
        std::thread dripper([&] {
            const int peer = ::accept(listener, nullptr, nullptr);
            // Each byte on its way at once, not held for the peer's ack.
            const int on = 1;
            ::setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            // Never a line end, so the greeting never ends; at most ~10 s.
            for (int i = 0; i < 60000 && !stop && peer >= 0; ++i) {
                if (::send(peer, "a", 1, MSG_NOSIGNAL) != 1)
                    break;
                // Spun, not slept: a sleep's wake-up may come later than
                // the probe's short wait on its socket lasts.
                const auto next = std::chrono::steady_clock::now() + std::chrono::microseconds(150);
                while (std::chrono::steady_clock::now() < next) {
                }
            }
            if (peer >= 0)
                ::close(peer);
        });
        FakeResolver resolver = machineResolver();
        Prober prober(&resolver);
        QElapsedTimer clock;
        clock.start();
        QTimer::singleShot(100, this, [&] { prober.abort(); });
        const ProbeResult r =
            probe(prober, QStringLiteral("FTP webhost %1").arg(ntohs(address.sin_port)));
        const qint64 took = clock.elapsed();
        stop = true;
        dripper.join();
        ::close(listener);
        QVERIFY(r.aborted);
        QVERIFY2(took < 1000, qPrintable(QStringLiteral("abort took effect after %1 ms").arg(took)));
    }

    // The lookup never answers: only the abort can end the wait.
    void abortDuringConnect()
    {
        FakeResolver resolver = machineResolver();
        Prober prober(&resolver);
        QElapsedTimer clock;
        QTimer::singleShot(200, this, [&] {
            clock.start();
            prober.abort();
        });
        const ProbeResult r = probe(prober, QStringLiteral("HTTP never 80"));
        QVERIFY(clock.isValid());
        QVERIFY(clock.elapsed() < 100);
        QVERIFY(r.aborted);
        QVERIFY(!r.connected);
        QCOMPARE(resolver.asked, QStringList{QStringLiteral("never")});
    }

    // A probe that was abandoned leaves nothing behind for the next one.
    void abandonedProbeDoesNotLeak()
    {
        FakeServer late, next;
        QVERIFY(late.listen());
        QVERIFY(next.listen());
        late.setScenario(
            Scenario().delay(300).send("HTTP/1.1 503 Late\r\n\r\n").delay(200).close());
        next.setScenario(
            Scenario().waitForText("\r\n\r\n").delay(400).send("HTTP/1.1 200 OK\r\n\r\n").close());
        FakeResolver resolver = machineResolver();
        Prober prober(&resolver);
        QTimer::singleShot(100, this, [&] { prober.abort(); });
        QVERIFY(probe(prober, named(QStringLiteral("HTTP webhost %1"), late.port())).aborted);
        const ProbeResult r = probe(prober, named(QStringLiteral("HTTP webhost %1"), next.port()));
        QVERIFY(!r.aborted);
        QCOMPARE(r.response, QByteArray("HTTP/1.1 200 OK\r\n\r\n"));
        QVERIFY(r.success);
    }

    void notConnected_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("lookups");
        QTest::newRow("refused port") << "HTTP 127.0.0.1 %1" << QStringList();
        QTest::newRow("name not found") << "HTTP nowhere 80" << QStringList{"nowhere"};
        QTest::newRow("control character in the path") << "HTTP webhost/a\x01x %2" << QStringList();
        QTest::newRow("control character in the host") << "HTTP web\x7fhost %2" << QStringList();
        QTest::newRow("port out of range") << "HTTP webhost 70000" << QStringList();
    }

    void notConnected()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, lookups);

        // A port that was free a moment ago: nobody listens there now.
        QTcpServer gone;
        QVERIFY(gone.listen(QHostAddress::LocalHost));
        const quint16 refusedPort = gone.serverPort();
        gone.close();

        FakeServer server; // would accept anything that got through
        QVERIFY(server.listen());
        server.setScenario(answering("HTTP/1.1 200 OK\r\n\r\n"));
        FakeResolver resolver = machineResolver();
        Prober prober(&resolver);
        QElapsedTimer clock;
        clock.start();
        const ProbeResult r = probe(
            prober,
            named(name, refusedPort).replace(QStringLiteral("%2"), QString::number(server.port())));
        QVERIFY(clock.elapsed() < 3000);
        QVERIFY(!r.connected);
        QVERIFY(!r.success);
        QVERIFY(!r.aborted);
        QCOMPARE(r.resultCode, QString());
        QVERIFY(r.response.isEmpty());
        QCOMPARE(resolver.asked, lookups);
        QTest::qWait(50);
        QCOMPARE(server.connectionCount(), 0);
    }

    void addressesTriedInTurn()
    {
        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(answering("HTTP/1.1 200 OK\r\n\r\n"));
        FakeResolver resolver = machineResolver();
        Prober prober(&resolver);
        const ProbeResult r =
            probe(prober, named(QStringLiteral("HTTP twohost %1"), server.port()));
        QVERIFY(r.connected);
        QVERIFY(r.success);
    }

    // 300 is no address part, so the text goes to name resolution.
    void invalidDottedAddressIsLookedUp()
    {
        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(Scenario().send("220 ok\r\n").waitForText("QUIT\r\n").close());
        FakeResolver resolver = machineResolver();
        Prober prober(&resolver);
        const ProbeResult r =
            probe(prober, named(QStringLiteral("FTP 192.168.1.300 %1"), server.port()));
        QVERIFY(r.success);
        QCOMPARE(resolver.asked, QStringList{QStringLiteral("192.168.1.300")});
    }

    // An unknown protocol connects, sends nothing, reads nothing and fails.
    void unknownProtocol()
    {
        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(Scenario().send("220 hello\r\n").stall());
        FakeResolver resolver = machineResolver();
        Prober prober(&resolver);
        QElapsedTimer clock;
        clock.start();
        const ProbeResult r =
            probe(prober, named(QStringLiteral("GOPHER webhost %1"), server.port()));
        QVERIFY(clock.elapsed() < 3000);
        QVERIFY(r.connected);
        QVERIFY(!r.success);
        QCOMPARE(r.resultCode, QStringLiteral("timeout"));
        QTRY_VERIFY(server.peerClosed());
        QVERIFY(server.received().isEmpty());
    }

    void busyOnlyWhileRunning()
    {
        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(
            Scenario().waitForText("\r\n\r\n").delay(200).send("HTTP/1.1 200 OK\r\n\r\n"));
        FakeResolver resolver = machineResolver();
        Prober prober(&resolver);
        bool busyInside = false;
        ProbeResult nested;
        nested.connected = true;
        QTimer::singleShot(50, this, [&] {
            busyInside = prober.isBusy();
            nested = probe(prober, named(QStringLiteral("HTTP webhost %1"), server.port()));
        });
        QVERIFY(!prober.isBusy());
        const ProbeResult r =
            probe(prober, named(QStringLiteral("HTTP webhost %1"), server.port()));
        QVERIFY(r.success);
        QVERIFY(busyInside);
        QVERIFY2(!nested.connected, "a second probe never starts while one runs");
        QVERIFY(!prober.isBusy());
    }
};

QTEST_GUILESS_MAIN(TestProber)
#include "tst_prober.moc"
