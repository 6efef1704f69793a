#pragma once

#include "config/ProgramContext.h"
#include "config/Settings.h"
#include "engine/PollView.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QWidget>

#include <memory>

class GeneralPage;
class GuiAlertActions;
class IntervalTimer;
class MainStatusBar;
class MetricsExport;
class MiscPage;
class Monitor;
class PollCycle;
class SitesPage;
struct LiveSettings;
struct SmtpSettings;
class QAction;
class QStatusBar;
class QTimer;
class SettingsBinder;
class TKAboutBox;
class TKBackup;
class TfrmEmail;
class TfrmError;
class TfrmInput;
class TfrmStats;
class TrayIcon;

namespace Ui {
class TfrmMain;
}

// The main window: the top bar, the pages (General, Sites, Misc, About),
// the status bar and the tray icon. It feeds the monitor the pages' live
// values and the service list, shows what the monitor reports, and turns
// the buttons and tray entries into the monitor's intents. It prepares
// itself in a fixed order at creation and saves its position when it is
// destroyed.
class TfrmMain : public QWidget {
    Q_OBJECT
public:
    struct Windows {
        TfrmError *error = nullptr;
        TfrmStats *stats = nullptr;
        TfrmInput *input = nullptr;
        TfrmEmail *email = nullptr;
    };

    // Without a monitor the window makes one of its own.
    explicit TfrmMain(const ProgramContext &context, Monitor *monitor = nullptr, QWidget *parent = nullptr);
    ~TfrmMain() override;

    // The other windows are created after this one; they are handed over here.
    void attachWindows(const Windows &windows);
    // Shows the window, or leaves it in the tray when "Start minimized" is on.
    void showAtStart();

    const ProgramContext &context() const { return m_context; }
    TKBackup *backupFrame() const;
    SitesPage *sitesPage() const { return m_sites; }
    QStringList onErrorList() const;
    bool isTimerOn() const;
    PollCycle *pollCycle() const { return m_cycle; }
    Monitor *monitor() const { return m_monitor; }
    MetricsExport *metrics() const { return m_metrics; }
    bool hasTray() const;
    IntervalTimer *sessionTimer() const;
    QStatusBar *statusBar() const;
    QAction *timerAction() const;
    QAction *urlsOnErrorAction() const;

    // Tray and top-bar actions.
    void butToTrayClick();
    void restoreFromTray();
    // The main window on the Sites page with the service selected.
    void showService(const QString &service);
    void mnuUrlsOnErrorClick();
    void butStatsClick();
    void butTimerClick();
    void butHelpClick();
    // The orderly end: abort request (a running probe returns at once), the
    // windows go, then exitReady (once an e-mail on its way is through).
    void mnuExitClick();
    // "Go" and "Poll now": a poll cycle over the service list.
    void butStartClick();
    void butAbortClick();

    LiveSettings liveSettings() const;
    // The bound global values, and the selected service's values.
    const SettingsBinder *globalSettings() const { return m_globalBinder; }
    const SettingsBinder *serviceSettings() const;
    SmtpSettings smtpSettings() const;
    GuiAlertActions *alertActions() const { return m_alerts; }

    // What the status pane shows on a first start, until the first poll.
    static QString firstStartHint();

    // For checks: what the tray shows right now.
    QString trayHint() const { return m_trayHint; }
    // The tray icon's tool tip: the hint, and a line for alerts that did not
    // go through.
    QString trayToolTip() const;

signals:
    // A restore replaced the configuration: the program must start anew
    // (the owner releases the instance lock, restarts, then exits).
    void restartRequested();
    // "Exit" is done with everything that had to finish first: the program
    // may end (the owner quits the event loop). Passed on from the monitor.
    void exitReady();

protected:
    void changeEvent(QEvent *event) override;

private:
    void setUpPages();
    void setUpTray();
    void setUpStatusBar();
    // The metrics file and endpoint, as the Misc page sets them.
    void setUpMetrics();
    void followMonitor();

    // What the monitor reports, put into the window.
    void statusAppend(const QString &line);
    void statusClear();
    void setProgressText(const QString &text);
    void setErrorPanel(const QString &text, PollView::Image image);
    void setTrayHint(const QString &text);
    void setTrayIcon(PollView::TrayIcons set, bool cycling);
    void setCycleRunning(bool running);
    void setAbortEnabled(bool enabled);
    void setTimerSwitchShown(bool on);
    void setShowOnErrorChecked(bool checked);
    // Where the cycle lets the window handle its events.
    void processEvents();

    // Puts the status lines, progress text and tray hint a running cycle
    // has given since the last time into the window.
    void flushDisplay();
    void applyTrayToolTip();
    // Exit was asked for: the other windows go, and this one too while an
    // e-mail still holds the end back.
    void closeForExit();
    void showAlertFailures();
    // What "Visual alert" does beyond storing its state: shows or hides the
    // services-on-error window when services are on error.
    void visualAlertClicked(bool on);

    ProgramContext m_context;
    SettingsAccess m_settings;
    std::unique_ptr<Ui::TfrmMain> ui;
    Windows m_windows;
    GeneralPage *m_general = nullptr;
    SitesPage *m_sites = nullptr;
    MiscPage *m_misc = nullptr;
    MetricsExport *m_metrics = nullptr;
    TKAboutBox *m_about = nullptr;
    MainStatusBar *m_statusBar = nullptr;
    TrayIcon *m_tray = nullptr;
    GuiAlertActions *m_alerts = nullptr;
    Monitor *m_monitor = nullptr;
    PollCycle *m_cycle = nullptr;
    QString m_trayHint;
    // While a cycle runs, what it shows is gathered and put into the window
    // a few times a second rather than once per service: a cycle over
    // hundreds of fast services would otherwise spend most of its time
    // laying out and painting lines nobody can read at that speed.
    bool m_batchDisplay = false;
    QStringList m_pendingStatus;
    QString m_pendingProgress;
    bool m_progressPending = false;
    bool m_trayHintPending = false;
    QTimer *m_displayFlush = nullptr;
    static constexpr int DisplayFlushMs = 100;
    QElapsedTimer m_eventsClock;
    qint64 m_lastEventsMs = -1;
    static constexpr int EventsIntervalMs = 10;
    static constexpr int SnoozeAllMinutes = 60;
    // The General and Misc pages' values.
    SettingsBinder *m_globalBinder = nullptr;
    bool m_startMinimized = false;
};
