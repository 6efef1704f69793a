// Failure tracking and the poll cycle over scripted probe results: status
// lines, counters and times in the store, logs, the on-error list and window,
// and when programs, sounds and e-mails fire.

#include "StoreFixture.h"

#include "alerts/ProgramLauncher.h"
#include "config/ProgramContext.h"
#include "config/Registry.h"
#include "config/RegistryStore.h"
#include "engine/AlertFailures.h"
#include "engine/ConcurrentProbes.h"
#include "engine/IntervalTimer.h"
#include "engine/PollCycle.h"
#include "base/TimeStamp.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QQueue>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {
const QDateTime Now(QDate(2026, 12, 8), QTime(15, 38, 25));
const QString Stamp = QStringLiteral("8 Dec 2026 15:38:25");

class RecordingView : public PollView {
public:
    QStringList status;
    QString progress, errorPanel, trayHint, windowText;
    Image errorImage = Image::None;
    bool windowShown = false, bordered = false, wordWrap = false, running = false, abortEnabled = false;
    bool showChecked = false, timerShown = false, trayCycling = false;
    TrayIcons traySet = TrayIcons::Normal;

    void statusAppend(const QString &line) override { status << line; }
    void statusClear() override { status.clear(); }
    void setProgressText(const QString &text) override { progress = text; }
    void setErrorPanel(const QString &text, Image image) override
    {
        errorPanel = text;
        errorImage = image;
    }
    void setTrayHint(const QString &text) override { trayHint = text; }
    void setTrayIcon(TrayIcons set, bool cycling) override
    {
        traySet = set;
        trayCycling = cycling;
    }
    void setCycleRunning(bool r) override { running = r; }
    void setAbortEnabled(bool e) override { abortEnabled = e; }
    void setTimerSwitchShown(bool on) override { timerShown = on; }
    void errorWindowSetText(const QString &text) override { windowText = text; }
    void errorWindowSetBordered(bool b) override { bordered = b; }
    void errorWindowSetWordWrap(bool on) override { wordWrap = on; }
    void errorWindowShow() override { windowShown = true; }
    void errorWindowHide() override { windowShown = false; }
    void setShowOnErrorChecked(bool c) override { showChecked = c; }
    void processEvents() override {}
};

class RecordingAlerts : public AlertActions {
public:
    QStringList calls;
    QStringList failingPrograms;
    QStringList failingMails; // template paths whose message does not go
    QString soundProblem;
    QString playAlertSound(const QString &name, bool onError) override
    {
        calls << QStringLiteral("sound %1 %2").arg(name, onError ? "on" : "off");
        return soundProblem;
    }
    void launchProgram(const QString &commandLine) override
    {
        calls << QStringLiteral("launch ") + commandLine;
        if (failingPrograms.contains(commandLine))
            throw LaunchError(QStringLiteral("Create Process Error #2: No such file or directory"));
    }
    MailOutcome sendAlertMail(const QString &name, const QString &templ, const QString &to) override
    {
        calls << QStringLiteral("mail %1 %2 %3").arg(name, templ, to);
        if (failingMails.contains(templ))
            return {false, QStringLiteral("Last reply: 535 5.7.8 Authentication failed")};
        return {true, {}};
    }
    void reportError(const QString &message) override { calls << QStringLiteral("error ") + message; }
    QStringList only(const QString &prefix) const
    {
        QStringList out;
        for (const QString &c : calls)
            if (c.startsWith(prefix))
                out << c;
        return out;
    }
};

// Probes side by side, there for the taking: with one service at a time
// (the default) the cycle must never start one.
class UnusedProbes : public ConcurrentProbes {
public:
    int starts = 0;
    void start(int, const ServiceTarget &, const QString &, const ProbeSettings &) override { ++starts; }
    QList<Finished> wait(qint64) override { return {}; }
    void abortAll() override {}
    void wake() override {}
    int running() const override { return 0; }
};

ProbeResult up(const QString &code = QStringLiteral("200"))
{
    ProbeResult r;
    r.connected = true;
    r.success = true;
    r.resultCode = code;
    return r;
}
ProbeResult wrong(const QString &code = QStringLiteral("503"), const QByteArray &response = "HTTP/1.1 503 Service Unavailable\r\n\r\n")
{
    ProbeResult r;
    r.connected = true;
    r.resultCode = code;
    r.response = response;
    return r;
}
ProbeResult unreachable()
{
    return ProbeResult();
}
} // namespace

class TestPollCycle : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<StoreFixture> m_fixture;
    RecordingView m_view;
    RecordingAlerts m_alerts;
    LiveSettings m_live;
    bool m_connected = true;
    qint64 m_steadyMs = 0; // the poll timers' clock
    QList<bool> m_connectivity; // consumed one per check when not empty
    QHash<QString, QQueue<ProbeResult>> m_results;
    std::function<void(const QString &)> m_duringProbe;
    QStringList m_probed;
    UnusedProbes m_unusedProbes;
    std::unique_ptr<PollCycle> m_cycle;

    QString key(const QString &name) const
    {
        return m_fixture->context().servicesKey + QLatin1Char('\\') + name;
    }
    void makeCycle()
    {
        PollCycle::Environment env;
        env.settings = [this] { return m_live; };
        env.internetConnected = [this] {
            if (!m_connectivity.isEmpty())
                return m_connectivity.takeFirst();
            return m_connected;
        };
        env.now = [] { return Now; };
        env.locale = QLocale::c();
        env.probe = [this](const ServiceTarget &target, const QString &, const ProbeSettings &,
                           std::function<bool()> abortRequested) {
            m_probed << target.normalizedName;
            if (m_duringProbe)
                m_duringProbe(target.normalizedName);
            if (abortRequested()) {
                ProbeResult r;
                r.aborted = true;
                return r;
            }
            QQueue<ProbeResult> &queue = m_results[target.normalizedName];
            return queue.isEmpty() ? up() : queue.dequeue();
        };
        env.steadyClockMs = [this] { return m_steadyMs; };
        env.timerMaxShotMs = 1; // look at the clock again every millisecond
        env.probes = &m_unusedProbes;
        m_cycle = std::make_unique<PollCycle>(m_fixture->context(), m_view, m_alerts, env);
    }
    void script(const QString &name, const QList<ProbeResult> &results)
    {
        for (const ProbeResult &r : results)
            m_results[name.toLower()].enqueue(r);
    }
    QString fileText(const QString &path) const
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private slots:
    void init()
    {
        m_fixture = std::make_unique<StoreFixture>();
        QDir().mkpath(m_fixture->context().programFolder);
        m_view = RecordingView();
        m_alerts = RecordingAlerts();
        m_live = LiveSettings();
        m_connected = true;
        m_steadyMs = 0;
        m_connectivity.clear();
        m_results.clear();
        m_duringProbe = nullptr;
        m_probed.clear();
        makeCycle();
    }
    void cleanup()
    {
        QCOMPARE(m_unusedProbes.starts, 0);
        m_unusedProbes.starts = 0;
        m_cycle.reset();
        m_fixture.reset();
    }

    void emptyListGivesStartAndFinish()
    {
        m_cycle->toggleTimerSwitch();
        m_cycle->run({});
        QCOMPARE(m_view.status, (QStringList{"Poll started at: " + Stamp, "Poll finished at: " + Stamp,
                                             "Next poll at: 8 Dec 2026 16:38:25"}));
        QCOMPARE(m_view.errorPanel, QStringLiteral("No sites on error"));
        QCOMPARE(m_view.errorImage, PollView::Image::Ok);
        QCOMPARE(m_view.progress, "Poll finished at: " + Stamp);
        QCOMPARE(m_cycle->sessionTimer()->interval(), 60 * 60000);
        QVERIFY(!m_view.running);
        QCOMPARE(m_view.trayHint, QStringLiteral("Quellmark"));
        QVERIFY(!m_cycle->problemTimer()->isEnabled());
    }

    void statusLinesAndStore()
    {
        const QStringList services{"HTTP webhost 80", "FTP ftphost 2121", "POP3 mailhost 110"};
        script("HTTP webhost 80", {up("200"), up("200")});
        script("FTP ftphost 2121", {wrong("421", "421 busy\r\n"), up("220")});
        script("POP3 mailhost 110", {unreachable(), unreachable()});
        m_cycle->run(services);
        QCOMPARE(m_view.status, (QStringList{
                                    "Poll started at: " + Stamp,
                                    "Success: http: webhost/ (200)",
                                    "Failed: ftp: ftphost:2121 (421) went on error <<<<<<<<<<<<",
                                    "Failed: pop3: mailhost went on error <<<<<<<<<<<<",
                                    "Poll finished at: " + Stamp,
                                }));
        QCOMPARE(m_view.errorPanel, QStringLiteral("2 sites on error"));
        QCOMPARE(m_view.errorImage, PollView::Image::Error);
        QCOMPARE(m_view.windowText, QStringLiteral("ftp:ftphost\r\npop3:mailhost"));
        QVERIFY(m_view.windowShown);
        QVERIFY(m_view.showChecked);
        QVERIFY(m_view.trayCycling);
        QCOMPARE(m_cycle->sessionTimer()->interval(), 15 * 60000);
        QCOMPARE(m_cycle->onErrorList(), (QStringList{"ftp:ftphost", "pop3:mailhost"}));
        QCOMPARE(RegReadInteger(key("FTP ftphost 2121"), "ActualFailures", -1), 1);
        QCOMPARE(RegReadString(key("FTP ftphost 2121"), "FailureTime", {}), Stamp);
        const QString utc = Now.toUTC().toString(Qt::ISODate);
        QCOMPARE(RegReadString(key("FTP ftphost 2121"), "OutageStart", {}), utc);
        QCOMPARE(RegReadString(key("FTP ftphost 2121"), "OutageEnd", QStringLiteral("none")), QString());
        QCOMPARE(RegReadInteger(key("HTTP webhost 80"), "ActualFailures", -1), 0);

        const QString folder = m_fixture->context().programFolder;
        QCOMPARE(fileText(folder + "webhost(http).log"), Stamp + ":  Log start\r\n");
        QCOMPARE(fileText(folder + "ftphost(ftp).log"),
                 Stamp + ":  Log start\r\n" + Stamp + ": went on error.\r\n");
        const QString errorLog = fileText(m_fixture->context().errorLogPath);
        QVERIFY(errorLog.contains(Stamp + " ftphost(ftp) response:\r\n421 busy\r\n"));
        QVERIFY(errorLog.contains(Stamp + " mailhost(pop3) response:\r\nCould not open connection to socket"));

        // Second cycle: the FTP service comes back, POP3 stays down.
        m_cycle->run(services);
        QCOMPARE(m_view.status, (QStringList{
                                    "Poll started at: " + Stamp,
                                    "Success: http: webhost/ (200)",
                                    "Success: ftp: ftphost:2121 (220) came off error.",
                                    "Failed: pop3: mailhost still on error <<<<<<<<<<<<",
                                    "Poll finished at: " + Stamp,
                                }));
        QCOMPARE(RegReadString(key("FTP ftphost 2121"), "RecoveryTime", {}), Stamp);
        QCOMPARE(RegReadString(key("FTP ftphost 2121"), "OutageEnd", {}), utc);
        QCOMPARE(RegReadString(key("POP3 mailhost 110"), "OutageStart", {}), utc);
        QCOMPARE(RegReadString(key("POP3 mailhost 110"), "OutageEnd", QStringLiteral("none")), QString());
        QCOMPARE(RegReadInteger(key("FTP ftphost 2121"), "ActualFailures", -1), 0);
        QCOMPARE(RegReadInteger(key("POP3 mailhost 110"), "ActualFailures", -1), 2);
        QVERIFY(fileText(folder + "ftphost(ftp).log").endsWith(Stamp + ": came off error.\r\n"));
        QCOMPARE(m_view.windowText, QStringLiteral("pop3:mailhost"));
        QCOMPARE(m_alerts.only("sound"), (QStringList{"sound FTP ftphost 2121 on", "sound POP3 mailhost 110 on",
                                                      "sound FTP ftphost 2121 off"}));
    }

    void launchThresholds_data()
    {
        QTest::addColumn<int>("threshold");
        QTest::addColumn<bool>("repeat");
        QTest::addColumn<QList<int>>("launchedAt");
        QTest::newRow("1 once") << 1 << false << QList<int>{1};
        QTest::newRow("1 repeat") << 1 << true << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9};
        QTest::newRow("3 once") << 3 << false << QList<int>{3};
        QTest::newRow("3 repeat") << 3 << true << QList<int>{3, 6, 9};
    }
    void launchThresholds()
    {
        QFETCH(int, threshold);
        QFETCH(bool, repeat);
        QFETCH(QList<int>, launchedAt);
        const QString name = "HTTP webhost 80";
        RegWriteBool(key(name), "LaunchApplication", true);
        RegWriteInteger(key(name), "FailuresBeforeLaunch", threshold);
        RegWriteBool(key(name), "RepeatLaunchApplication", repeat);
        RegWriteString(key(name), "ProgName", "alarm on");
        RegWriteString(key(name), "ProgNameOff", "alarm off");
        QList<int> launches;
        for (int poll = 1; poll <= 9; ++poll) {
            script(name, {wrong()});
            m_alerts.calls.clear();
            m_cycle->run({name});
            if (m_alerts.only("launch alarm on").size() == 1)
                launches << poll;
        }
        QCOMPARE(launches, launchedAt);
        script(name, {up()});
        m_alerts.calls.clear();
        m_cycle->run({name});
        QCOMPARE(m_alerts.only("launch"), QStringList{"launch alarm off"});
    }

    // An alert that does not go through is written to error.log and stays
    // on show until the next one of its kind goes.
    void failedAlertsAreLoggedUntilOneGoes_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("shown");
        QTest::newRow("e-mail") << "mail"
                                << ": alert e-mail not sent for HTTP webhost 80 (on-error message)\r\n"
                                   "Last reply: 535 5.7.8 Authentication failed\r\n\r\n"
                                << "Alert e-mail failed: HTTP webhost 80 (Last reply: 535 5.7.8 Authentication failed)";
        QTest::newRow("program") << "program"
                                 << ": alert program not started for HTTP webhost 80 (on-error program)\r\n"
                                    "Create Process Error #2: No such file or directory\r\n\r\n"
                                 << "Alert program failed: HTTP webhost 80 (Create Process Error #2: No such file or directory)";
        QTest::newRow("sound") << "sound"
                               << ": alert sound not played for HTTP webhost 80 (on-error sound)\r\n"
                                  "File \"/gone.wav\" not found.\r\n\r\n"
                               << "Alert sound failed: HTTP webhost 80 (File \"/gone.wav\" not found.)";
    }
    void failedAlertsAreLoggedUntilOneGoes()
    {
        QFETCH(QString, kind);
        QFETCH(QString, entry);
        QFETCH(QString, shown);
        const QString name = "HTTP webhost 80";
        RegWriteBool(key(name), "SendEmail", kind == "mail");
        RegWriteString(key(name), "OnErrorEmail", "/t/on.txt");
        RegWriteString(key(name), "OnErrorEmailTo", "ops@example.org");
        RegWriteString(key(name), "OffErrorEmail", "/t/off.txt");
        RegWriteString(key(name), "OffErrorEmailTo", "ops@example.org");
        RegWriteBool(key(name), "LaunchApplication", kind == "program");
        RegWriteString(key(name), "ProgName", "alarm on");
        RegWriteString(key(name), "ProgNameOff", "alarm off");
        m_alerts.failingMails = QStringList{"/t/on.txt"};
        m_alerts.failingPrograms = QStringList{"alarm on"};
        m_alerts.soundProblem = kind == "sound" ? QStringLiteral("File \"/gone.wav\" not found.") : QString();
        QSignalSpy changes(m_cycle->alertFailures(), &AlertFailures::changed);

        script(name, {wrong()});
        m_cycle->run({name});
        QVERIFY2(fileText(m_fixture->context().errorLogPath).contains(Stamp + entry),
                 qPrintable(fileText(m_fixture->context().errorLogPath)));
        QCOMPARE(m_cycle->alertFailures()->summary(), shown);
        QCOMPARE(changes.size(), 1);

        // Still on error: nothing fires again, the failure stays on show.
        script(name, {wrong()});
        m_cycle->run({name});
        QCOMPARE(m_cycle->alertFailures()->summary(), shown);

        m_alerts.soundProblem.clear();
        script(name, {up()});
        m_cycle->run({name});
        QCOMPARE(m_cycle->alertFailures()->summary(), QString());
        QCOMPARE(changes.size(), 2);
    }

    void mailThreshold_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<QStringList>("mails");
        QTest::newRow("one failure then success") << 1 << QStringList{};
        QTest::newRow("two failures then success")
            << 2 << QStringList{"mail SMTP mailhost 25 /t/on.txt ops@example.org",
                                "mail SMTP mailhost 25 /t/off.txt ops@example.org"};
    }
    void mailThreshold()
    {
        QFETCH(int, failures);
        QFETCH(QStringList, mails);
        const QString name = "SMTP mailhost 25";
        RegWriteBool(key(name), "SendEmail", true);
        RegWriteInteger(key(name), "FailuresBeforeEmail", 2);
        RegWriteString(key(name), "OnErrorEmail", "/t/on.txt");
        RegWriteString(key(name), "OnErrorEmailTo", "ops@example.org");
        RegWriteString(key(name), "OffErrorEmail", "/t/off.txt");
        RegWriteString(key(name), "OffErrorEmailTo", "ops@example.org");
        for (int i = 0; i < failures; ++i) {
            script(name, {wrong("421", "421 no\r\n")});
            m_cycle->run({name});
        }
        script(name, {up("220")});
        m_cycle->run({name});
        QCOMPARE(m_alerts.only("mail"), mails);
    }

    void restartWithStoredCount_data()
    {
        QTest::addColumn<bool>("unreachableFailure");
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("failureTimeWritten");
        QTest::newRow("connection failed") << true << "Failed: http: webhost/ still on error <<<<<<<<<<<<" << true;
        QTest::newRow("wrong answer") << false << "Failed: http: webhost/ (503) still on error <<<<<<<<<<<<" << false;
    }
    void restartWithStoredCount()
    {
        QFETCH(bool, unreachableFailure);
        QFETCH(QString, line);
        QFETCH(bool, failureTimeWritten);
        const QString name = "HTTP webhost 80";
        RegWriteInteger(key(name), "ActualFailures", 4);
        RegWriteBool(key(name), "LaunchApplication", true);
        RegWriteInteger(key(name), "FailuresBeforeLaunch", 3);
        RegWriteString(key(name), "ProgName", "alarm");
        script(name, {unreachableFailure ? unreachable() : wrong()});
        m_cycle->run({name});
        QCOMPARE(m_view.status.at(1), line);
        QCOMPARE(RegReadInteger(key(name), "ActualFailures", 0), 5);
        QCOMPARE(m_fixture->store().value(key(name), "FailureTime").has_value(),
                 failureTimeWritten);
        QCOMPARE(m_alerts.only("launch"), QStringList{"launch alarm"});
        // No went-on-error record for a failure run that began before the restart.
        QVERIFY(!fileText(m_fixture->context().programFolder + "webhost(http).log")
                     .contains("went on error"));
    }

    void noSoundCallWhenSoundAlertOff()
    {
        const QString name = "HTTP webhost 80";
        RegWriteBool(key(name), "SoundAlert", false);
        RegWriteBool(key(name), "BeepAlert", true);
        script(name, {wrong(), up()});
        m_cycle->run({name});
        m_cycle->run({name});
        QVERIFY(m_alerts.only("sound").isEmpty());
    }

    void noConnectionLaunches_data()
    {
        QTest::addColumn<bool>("repeat");
        QTest::addColumn<QList<int>>("launchedAt");
        QTest::newRow("once") << false << QList<int>{2};
        QTest::newRow("repeat") << true << QList<int>{2, 4};
    }
    void noConnectionLaunches()
    {
        QFETCH(bool, repeat);
        QFETCH(QList<int>, launchedAt);
        m_live.noConnAppLaunch = true;
        m_live.noConnFailures = 2;
        m_live.noConnRepeatLaunch = repeat;
        m_live.noConnProgName = "reconnect";
        m_connected = false;
        QList<int> launches;
        for (int poll = 1; poll <= 4; ++poll) {
            m_alerts.calls.clear();
            m_cycle->run({"HTTP webhost 80"});
            if (!m_alerts.only("launch reconnect").isEmpty())
                launches << poll;
            QCOMPARE(RegReadInteger(m_fixture->context().settingsRoot, "NoConnActualFailures", 0),
                     poll);
        }
        QCOMPARE(launches, launchedAt);
        QVERIFY(m_probed.isEmpty());
        QCOMPARE(m_view.status.last(), Stamp + ": no internet connection");
        QCOMPARE(m_cycle->onErrorList(), QStringList{"NoInternetConnection"});
        QCOMPARE(m_view.windowText, QStringLiteral("NoInternetConnection"));
        QCOMPARE(fileText(m_fixture->context().errorLogPath).count("no internet connection"), 1);

        // The connection returns: the entry is logged, the counter starts again.
        m_connected = true;
        m_cycle->run({"HTTP webhost 80"});
        QVERIFY(fileText(m_fixture->context().errorLogPath)
                    .contains(Stamp + ": internet connection restored\r\n"));
        QVERIFY(!m_view.status.join('\n').contains("restored"));
        QVERIFY(m_cycle->onErrorList().isEmpty());
        QCOMPARE(RegReadInteger(m_fixture->context().settingsRoot, "NoConnActualFailures", -1), 0);
    }

    void connectionLostDuringCycle()
    {
        m_connectivity = {true, true, false};
        m_cycle->run({"HTTP a 80", "HTTP b 80", "HTTP c 80"});
        QCOMPARE(m_probed, QStringList{"http a 80"});
        QCOMPARE(m_cycle->onErrorList(), QStringList{"NoInternetConnection"});
        QCOMPARE(m_view.status.last(), "Poll finished at: " + Stamp);
        QCOMPARE(m_cycle->sessionTimer()->interval(), 15 * 60000);
    }

    void abortWhileSecondIsRead()
    {
        m_duringProbe = [this](const QString &name) {
            if (name == "http b 80")
                m_cycle->abort();
        };
        script("HTTP b 80", {wrong()});
        m_cycle->run({"HTTP a 80", "HTTP b 80", "HTTP c 80"});
        QCOMPARE(m_view.status, (QStringList{"Poll started at: " + Stamp, "Success: http: a/ (200)",
                                             "Poll finished at: " + Stamp}));
        QCOMPARE(m_probed, (QStringList{"http a 80", "http b 80"}));
        QVERIFY(!m_fixture->store().value(key("HTTP b 80"), "ActualFailures"));
        QVERIFY(!m_view.running);
        // The next cycle starts afresh.
        m_duringProbe = nullptr;
        m_cycle->run({"HTTP a 80"});
        QCOMPARE(m_view.status.size(), 3);
    }

    void failedLaunchIsReportedAndTheCycleGoesOn()
    {
        RegWriteBool(key("HTTP a 80"), "LaunchApplication", true);
        RegWriteString(key("HTTP a 80"), "ProgName", "missing-program");
        m_alerts.failingPrograms << "missing-program";
        script("HTTP a 80", {unreachable()});
        m_cycle->run({"HTTP a 80", "HTTP b 80"});
        QCOMPARE(m_alerts.only("error"), QStringList{"error Create Process Error #2: No such file or directory"});
        QCOMPARE(m_probed, (QStringList{"http a 80", "http b 80"}));
        QCOMPARE(m_view.status.last(), "Poll finished at: " + Stamp);
        QVERIFY(!m_view.running);
    }

    void blankNamesAreSkipped()
    {
        m_cycle->run({" \t ", "HTTP a 80"});
        QCOMPARE(m_probed, QStringList{"http a 80"});
        QCOMPARE(m_view.status.size(), 3);
    }

    void pollTimeoutAborts()
    {
        m_live.pollTimeoutMins = 0;
        m_cycle->run({});
        QCOMPARE(m_cycle->problemTimer()->interval(), 0);
        // A running cycle is stopped by the time-out's abort, once.
        m_duringProbe = [this](const QString &) {
            QCOMPARE(m_cycle->problemTimer()->interval(), 0);
            emit m_cycle->problemTimer()->timeout();
            emit m_cycle->problemTimer()->timeout();
        };
        m_cycle->run({"HTTP a 80", "HTTP b 80"});
        QCOMPARE(m_probed.size(), 1);
        QVERIFY(!m_view.abortEnabled);
    }

    void timerOffMeansNoNextPollLine()
    {
        m_cycle->run({"HTTP a 80"});
        QVERIFY(!m_view.status.join('\n').contains("Next poll at"));
        m_cycle->toggleTimerSwitch();
        QVERIFY(m_view.timerShown);
        m_live.normalFreqMins = 30; // changed while running: used from the next end of a cycle
        QCOMPARE(m_cycle->sessionTimer()->interval(), 60 * 60000);
        m_cycle->run({"HTTP a 80"});
        QCOMPARE(m_view.status.last(), QStringLiteral("Next poll at: 8 Dec 2026 16:08:25"));
        m_cycle->toggleTimerSwitch();
        QVERIFY(!m_cycle->sessionTimer()->isEnabled());
        QCOMPARE(m_cycle->sessionTimer()->interval(), 0);
    }

    // Every interval the pages accept is kept exactly, also beyond what a
    // single Qt timer or an int of milliseconds can hold.
    void longIntervals_data()
    {
        QTest::addColumn<int>("minutes");
        for (int minutes : {1, 35791, 35792, 40000, 99999})
            QTest::addRow("%d min", minutes) << minutes;
    }
    void longIntervals()
    {
        QFETCH(int, minutes);
        const qint64 ms = qint64(minutes) * 60000;
        m_live.normalFreqMins = minutes;
        m_live.pollTimeoutMins = minutes;
        m_cycle->toggleTimerSwitch();
        QVERIFY(m_view.timerShown);
        QCOMPARE(m_cycle->sessionTimer()->interval(), ms);
        QVERIFY(m_cycle->sessionTimer()->isCounting());

        // The poll time-out of a cycle that hangs ends it at the right moment.
        m_duringProbe = [&](const QString &) {
            QCOMPARE(m_cycle->problemTimer()->interval(), ms);
            m_steadyMs += ms - 1;
            QTest::qWait(5);
            QVERIFY(!m_cycle->abortRequested());
            m_steadyMs += 1;
            QTRY_VERIFY(m_cycle->abortRequested());
        };
        m_cycle->run({"HTTP a 80"});
        m_duringProbe = nullptr;
        QCOMPARE(m_view.status.last(),
                 "Next poll at: " + TimeStamp::format(Now.addSecs(qint64(minutes) * 60), QLocale::c()));
        QCOMPARE(m_cycle->sessionTimer()->remainingTime(), ms);

        // The next poll comes when the interval is over, not before.
        m_probed.clear();
        m_cycle->setServiceListProvider([] { return QStringList{"HTTP b 80"}; });
        m_steadyMs += ms - 1;
        QTest::qWait(5);
        QVERIFY(m_probed.isEmpty());
        m_steadyMs += 1;
        QTRY_COMPARE(m_probed, QStringList{"http b 80"});
    }

    // The connection comes back: a poll at once only when the last one
    // found none and the timer switch is on.
    void connectionBackStartsAPoll_data()
    {
        QTest::addColumn<bool>("timerOn");
        QTest::addColumn<bool>("lastFoundNone");
        QTest::addColumn<bool>("polled");
        QTest::newRow("timer on, last poll found none") << true << true << true;
        QTest::newRow("timer off") << false << true << false;
        QTest::newRow("last poll connected") << true << false << false;
    }
    void connectionBackStartsAPoll()
    {
        QFETCH(bool, timerOn);
        QFETCH(bool, lastFoundNone);
        QFETCH(bool, polled);
        m_cycle->setServiceListProvider([] { return QStringList{"HTTP a 80"}; });
        if (timerOn)
            m_cycle->toggleTimerSwitch();
        m_connected = !lastFoundNone;
        m_cycle->run({});
        m_connected = true;
        m_probed.clear();
        m_cycle->connectionRestored();
        QCOMPARE(m_probed, polled ? QStringList{"http a 80"} : QStringList{});
        if (polled) {
            QVERIFY(m_cycle->onErrorList().isEmpty());
            QCOMPARE(m_cycle->sessionTimer()->interval(), 60 * 60000);
        }
    }

    // A success later than the service's SlowAfterMs is a failure with the
    // code "slow": counted, logged and alerted like a wrong answer; at the
    // limit itself it is still a success. TCP successes read "connected".
    void slowAnswersAndTcp_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("slowAfterMs");
        QTest::addColumn<qint64>("answerUs");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("errorEntry"); // empty: none
        QTest::newRow("at the limit") << "HTTP webhost 80" << 250 << qint64(250000) << "200"
                                      << "Success: http: webhost/ (200)" << "";
        QTest::newRow("past the limit")
            << "HTTP webhost 80" << 250 << qint64(250001) << "200"
            << "Failed: http: webhost/ (slow) went on error <<<<<<<<<<<<"
            << Stamp + " webhost/(http) response:\r\nslow: the answer took 251 ms, more than the 250 ms "
                       "allowed\r\nHTTP/1.1 200 OK\r\n\r\n\r\n";
        QTest::newRow("off") << "HTTP webhost 80" << 0 << qint64(90000000) << "200"
                             << "Success: http: webhost/ (200)" << "";
        QTest::newRow("tcp up") << "TCP dbhost 5432" << 0 << qint64(3000) << "connected"
                                << "Success: tcp: dbhost:5432 (connected)" << "";
        QTest::newRow("tcp slow")
            << "TCP dbhost 5432" << 2 << qint64(3000) << "connected"
            << "Failed: tcp: dbhost:5432 (slow) went on error <<<<<<<<<<<<"
            << Stamp + " dbhost(tcp) response:\r\nslow: the answer took 3 ms, more than the 2 ms allowed\r\n\r\n";
    }
    void slowAnswersAndTcp()
    {
        QFETCH(QString, name);
        QFETCH(int, slowAfterMs);
        QFETCH(qint64, answerUs);
        QFETCH(QString, code);
        QFETCH(QString, line);
        QFETCH(QString, errorEntry);
        if (slowAfterMs != 0)
            RegWriteInteger(key(name), QStringLiteral("SlowAfterMs"), slowAfterMs);
        ProbeResult r = up(code);
        if (code == QLatin1String("200"))
            r.response = "HTTP/1.1 200 OK\r\n\r\n";
        r.timing.answerUs = answerUs;
        script(name, {r});
        m_cycle->run({name});
        QCOMPARE(m_view.status.value(1), line);
        const bool failed = line.startsWith(QLatin1String("Failed"));
        QCOMPARE(RegReadInteger(key(name), "ActualFailures", -1), failed ? 1 : 0);
        QCOMPARE(m_cycle->onErrorList().size(), failed ? 1 : 0);
        QCOMPARE(m_alerts.only("sound").size(), failed ? 1 : 0);
        const QString errorLog = fileText(m_fixture->context().errorLogPath);
        if (errorEntry.isEmpty())
            QVERIFY(errorLog.isEmpty());
        else
            QCOMPARE(errorLog, errorEntry);
    }
};

QTEST_GUILESS_MAIN(TestPollCycle)
#include "tst_pollcycle.moc"
