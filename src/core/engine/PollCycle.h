#pragma once

#include "alerts/AlertActions.h"
#include "alerts/AlertHold.h"
#include "config/ProgramContext.h"
#include "config/Settings.h"
#include "engine/PollView.h"
#include "stats/ResponseFigures.h"

#include <QDateTime>
#include <QHash>
#include <QLocale>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

#include "engine/CertificateWatch.h"
#include "engine/Prober.h"
#include "engine/ServiceTarget.h"

class AlertFailures;
class ConcurrentProbes;
class InOrderProbes;
class IntervalTimer;
class ResponseHistory;

// The global settings as the main window's controls show them at the moment.
struct LiveSettings {
    int normalFreqMins = Settings::NormalConnectionFreq.defaultNumber;
    int errorFreqMins = Settings::ErrorConnectionFreq.defaultNumber;
    int pollTimeoutMins = Settings::PollTimeout.defaultNumber;
    int connectionTimeoutSecs = Settings::ConnectionTimeout.defaultNumber;
    bool visualAlert = Settings::VisualAlert.defaultBool();
    bool desktopNotifications = Settings::DesktopNotifications.defaultBool();
    bool noConnAppLaunch = Settings::NoConnAppLaunch.defaultBool();
    int noConnFailures = Settings::NoConnFailures.defaultNumber;
    bool noConnRepeatLaunch = Settings::NoConnRepeatLaunch.defaultBool();
    QString noConnProgName;
    bool useProxy = Settings::UseHttpProxy.defaultBool();
    QString proxyHost;
    int proxyPort = Settings::HttpProxyPort.defaultNumber;
    int certWarnDays = Settings::CertWarnDays.defaultNumber;
    int parallelChecks = Settings::ParallelChecks.defaultNumber;
};

// One pass over every service, failure tracking with its alerts, the poll
// timer, the poll time-out and the timer switch. Runs on the main thread; the
// window stays responsive because every wait runs the event loop.
class PollCycle : public QObject {
    Q_OBJECT
public:
    struct Environment {
        std::function<LiveSettings()> settings;
        std::function<bool()> internetConnected;
        std::function<QDateTime()> now;
        QLocale locale;
        // One probe, run to its end while the event loop keeps running, and
        // the way to wake it at once on abort.
        std::function<ProbeResult(const ServiceTarget &, const QString &pattern, const ProbeSettings &,
                                  std::function<bool()> abortRequested)>
            probe;
        std::function<void()> abortProbe;
        // Probes side by side, for ParallelChecks above 1; without them the
        // services are checked one at a time whatever the setting.
        ConcurrentProbes *probes = nullptr;
        // The poll timers' steady clock and longest single wait; empty and
        // 0 mean the system's clock and the timer's own default.
        std::function<qint64()> steadyClockMs;
        qint64 timerMaxShotMs = 0;
        // Snoozed and acknowledged services; none when not given.
        AlertHold *hold = nullptr;
        // Where each result's response time goes; none when not given.
        ResponseHistory *history = nullptr;
    };

    PollCycle(const ProgramContext &context, PollView &view, AlertActions &alerts, Environment environment,
              QObject *parent = nullptr);
    ~PollCycle() override;

    // "Go", "Poll now" and the poll timer. Ignored while a cycle runs;
    // while starts are held, the latest request waits for the release.
    void run(const QStringList &services);
    // Held while something that must not be interrupted by a whole cycle
    // (an e-mail being sent) waits in an event loop of its own.
    void holdStarts(bool hold);
    bool hasHeldStart() const { return m_heldStart.has_value(); }
    bool isRunning() const { return m_running; }
    // The connection is there again: when the last poll found none and the
    // timer switch is on, poll now instead of waiting out the interval.
    void connectionRestored();
    // The Abort button and the poll time-out.
    void abort();
    bool abortRequested() const { return m_abortRequested; }

    // The timer switch: on when off and the normal interval is above 0,
    // otherwise off.
    void toggleTimerSwitch();
    bool timerSwitchOn() const { return m_timerOn; }
    void setPollInterval(int minutes);

    QStringList onErrorList() const { return m_onErrorList; }
    // The time stamp of the last "Poll finished at: " line, empty before.
    QString lastFinished() const { return m_lastFinished; }
    // Polls handled since start, also those that found no connection.
    int pollsHandled() const { return m_pollsHandled; }
    IntervalTimer *sessionTimer() const { return m_sessionTimer; }
    // Alerts that did not go through, as the error log and the window tell.
    AlertFailures *alertFailures() const { return m_alertFailures; }
    IntervalTimer *problemTimer() const { return m_problemTimer; }
    // The service list the poll timer walks.
    void setServiceListProvider(std::function<QStringList()> provider);
    // A service was snoozed, acknowledged or resumed between cycles: the
    // services-on-error window shows it at once.
    void holdsChanged();

    static QString marker() { return QStringLiteral(" <<<<<<<<<<<<"); }

    // "<service>\t<expiry date>" for each service of the list whose
    // certificate, as last seen, ends within the warning days (none while
    // they are 0).
    QStringList certificatesExpiring() const;
    // The certificates https probes saw, as last seen.
    const CertificateWatch &certificateWatch() const { return m_certificates; }

signals:
    void cycleFinished();
    // A service's probe came to a result (before its alerts run).
    void serviceChecked(const QString &service, const HistoryPoint &point);

private:
    struct ServiceValues;
    // What follows from a service's name alone, worked out once.
    struct KnownService {
        std::optional<ServiceTarget> target;
        QString key;
        QString logPath;
        QString trayHint;
        QString progressText;
    };
    const KnownService &knownService(const QString &name);

    QString stamp() const;
    bool startWithoutConnection();
    void startCycle();
    void walk(const QStringList &services);
    void walkParallel(const QStringList &services, int atOnce);
    // Reads the values of a service's turn; the name's parts come back.
    const KnownService &loadServiceValues(const QString &name, ServiceValues &v);
    static ProbeSettings probeSettings(const LiveSettings &live);
    // A service's result goes to the history, failure tracking and the
    // certificate watch.
    void handOver(const ServiceTarget &target, const ServiceValues &v, const ProbeResult &result);
    void connectionLost();
    void endCycle();
    void handleSuccess(const ServiceTarget &target, const ServiceValues &values, const QString &code);
    void handleFailure(const ServiceTarget &target, const ServiceValues &values, const ProbeResult &result);
    void firstFailureAlerts(const ServiceTarget &target, const ServiceValues &values, int n, const QString &line);
    void listedFailureRules(const ServiceTarget &target, const ServiceValues &values, int n, const QString &line);
    void notifyDesktop(const ServiceValues &values, bool onError, const QString &line, bool still = false);
    void launch(const QString &serviceName, const QString &which, const QString &commandLine);
    void playSound(const QString &serviceName, bool onError);
    void sendMail(const ServiceValues &values, bool onError);
    void errorSummaryToWindow();
    // Whether the services-on-error window has something to alert about:
    // no connection, or a service on error whose alerts are not held back.
    bool anythingUnheld() const;
    // The moment as OutageStart and OutageEnd keep it: UTC, ISO 8601.
    QString utcStamp() const;
    // A new outage begins: its start, and no end yet.
    void noteOutageStart(const ServiceValues &v);
    // An https probe saw this certificate: warns, at most once a day for
    // one certificate, when it ends soon.
    void certificateSeen(const ServiceValues &v, const PeerCertificate &certificate);
    // The result's point for the response time history and the window.
    void recordResult(const QString &service, const ProbeResult &result);

    ProgramContext m_context;
    SettingsAccess m_settings;
    PollView &m_view;
    AlertActions &m_alerts;
    Environment m_env;
    IntervalTimer *m_sessionTimer;
    IntervalTimer *m_problemTimer;
    AlertFailures *m_alertFailures;
    std::function<QStringList()> m_services;
    bool m_startsHeld = false;
    std::optional<QStringList> m_heldStart;

    QStringList m_onErrorList;
    // The services found on error in this (or the last) cycle, in order.
    struct SummaryEntry {
        QString tag;
        QString name;
        AlertHoldState hold;
    };
    QList<SummaryEntry> m_errorSummary;
    // Services on error whose going-on-error alerts were held back; they
    // are raised once the hold ends while the service is still on error.
    QSet<QString> m_withheld;
    QString m_lastFinished;
    int m_pollsHandled = 0;
    bool m_overallError = false;
    bool m_noConnCountCleared = false;
    int m_sitesOnError = 0;
    QHash<QString, KnownService> m_known;
    bool m_running = false;
    bool m_abortRequested = false;
    // The probes of a walk over several services at once, while it runs.
    InOrderProbes *m_ordered = nullptr;
    bool m_timerOn = false;
    CertificateWatch m_certificates;
    // No clock was given: the response time history takes the system's.
    bool m_systemClock = false;
};
