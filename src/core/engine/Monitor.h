#pragma once

#include "alerts/AlertActions.h"
#include "alerts/AlertHold.h"
#include "config/ProgramContext.h"
#include "engine/PollCycle.h"
#include "engine/PollView.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class AlertFailures;
class ConcurrentProbes;
class ConnectionWatcher;
class ProbeFleet;
class DesktopNotifier;
class IntervalTimer;
class Prober;
class RecentInternetCheck;
class ResponseHistory;

// The running monitor: it owns the prober, the poll cycle with its timers,
// the connection check and its watcher, and answers to intents (poll now,
// abort, the timer switch, exit). What a cycle shows leaves it as signals,
// so the main window, the tray, the D-Bus adaptor and the benchmarks all
// follow the same object and none of them reaches into another.
//
// What it needs from its surroundings comes in through setters: the live
// global settings, the service list, the alert actions and the points
// where the window may handle its events during a cycle. Until they are
// set it polls nothing and alerts no one.
class Monitor : public QObject, private PollView, private AlertActions {
    Q_OBJECT
public:
    // Replacements for the real probe and connection check, for tests and
    // benchmarks; the defaults are the program's own.
    struct Overrides {
        std::function<ProbeResult(const ServiceTarget &, const QString &pattern, const ProbeSettings &,
                                  std::function<bool()> abortRequested)>
            probe;
        std::function<void()> abortProbe;
        // Probes side by side for ParallelChecks above 1 (not taken over);
        // with a replaced probe and none given, one at a time.
        ConcurrentProbes *probes = nullptr;
        std::function<bool()> internetConnected;
        bool watchConnection = true;
        // The clock snoozes and the cycle go by.
        std::function<QDateTime()> now;
        // Where desktop notifications go (not taken over); the session
        // bus's notification server when not given.
        DesktopNotifier *notifier = nullptr;
        // The response time history's file; "history.sqlite" in the
        // program folder when empty.
        QString historyPath;
    };

    enum class HoldOutcome { Done, UnknownService, NotOnError, BadMinutes, StoreFailed };

    explicit Monitor(const ProgramContext &context, QObject *parent = nullptr);
    Monitor(const ProgramContext &context, Overrides overrides, QObject *parent = nullptr);
    ~Monitor() override;

    void setSettingsSource(std::function<LiveSettings()> settings);
    void setServiceListProvider(std::function<QStringList()> services);
    void setAlertActions(AlertActions *alerts);
    void setEventPump(std::function<void()> pump);
    std::function<void()> eventPump() const { return m_pump; }

    // Intents.
    // "Go", "Poll now", D-Bus: a cycle over the service list; ignored while
    // one runs, held while an e-mail is on its way.
    void pollNow();
    void abort();
    void toggleTimer();
    void setPollInterval(int minutes);
    // The orderly end: a running probe is aborted, nothing new starts, and
    // exitReady follows once an e-mail on its way is through.
    void requestExit();
    // An e-mail is being sent in an event loop of its own; nothing may
    // start a cycle inside that wait or end the program under it.
    void setMailInFlight(bool sending);

    // Snooze, acknowledge and resume a service of the list (its name in any
    // letter case). Acknowledging needs the service to be on error.
    HoldOutcome snooze(const QString &service, int minutes);
    HoldOutcome acknowledge(const QString &service);
    HoldOutcome resume(const QString &service);
    // The tray's "Snooze all alerts for 1 hour" and "Resume alerts".
    void snoozeAll(int minutes);
    void resumeAll();
    // The services of the list whose alerts are held back now.
    QStringList heldBack() const;
    AlertHoldState holdState(const QString &service) const;
    // The holds of these services, in their order; none where the store
    // cannot be read.
    QList<AlertHoldState> holdStates(const QStringList &services) const;
    AlertHold *alertHold() const { return m_hold; }
    DesktopNotifier *notifier() const { return m_notifier; }
    // The service list as it is now.
    QStringList services() const { return m_services ? m_services() : QStringList(); }
    // The listed service of that name in any letter case; empty when none.
    QString findService(const QString &service) const;

    bool isPolling() const;
    bool timerOn() const;
    bool isExiting() const { return m_exiting; }
    QStringList onErrorList() const;
    QString lastPollFinished() const;
    int pollsHandled() const;
    IntervalTimer *sessionTimer() const;
    AlertFailures *alertFailures() const;
    PollCycle *cycle() const { return m_cycle; }
    // "<service>\t<expiry date>" for each listed https service whose
    // certificate, as last seen, ends within the warning days.
    QStringList certificatesExpiring() const;
    // Every service's response times; the windows read it.
    ResponseHistory *history() const { return m_history.get(); }

signals:
    void statusLine(const QString &line);
    void statusCleared();
    void progressText(const QString &text);
    void errorPanel(const QString &text, PollView::Image image);
    void trayHint(const QString &text);
    void trayIcon(PollView::TrayIcons set, bool cycling);
    void cycleRunning(bool running);
    void abortEnabled(bool enabled);
    void timerSwitchShown(bool on);
    void errorWindowText(const QString &text);
    void errorWindowBordered(bool bordered);
    void errorWindowWordWrap(bool on);
    void errorWindowShown(bool shown);
    void showOnErrorChecked(bool checked);
    void onErrorListChanged(const QStringList &services);
    // A service was snoozed, acknowledged or resumed.
    void holdChanged();
    // "Open" in a service's notification: show the service.
    void openServiceRequested(const QString &service);
    // A service's probe came to a result: its time, response time and state.
    void serviceChecked(const QString &service, const HistoryPoint &point);
    void cycleFinished();
    // Exit was asked for: windows may go now.
    void exitRequested();
    // Nothing is left to finish: the program may end.
    void exitReady();

private:
    // PollView: what the cycle shows, passed on as signals.
    void statusAppend(const QString &line) override { emit statusLine(line); }
    void statusClear() override { emit statusCleared(); }
    void setProgressText(const QString &text) override { emit progressText(text); }
    void setErrorPanel(const QString &text, Image image) override { emit errorPanel(text, image); }
    void setTrayHint(const QString &text) override { emit trayHint(text); }
    void setTrayIcon(TrayIcons set, bool cycling) override { emit trayIcon(set, cycling); }
    void setCycleRunning(bool running) override { emit cycleRunning(running); }
    void setAbortEnabled(bool enabled) override { emit abortEnabled(enabled); }
    void setTimerSwitchShown(bool on) override { emit timerSwitchShown(on); }
    void errorWindowSetText(const QString &text) override { emit errorWindowText(text); }
    void errorWindowSetBordered(bool bordered) override { emit errorWindowBordered(bordered); }
    void errorWindowSetWordWrap(bool on) override { emit errorWindowWordWrap(on); }
    void errorWindowShow() override { emit errorWindowShown(true); }
    void errorWindowHide() override { emit errorWindowShown(false); }
    void setShowOnErrorChecked(bool checked) override { emit showOnErrorChecked(checked); }
    void processEvents() override;

    // AlertActions: handed on to the window's, once it has set them.
    QString playAlertSound(const QString &serviceName, bool onError) override;
    void launchProgram(const QString &commandLine) override;
    MailOutcome sendAlertMail(const QString &serviceName, const QString &templatePath,
                              const QString &recipients) override;
    void reportError(const QString &message) override;
    void notifyDesktop(const DesktopNotice &notice) override;
    MailOutcome sendCertificateMail(const QString &serviceName, const QString &templatePath,
                                    const QString &recipients, const QString &certExpiry) override;
    void notifyCertificate(const CertificateNotice &notice) override;

    void notificationAction(const QString &service, const QString &key);
    HoldOutcome changeHold(const QString &service, const std::function<void(const QString &)> &change);

    ProgramContext m_context;
    Prober *m_prober = nullptr;
    std::unique_ptr<ProbeFleet> m_fleet;
    std::shared_ptr<RecentInternetCheck> m_connection;
    ConnectionWatcher *m_watcher = nullptr;
    AlertHold *m_hold = nullptr;
    DesktopNotifier *m_notifier = nullptr;
    PollCycle *m_cycle = nullptr;
    std::unique_ptr<ResponseHistory> m_history;
    std::function<LiveSettings()> m_settings;
    std::function<QStringList()> m_services;
    std::function<void()> m_pump;
    AlertActions *m_alerts = nullptr;
    QStringList m_lastOnError;
    bool m_exiting = false;
    bool m_mailInFlight = false;
};
