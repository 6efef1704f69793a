// Several services checked at once: whatever order the answers come in,
// the cycle tells the same story as one at a time - status lines, window
// and tray calls, alerts, logs, stored values and checked services alike -
// and it keeps to the number at once and to two probes a host, stops every
// probe on abort and on a lost connection.

#include "StoreFixture.h"

#include "base/TimeStamp.h"
#include "config/Registry.h"
#include "config/RegistryStore.h"
#include "engine/ConcurrentProbes.h"
#include "engine/IntervalTimer.h"
#include "engine/PollCycle.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {
const QDateTime Now(QDate(2026, 12, 8), QTime(15, 38, 25));

// Every call the cycle makes on its view, in order, as text.
class TranscriptView : public PollView {
public:
    QStringList calls;
    void statusAppend(const QString &line) override { calls << "status " + line; }
    void statusClear() override { calls << "clear"; }
    void setProgressText(const QString &text) override { calls << "progress " + text; }
    void setErrorPanel(const QString &text, Image image) override
    {
        calls << QStringLiteral("panel %1 %2").arg(text).arg(int(image));
    }
    void setTrayHint(const QString &text) override { calls << "hint " + text; }
    void setTrayIcon(TrayIcons set, bool cycling) override
    {
        calls << QStringLiteral("tray %1 %2").arg(int(set)).arg(cycling);
    }
    void setCycleRunning(bool r) override { calls << QStringLiteral("running %1").arg(r); }
    void setAbortEnabled(bool e) override { calls << QStringLiteral("abort %1").arg(e); }
    void setTimerSwitchShown(bool on) override { calls << QStringLiteral("switch %1").arg(on); }
    void errorWindowSetText(const QString &text) override { calls << "window " + text; }
    void errorWindowSetBordered(bool b) override { calls << QStringLiteral("bordered %1").arg(b); }
    void errorWindowSetWordWrap(bool on) override { calls << QStringLiteral("wrap %1").arg(on); }
    void errorWindowShow() override { calls << "show"; }
    void errorWindowHide() override { calls << "hide"; }
    void setShowOnErrorChecked(bool c) override { calls << QStringLiteral("checked %1").arg(c); }
    void processEvents() override {}
    // What the status pane shows: the lines since it was last cleared.
    QStringList statusLines() const
    {
        QStringList lines;
        for (const QString &c : calls) {
            if (c == QLatin1String("clear"))
                lines.clear();
            else if (c.startsWith(QLatin1String("status ")))
                lines << c.mid(7);
        }
        return lines;
    }
};

class RecordingAlerts : public AlertActions {
public:
    QStringList calls;
    QString playAlertSound(const QString &name, bool onError) override
    {
        calls << QStringLiteral("sound %1 %2").arg(name, onError ? "on" : "off");
        return {};
    }
    void launchProgram(const QString &commandLine) override { calls << "launch " + commandLine; }
    MailOutcome sendAlertMail(const QString &name, const QString &templ, const QString &to) override
    {
        calls << QStringLiteral("mail %1 %2 %3").arg(name, templ, to);
        return {true, {}};
    }
    void reportError(const QString &message) override { calls << "error " + message; }
    void notifyDesktop(const DesktopNotice &notice) override
    {
        calls << QStringLiteral("notify %1 %2").arg(notice.serviceName, notice.statusLine);
    }
};

// Probes that answer from a script, in an order the test picks: as they
// were started, the newest first, the oldest last, several at once in
// reverse, or shuffled.
class ScriptedProbes : public ConcurrentProbes {
public:
    enum class Order { AsStarted, NewestFirst, OldestLast, ReverseBatch, Shuffled };
    struct Probe {
        int id;
        QString name;
        QString host;
    };

    Order order = Order::AsStarted;
    QRandomGenerator random{1};
    std::function<ProbeResult(const QString &name)> results;
    // Runs at the start of every wait, with the probes running then.
    std::function<void(const QList<Probe> &)> onWait;
    QList<Probe> runningNow;
    QStringList started;
    int maxRunning = 0;
    int maxPerHost = 0;
    int aborts = 0;

    void start(int id, const ServiceTarget &target, const QString &, const ProbeSettings &) override
    {
        runningNow.append({id, target.normalizedName, target.host.toLower()});
        started << target.normalizedName;
        maxRunning = qMax(maxRunning, int(runningNow.size()));
        int sameHost = 0;
        for (const Probe &p : std::as_const(runningNow))
            sameHost += p.host == target.host.toLower() ? 1 : 0;
        maxPerHost = qMax(maxPerHost, sameHost);
    }
    QList<Finished> wait(qint64) override
    {
        if (onWait)
            onWait(runningNow);
        QList<Finished> done;
        if (runningNow.isEmpty())
            return done;
        switch (order) {
        case Order::AsStarted:
            done << finish(0);
            break;
        case Order::NewestFirst:
            done << finish(runningNow.size() - 1);
            break;
        case Order::OldestLast:
            // The oldest only when it runs alone.
            done << finish(runningNow.size() > 1 ? 1 : 0);
            break;
        case Order::ReverseBatch:
            while (!runningNow.isEmpty())
                done << finish(runningNow.size() - 1);
            break;
        case Order::Shuffled:
            done << finish(int(random.bounded(quint32(runningNow.size()))));
            break;
        }
        return done;
    }
    void abortAll() override
    {
        ++aborts;
        runningNow.clear();
    }
    void wake() override {}
    int running() const override { return int(runningNow.size()); }

private:
    Finished finish(int at)
    {
        const Probe p = runningNow.takeAt(at);
        return {p.id, results(p.name)};
    }
};

ProbeResult up(const QString &code = QStringLiteral("200"), qint64 answerUs = 1000)
{
    ProbeResult r;
    r.connected = true;
    r.success = true;
    r.resultCode = code;
    r.response = "HTTP/1.1 " + code.toUtf8() + " OK\r\n\r\n";
    r.timing.answerUs = answerUs;
    return r;
}
ProbeResult wrong(const QString &code, const QByteArray &response)
{
    ProbeResult r;
    r.connected = true;
    r.resultCode = code;
    r.response = response;
    r.timing.answerUs = 2000;
    return r;
}
ProbeResult unreachable()
{
    return ProbeResult();
}

// A list that touches every kind of turn: answers, wrong answers, no
// connection, a time-out, a slow answer, a blank entry, services already
// failing, alerts of each kind, and many paths on one host.
const QStringList Services{
    "HTTP web/a 80", "HTTP web/b 80",   "FTP files 21",  "HTTP web/c 80",  " \t ",
    "POP3 mail 110", "HTTP web/d 80",   "SMTP relay 25", "HTTPS shop 443", "TCP db 5432",
    "HTTP web/e 80", "HTTP other 8080", "HTTP web/f 80", "HTTP slow 80",
};

// What each service answers in the first and the second cycle.
ProbeResult scripted(const QString &name, int cycle)
{
    if (name == "http web/b 80")
        return cycle == 1 ? wrong("503", "HTTP/1.1 503 Service Unavailable\r\n\r\n") : up();
    if (name == "ftp files 21")
        return cycle == 1 ? unreachable() : unreachable();
    if (name == "pop3 mail 110")
        return cycle == 1 ? up("+OK") : wrong("-ERR", "-ERR locked\r\n");
    if (name == "smtp relay 25")
        return wrong("", {}); // no greeting at all: a time-out
    if (name == "https shop 443")
        return cycle == 1 ? wrong("tls", "TLS failure: handshake\r\n") : up();
    if (name == "tcp db 5432")
        return up("connected");
    if (name == "http web/e 80")
        return cycle == 1 ? up() : unreachable();
    if (name == "http slow 80")
        return up("200", 900000);
    return up();
}

} // namespace

class TestParallelPoll : public QObject {
    Q_OBJECT

private:
    // One program's run: its own store and folder, view, alerts and cycle.
    struct Run {
        std::unique_ptr<StoreFixture> fixture = std::make_unique<StoreFixture>();
        TranscriptView view;
        RecordingAlerts alerts;
        ScriptedProbes probes;
        LiveSettings live;
        QList<bool> connectivity; // one per check while not empty
        int cycle = 1;
        QStringList probedOneAtATime;
        std::unique_ptr<PollCycle> poll;
        QStringList checked;

        explicit Run(int atOnce)
        {
            QDir().mkpath(fixture->context().programFolder);
            live.parallelChecks = atOnce;
            PollCycle::Environment env;
            env.settings = [this] { return live; };
            env.internetConnected = [this] {
                return connectivity.isEmpty() || connectivity.takeFirst();
            };
            env.now = [] { return Now; };
            env.locale = QLocale::c();
            env.probe = [this](const ServiceTarget &target, const QString &, const ProbeSettings &,
                               std::function<bool()>) {
                probedOneAtATime << target.normalizedName;
                return scripted(target.normalizedName, cycle);
            };
            env.probes = &probes;
            probes.results = [this](const QString &name) { return scripted(name, cycle); };
            poll = std::make_unique<PollCycle>(fixture->context(), view, alerts, env);
            QObject::connect(poll.get(), &PollCycle::serviceChecked,
                             [this](const QString &service, const HistoryPoint &point) {
                                 checked << QStringLiteral("%1 %2 %3")
                                                .arg(service)
                                                .arg(point.up)
                                                .arg(point.responseMs);
                             });
            const QString root = fixture->context().servicesKey + QLatin1Char('\\');
            // Alerts of every kind, some services failing from before.
            RegWriteBool(root + "HTTP web/b 80", "LaunchApplication", true);
            RegWriteString(root + "HTTP web/b 80", "ProgName", "alarm b");
            RegWriteString(root + "HTTP web/b 80", "ProgNameOff", "calm b");
            RegWriteBool(root + "FTP files 21", "SendEmail", true);
            RegWriteString(root + "FTP files 21", "OnErrorEmail", "on.txt");
            RegWriteString(root + "FTP files 21", "OnErrorEmailTo", "ops@example.org");
            RegWriteBool(root + "FTP files 21", "RepeatEmail", true);
            RegWriteInteger(root + "SMTP relay 25", "ActualFailures", 4);
            RegWriteBool(root + "HTTPS shop 443", "SoundAlert", false);
            RegWriteInteger(root + "HTTP slow 80", "SlowAfterMs", 500);
            RegWriteInteger(root + "HTTP web/e 80", "ActualFailures", 2);
        }

        // Its store is the one the cycle and the test read and write.
        void use() { RegistryStore::setCurrent(&fixture->store()); }

        // Everything a user or another program can see after the cycles.
        QStringList transcript()
        {
            use();
            QStringList all = view.calls;
            all << alerts.calls << checked << poll->onErrorList();
            const QString folder = fixture->context().programFolder;
            QStringList files = QDir(folder).entryList(QDir::Files, QDir::Name);
            for (const QString &name : files) {
                if (name.endsWith(QLatin1String(".sqlite")) ||
                    name.contains(QLatin1String(".sqlite-")))
                    continue;
                QFile f(folder + name);
                if (f.open(QIODevice::ReadOnly))
                    all << name + ": " + QString::fromUtf8(f.readAll());
            }
            const QString root = fixture->context().servicesKey + QLatin1Char('\\');
            for (const QString &service : Services) {
                all << service + " ActualFailures " +
                           QString::number(RegReadInteger(root + service, "ActualFailures", -1));
                for (const char *value :
                     {"FailureTime", "RecoveryTime", "OutageStart", "OutageEnd"})
                    all << service + " " + value + " " + RegReadString(root + service, value, "-");
            }
            return all;
        }
    };

private slots:
    void sameStoryInEveryAnswerOrder_data()
    {
        QTest::addColumn<int>("atOnce");
        QTest::addColumn<int>("order");
        QTest::addColumn<int>("seed");
        using O = ScriptedProbes::Order;
        QTest::newRow("2, as started") << 2 << int(O::AsStarted) << 0;
        QTest::newRow("2, newest first") << 2 << int(O::NewestFirst) << 0;
        QTest::newRow("4, newest first") << 4 << int(O::NewestFirst) << 0;
        QTest::newRow("4, oldest last") << 4 << int(O::OldestLast) << 0;
        QTest::newRow("8, oldest last") << 8 << int(O::OldestLast) << 0;
        QTest::newRow("8, all at once reversed") << 8 << int(O::ReverseBatch) << 0;
        QTest::newRow("64, all at once reversed") << 64 << int(O::ReverseBatch) << 0;
        for (int seed = 1; seed <= 6; ++seed)
            QTest::addRow("%d, shuffled %d", 1 + seed, seed)
                << 1 + seed << int(O::Shuffled) << seed;
    }
    void sameStoryInEveryAnswerOrder()
    {
        QFETCH(int, atOnce);
        QFETCH(int, order);
        QFETCH(int, seed);
        Run alone(1);
        Run together(atOnce);
        together.probes.order = ScriptedProbes::Order(order);
        together.probes.random.seed(quint32(seed));
        for (Run *run : {&alone, &together}) {
            run->use();
            run->poll->toggleTimerSwitch();
            for (run->cycle = 1; run->cycle <= 2; ++run->cycle)
                run->poll->run(Services);
        }
        // One at a time never uses the probes side by side, and the other
        // way round.
        QCOMPARE(alone.probes.started.size(), 0);
        QCOMPARE(together.probedOneAtATime.size(), 0);
        QCOMPARE(together.probes.started.size(), alone.probedOneAtATime.size());
        QVERIFY(together.probes.maxRunning <= atOnce);
        QVERIFY(together.probes.maxPerHost <= 2);
        QVERIFY(together.probes.maxRunning > 1);

        const QStringList expected = alone.transcript();
        const QStringList got = together.transcript();
        // The first difference, for a readable failure.
        for (qsizetype i = 0; i < qMin(expected.size(), got.size()); ++i)
            QCOMPARE(got.at(i), expected.at(i));
        QCOMPARE(got.size(), expected.size());
        // The status pane itself, for the reader of this test.
        QVERIFY(together.view.statusLines().contains("Success: http: web/b (200) came off error."));
    }

    // However the list is laid out, no more than the number at once run,
    // and no more than two to one host; the entries after a busy host go
    // ahead meanwhile.
    void limitsAtOnceAndPerHost_data()
    {
        QTest::addColumn<int>("atOnce");
        QTest::addColumn<QStringList>("services");
        QTest::addColumn<int>("expectedMax"); // most running at once
        QStringList oneHost, twoHosts, spread;
        for (int i = 0; i < 20; ++i) {
            oneHost << QStringLiteral("HTTP web/p%1 80").arg(i);
            twoHosts << QStringLiteral("HTTP %1/p%2 80").arg(i % 2 ? "one" : "two").arg(i);
            spread << QStringLiteral("HTTP host%1 80").arg(i);
        }
        QStringList runOfOneHost = oneHost.mid(0, 10) + spread.mid(0, 10);
        QTest::newRow("one host, 8") << 8 << oneHost << 2;
        QTest::newRow("two hosts, 8") << 8 << twoHosts << 4;
        QTest::newRow("two hosts, 3") << 3 << twoHosts << 3;
        QTest::newRow("spread, 8") << 8 << spread << 8;
        QTest::newRow("spread, 64") << 64 << spread << 20;
        QTest::newRow("paths of one host, then others, 8") << 8 << runOfOneHost << 8;
    }
    void limitsAtOnceAndPerHost()
    {
        QFETCH(int, atOnce);
        QFETCH(QStringList, services);
        QFETCH(int, expectedMax);
        Run run(atOnce);
        // Nothing answers until every probe that may start has started.
        run.probes.order = ScriptedProbes::Order::OldestLast;
        run.poll->run(services);
        QCOMPARE(run.probes.maxRunning, expectedMax);
        QVERIFY(run.probes.maxPerHost <= 2);
        QCOMPARE(run.probes.started.size(), services.size());
        QCOMPARE(run.view.statusLines().size(), services.size() + 2);
        for (int i = 0; i < services.size(); ++i)
            QVERIFY2(run.view.statusLines().at(i + 1).contains(
                         ServiceTarget::parse(services.at(i))->displayName),
                     qPrintable(run.view.statusLines().at(i + 1)));
    }

    // Abort, the poll time-out and Exit while several probes run: all of
    // them end at once, only the services taken before tell anything, and
    // the next cycle starts afresh.
    void abortStopsEveryProbeInFlight_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("abort") << "abort";
        QTest::newRow("poll time-out") << "timeout";
    }
    void abortStopsEveryProbeInFlight()
    {
        QFETCH(QString, how);
        Run run(4);
        run.probes.order = ScriptedProbes::Order::AsStarted;
        int inFlightAtAbort = 0;
        run.probes.onWait = [&](const QList<ScriptedProbes::Probe> &running) {
            // Once the first service was taken and four run.
            if (inFlightAtAbort == 0 && running.size() == 4 && run.checked.size() == 1) {
                inFlightAtAbort = int(running.size());
                if (how == "abort")
                    run.poll->abort();
                else
                    emit run.poll->problemTimer()->timeout();
            }
        };
        const QStringList services{"HTTP a 80", "HTTP b 80", "HTTP c 80", "HTTP d 80",
                                   "HTTP e 80", "HTTP f 80", "HTTP g 80", "HTTP h 80"};
        run.poll->run(services);
        QCOMPARE(inFlightAtAbort, 4);
        QCOMPARE(run.probes.aborts, 1);
        QCOMPARE(run.probes.running(), 0);
        const QStringList lines = run.view.statusLines();
        QCOMPARE(lines.first(), "Poll started at: " + TimeStamp::format(Now, QLocale::c()));
        QCOMPARE(lines.mid(1, lines.size() - 2), QStringList{"Success: http: a/ (200)"});
        QVERIFY(lines.last().startsWith("Poll finished at: "));
        QCOMPARE(run.checked.size(), 1);
        const QString root = run.fixture->context().servicesKey + QLatin1Char('\\');
        for (const QString &s : services.mid(1))
            QVERIFY2(!run.fixture->store().value(root + s, "ActualFailures"), qPrintable(s));
        QVERIFY(!run.poll->isRunning());

        run.probes.onWait = nullptr;
        run.poll->run(services);
        QCOMPARE(run.view.statusLines().size(), services.size() + 2);
    }

    // The connection goes while several probes run: the services taken
    // before keep their results, the one whose turn came and those still
    // running are judged as a lost connection - exactly as one at a time.
    void connectionLostMidCycle_data()
    {
        QTest::addColumn<int>("atOnce");
        QTest::addColumn<int>("lostBefore"); // the service whose check finds no connection
        QTest::newRow("4, before the first") << 4 << 0;
        QTest::newRow("4, before the third") << 4 << 2;
        QTest::newRow("8, before the last") << 8 << 5;
    }
    void connectionLostMidCycle()
    {
        QFETCH(int, atOnce);
        QFETCH(int, lostBefore);
        const QStringList services{"HTTP a 80", "HTTP web/b 80", "FTP files 21",
                                   "HTTP d 80", "HTTP e 80",     "HTTP f 80"};
        Run alone(1);
        Run together(atOnce);
        // Answers come in order, so probes are still running when it goes.
        together.probes.order = ScriptedProbes::Order::AsStarted;
        for (Run *run : {&alone, &together}) {
            // The cycle's own check, then one before each service.
            run->use();
            run->connectivity = QList<bool>(lostBefore + 1, true) << false;
            run->poll->run(services);
        }
        QCOMPARE(together.transcript(), alone.transcript());
        QCOMPARE(together.poll->onErrorList().last(), QStringLiteral("NoInternetConnection"));
        QCOMPARE(together.probes.running(), 0);
        QCOMPARE(together.probes.aborts, lostBefore > 0 ? 1 : 0);
        QCOMPARE(together.checked.size(), lostBefore);
    }

    // Out-of-range numbers (a hand-edited store) count as the nearest bound.
    void atOnceIsBounded_data()
    {
        QTest::addColumn<int>("setting");
        QTest::addColumn<int>("expectedMax");
        QTest::newRow("0 is one at a time") << 0 << 0;
        QTest::newRow("-5 is one at a time") << -5 << 0;
        QTest::newRow("1000 is 64") << 1000 << 64;
    }
    void atOnceIsBounded()
    {
        QFETCH(int, setting);
        QFETCH(int, expectedMax);
        Run run(setting);
        run.probes.order = ScriptedProbes::Order::OldestLast;
        QStringList services;
        for (int i = 0; i < 80; ++i)
            services << QStringLiteral("HTTP host%1 80").arg(i);
        run.poll->run(services);
        QCOMPARE(run.probes.maxRunning, expectedMax);
        QCOMPARE(run.view.statusLines().size(), services.size() + 2);
    }
};

QTEST_GUILESS_MAIN(TestParallelPoll)
#include "tst_parallelpoll.moc"
