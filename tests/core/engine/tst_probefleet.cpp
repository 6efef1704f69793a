// Several services at once over real loopback connections: servers that
// accept and never answer hold only their own place, an abort closes every
// connection in flight at once, and one host never gets more than two
// probes at a time.

#include "FakeResolver.h"
#include "FakeServer.h"
#include "StatusView.h"
#include "StoreFixture.h"

#include "engine/IntervalTimer.h"
#include "engine/Monitor.h"
#include "engine/PollCycle.h"
#include "engine/ProbeFleet.h"
#include "engine/Prober.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

class NoAlerts : public AlertActions {
public:
    QString playAlertSound(const QString &, bool) override { return {}; }
    void launchProgram(const QString &) override {}
    MailOutcome sendAlertMail(const QString &, const QString &, const QString &) override
    {
        return {true, {}};
    }
    void reportError(const QString &) override {}
};

FakeServer::Scenario answering(int delayMs = 0)
{
    FakeServer::Scenario s;
    s.waitForText("\r\n\r\n");
    if (delayMs > 0)
        s.delay(delayMs);
    return s.send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n").close();
}

FakeServer::Scenario hanging()
{
    return FakeServer::Scenario().stall();
}

} // namespace

class TestProbeFleet : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<StoreFixture> m_fixture;
    StatusView m_view;
    NoAlerts m_alerts;
    LiveSettings m_live;
    std::unique_ptr<FakeResolver> m_resolver;
    std::unique_ptr<Prober> m_prober;
    std::unique_ptr<ProbeFleet> m_fleet;
    std::unique_ptr<PollCycle> m_cycle;
    std::vector<std::unique_ptr<FakeServer>> m_servers;

    FakeServer *server(const FakeServer::Scenario &scenario)
    {
        auto s = std::make_unique<FakeServer>();
        s->setScenario(scenario);
        if (!s->listen())
            return nullptr;
        m_servers.push_back(std::move(s));
        return m_servers.back().get();
    }
    // Times one cycle over the services, in milliseconds.
    qint64 timedRun(const QStringList &services)
    {
        QElapsedTimer timer;
        timer.start();
        m_cycle->run(services);
        return timer.elapsed();
    }

private slots:
    void init()
    {
        m_fixture = std::make_unique<StoreFixture>();
        QDir().mkpath(m_fixture->context().programFolder);
        m_view = StatusView();
        m_live = LiveSettings();
        m_live.connectionTimeoutSecs = 1;
        m_resolver = std::make_unique<FakeResolver>(
            QStringList{"a", "b", "c", "d", "web", "h1", "h2", "h3", "h4", "h5", "h6"});
        m_prober = std::make_unique<Prober>(m_resolver.get());
        m_fleet = std::make_unique<ProbeFleet>(m_resolver.get());
        PollCycle::Environment env;
        env.settings = [this] { return m_live; };
        env.locale = QLocale::c();
        env.probe = [this](const ServiceTarget &target, const QString &pattern,
                           const ProbeSettings &settings, std::function<bool()> abortRequested) {
            return m_prober->run(target, pattern, settings, std::move(abortRequested));
        };
        env.abortProbe = [this] { m_prober->abort(); };
        env.probes = m_fleet.get();
        m_cycle = std::make_unique<PollCycle>(m_fixture->context(), m_view, m_alerts, env);
    }
    void cleanup()
    {
        m_cycle.reset();
        m_fleet.reset();
        m_prober.reset();
        m_servers.clear();
        m_resolver.reset();
        m_fixture.reset();
    }

    // Three servers that take the connection and never answer, among
    // services that do: side by side they cost about one time-out, not
    // three, and the lines still come in list order.
    void hangingServersHoldOnlyTheirPlace_data()
    {
        QTest::addColumn<int>("atOnce");
        QTest::newRow("one at a time") << 1;
        QTest::newRow("4 at once") << 4;
    }
    void hangingServersHoldOnlyTheirPlace()
    {
        QFETCH(int, atOnce);
        m_live.parallelChecks = atOnce;
        FakeServer *up = server(answering());
        FakeServer *stalls = server(hanging());
        QVERIFY(up && stalls);
        const QString upPort = QString::number(up->port());
        const QString stallPort = QString::number(stalls->port());
        QStringList services;
        QStringList expected;
        for (int i = 0; i < 9; ++i) {
            const bool hang = i % 3 == 1;
            const QString host = QStringLiteral("h%1").arg(1 + i % 6);
            services
                << QStringLiteral("HTTP %1/p%2 %3").arg(host).arg(i).arg(hang ? stallPort : upPort);
            expected << (hang ? QStringLiteral(
                                    "Failed: http: %1:%2/p%3 (timeout) went on error <<<<<<<<<<<<")
                                    .arg(host, stallPort)
                                    .arg(i)
                              : QStringLiteral("Success: http: %1:%2/p%3 (200)")
                                    .arg(host, upPort)
                                    .arg(i));
        }
        const qint64 ms = timedRun(services);
        QCOMPARE(m_view.status.mid(1, services.size()), expected);
        QCOMPARE(stalls->connectionCount(), 3);
        if (atOnce == 1)
            QVERIFY2(ms >= 3000, qPrintable(QString::number(ms)));
        else
            QVERIFY2(ms < 2500, qPrintable(QString::number(ms)));
    }

    // Abort, the poll time-out: every connection in flight is closed at
    // once, not after its time-out.
    void abortClosesEveryConnectionInFlight_data()
    {
        QTest::addColumn<bool>("byTimeout");
        QTest::newRow("abort") << false;
        QTest::newRow("poll time-out") << true;
    }
    void abortClosesEveryConnectionInFlight()
    {
        QFETCH(bool, byTimeout);
        m_live.parallelChecks = 8;
        m_live.connectionTimeoutSecs = 60;
        QStringList services;
        QList<FakeServer *> stalling;
        for (const char *host : {"a", "b", "c", "d"}) {
            FakeServer *s = server(hanging());
            QVERIFY(s);
            stalling << s;
            services << QStringLiteral("HTTP %1 %2").arg(QLatin1String(host)).arg(s->port());
        }
        QElapsedTimer sinceAbort;
        QTimer watch;
        watch.setInterval(5);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            for (FakeServer *s : stalling)
                if (s->connectionCount() == 0)
                    return;
            watch.stop();
            sinceAbort.start();
            if (byTimeout)
                emit m_cycle->problemTimer()->timeout();
            else
                m_cycle->abort();
        });
        watch.start();
        const qint64 ms = timedRun(services);
        QVERIFY(sinceAbort.isValid());
        QVERIFY2(sinceAbort.elapsed() < 1000, qPrintable(QString::number(sinceAbort.elapsed())));
        QVERIFY(ms < 10000);
        QCOMPARE(m_view.status.size(), 2); // started and finished, nothing between
        QCOMPARE(m_fleet->running(), 0);
        for (FakeServer *s : stalling)
            QTRY_VERIFY_WITH_TIMEOUT(s->peerClosed(0), 2000);
    }

    // Exit while the program's own probes wait on four silent servers:
    // the poll ends at once and every connection is closed.
    void exitClosesEveryConnectionInFlight()
    {
        Monitor::Overrides overrides;
        overrides.internetConnected = [] { return true; };
        overrides.watchConnection = false;
        Monitor monitor(m_fixture->context(), overrides);
        LiveSettings live;
        live.parallelChecks = 8;
        monitor.setSettingsSource([live] { return live; });
        QList<FakeServer *> stalling;
        for (int i = 0; i < 4; ++i) {
            FakeServer *s = server(hanging());
            QVERIFY(s);
            stalling << s;
        }
        // Two hosts (the same server's two names), two services each.
        const QStringList services{QStringLiteral("HTTP 127.0.0.1 %1").arg(stalling[0]->port()),
                                   QStringLiteral("HTTP 127.0.0.1/x %1").arg(stalling[1]->port()),
                                   QStringLiteral("HTTP localhost %1").arg(stalling[2]->port()),
                                   QStringLiteral("HTTP localhost/x %1").arg(stalling[3]->port())};
        monitor.setServiceListProvider([services] { return services; });
        QElapsedTimer sinceExit;
        QTimer watch;
        watch.setInterval(5);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            for (FakeServer *s : stalling)
                if (s->connectionCount() == 0)
                    return;
            watch.stop();
            sinceExit.start();
            monitor.requestExit();
        });
        watch.start();
        QSignalSpy finished(&monitor, &Monitor::cycleFinished);
        monitor.pollNow();
        QCOMPARE(finished.size(), 1);
        QVERIFY(sinceExit.isValid());
        QVERIFY2(sinceExit.elapsed() < 1000, qPrintable(QString::number(sinceExit.elapsed())));
        for (FakeServer *s : stalling)
            QTRY_VERIFY_WITH_TIMEOUT(s->peerClosed(0), 2000);
    }

    // Six paths on one host that each take a moment: two at a time, so
    // three rounds; six hosts go at once.
    void twoAtATimeToOneHost()
    {
        m_live.parallelChecks = 8;
        FakeServer *slow = server(answering(300));
        QVERIFY(slow);
        const QString port = QString::number(slow->port());
        QStringList oneHost, sixHosts;
        for (int i = 1; i <= 6; ++i) {
            oneHost << QStringLiteral("HTTP web/p%1 %2").arg(i).arg(port);
            sixHosts << QStringLiteral("HTTP h%1/p%1 %2").arg(i).arg(port);
        }
        const qint64 oneHostMs = timedRun(oneHost);
        QCOMPARE(slow->connectionCount(), 6);
        QCOMPARE(m_view.status.size(), 6 + 2);
        QVERIFY2(oneHostMs >= 900, qPrintable(QString::number(oneHostMs)));
        const qint64 sixHostsMs = timedRun(sixHosts);
        QCOMPARE(slow->connectionCount(), 12);
        QVERIFY2(sixHostsMs < oneHostMs,
                 qPrintable(QStringLiteral("%1 %2").arg(sixHostsMs).arg(oneHostMs)));
    }
};

QTEST_GUILESS_MAIN(TestProbeFleet)
#include "tst_probefleet.moc"
