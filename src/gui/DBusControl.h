#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <optional>

class Monitor;
class TfrmMain;

// The running program on the session bus: the tray menu's actions and a few
// read-only facts, so scripts and desktop tools can drive the monitor.
//   service  org.kestrin.Quellmark (org.kestrin.QuellmarkTest in test mode)
//   object   /
//   methods  PollNow, ToggleTimer, Restore, ShowServicesOnError, ShowStats, Exit,
//            Snooze(s service, u minutes), Acknowledge(s service), Resume(s service)
//   props    TimerOn, Polling, OnErrorList, LastPollFinished, PollsHandled,
//            WindowShown, HeldBack, CertificatesExpiring
//   signals  PollFinished(i servicesChecked, i onError, i durationMs), and
//            org.freedesktop.DBus.Properties.PropertiesChanged whenever a
//            property's value changes
// Methods only queue their action and return at once, so a caller never
// waits for a whole poll cycle; Snooze, Acknowledge and Resume are done
// when they return, and answer an unknown service with an error.
class DBusControl : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kestrin.Quellmark")
    Q_PROPERTY(bool TimerOn READ timerOn)
    Q_PROPERTY(bool Polling READ polling)
    Q_PROPERTY(QStringList OnErrorList READ onErrorList)
    Q_PROPERTY(QString LastPollFinished READ lastPollFinished)
    Q_PROPERTY(int PollsHandled READ pollsHandled)
    Q_PROPERTY(bool WindowShown READ windowShown)
    Q_PROPERTY(QStringList HeldBack READ heldBack)
    Q_PROPERTY(QStringList CertificatesExpiring READ certificatesExpiring)

public:
    // The engine's facts and intents come from the monitor; showing windows
    // is the main window's.
    DBusControl(Monitor *monitor, TfrmMain *window);

    static QString serviceName(bool testMode);
    // Registers on the session bus; false (and the program runs as before)
    // when there is no bus or the name is taken.
    bool registerOnSessionBus(bool testMode);
    // A second start's side: asks the program running in that mode to show
    // its window (Restore). False when there is no bus or no such program.
    // Needs an application object.
    static bool showRunningInstance(bool testMode);

    bool timerOn() const;
    bool polling() const;
    QStringList onErrorList() const;
    QString lastPollFinished() const;
    int pollsHandled() const;
    // The main window is on the screen (not in the tray, not minimised).
    bool windowShown() const;
    // The services whose alerts are snoozed or acknowledged now.
    QStringList heldBack() const;
    // "<service>\t<expiry date, ISO 8601>" for each https service whose
    // certificate ends within the warning days.
    QStringList certificatesExpiring() const;

    static QString unknownServiceError() { return QStringLiteral("org.kestrin.Quellmark.Error.UnknownService"); }
    static QString notOnErrorError() { return QStringLiteral("org.kestrin.Quellmark.Error.NotOnError"); }
    static QString failedError() { return QStringLiteral("org.kestrin.Quellmark.Error.Failed"); }

    // Compares every property with the value last announced and announces
    // those that changed in one PropertiesChanged. Run on the monitor's
    // and the window's changes, and now and then for what changes with
    // time alone (a snooze running out, a certificate's days).
    void announceChanges();

signals:
    // A poll ended: the services it checked, how many of them failed and how
    // long it took.
    void PollFinished(int servicesChecked, int onError, int durationMs);

public slots:
    void PollNow();
    void ToggleTimer();
    void Restore();
    void ShowServicesOnError();
    void ShowStats();
    void Exit();
    void Snooze(const QString &service, uint minutes);
    void Acknowledge(const QString &service);
    void Resume(const QString &service);

private:
    // Turns what the monitor made of a hold request into the reply.
    void answer(int outcome, const QString &service);

    bool eventFilter(QObject *watched, QEvent *event) override;
    QVariantMap propertyValues() const;
    void cycleRunning(bool running);
    void cycleFinished();

    static constexpr int RestoreCallTimeoutMs = 5000;
    static constexpr int TimeChecksMs = 30000;
    Monitor *m_monitor;
    TfrmMain *m_window;
    std::optional<QDBusConnection> m_bus;
    QVariantMap m_announced;
    bool m_announceQueued = false;
    QElapsedTimer m_cycleClock;
    int m_checked = 0;
    int m_failed = 0;
};
