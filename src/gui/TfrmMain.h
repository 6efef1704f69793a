#pragma once

#include "config/ProgramContext.h"
#include "config/Settings.h"
#include "engine/PollView.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

class GuiAlertActions;
class IntervalTimer;
class Monitor;
class PollCycle;
struct LiveSettings;
struct SmtpSettings;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
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

// The main window: top bar, the General, Sites, Misc and About pages, the
// status bar and the tray icon. It prepares itself in a fixed order at
// creation, holds the live global settings in its controls and saves its
// position when it is destroyed.
class TfrmMain : public QWidget, public PollView {
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
    TKBackup *backupFrame() const { return m_backup; }
    QStringList onErrorList() const;
    bool isTimerOn() const;
    PollCycle *pollCycle() const { return m_cycle; }
    Monitor *monitor() const { return m_monitor; }
    bool hasTray() const;
    IntervalTimer *sessionTimer() const;
    QStatusBar *statusBar() const { return m_statusBar; }
    QAction *timerAction() const;
    QAction *urlsOnErrorAction() const;

    // Tray and top-bar actions.
    void butToTrayClick();
    void restoreFromTray();
    void mnuUrlsOnErrorClick();
    void butStatsClick();
    void butTimerClick();
    void butHelpClick();

    // Sites page.
    void butAddServiceClick();
    void butEditServiceClick();
    void butDelServiceClick();
    void butSaveSiteClick();
    // Loads the selected service's values into the Sites page.
    void ServiceListClick();
    // The orderly end: abort request (a running probe returns at once), the
    // windows go, then exitReady (once an e-mail on its way is through).
    void mnuExitClick();
    // "Go" and "Poll now": a poll cycle over the service list.
    void butStartClick();
    void butAbortClick();
    LiveSettings liveSettings() const;
    // The bound global values, and the selected service's values.
    const SettingsBinder *globalSettings() const { return m_globalBinder; }
    const SettingsBinder *serviceSettings() const { return m_serviceBinder; }
    SmtpSettings smtpSettings() const;
    GuiAlertActions *alertActions() const { return m_alerts; }

    // PollView
    void statusAppend(const QString &line) override;
    void statusClear() override;
    void setProgressText(const QString &text) override;
    void setErrorPanel(const QString &text, Image image) override;
    void setTrayHint(const QString &text) override;
    void setTrayIcon(TrayIcons set, bool cycling) override;
    void setCycleRunning(bool running) override;
    void setAbortEnabled(bool enabled) override;
    void setTimerSwitchShown(bool on) override;
    void errorWindowSetText(const QString &text) override;
    void errorWindowSetBordered(bool bordered) override;
    void errorWindowSetWordWrap(bool on) override;
    void errorWindowShow() override;
    void errorWindowHide() override;
    void setShowOnErrorChecked(bool checked) override;
    void processEvents() override;

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
    void setUpControls();
    void setUpTray();
    void setUpStatusBar();
    void connectHandlers();
    void fillServiceList();
    void saveAddition();
    void saveEdit();
    // After the list's items changed: its scroll extent and the buttons.
    void serviceListChanged();
    // Enables Add, Edit and Remove as the selection and a running cycle allow.
    void updateServiceButtons();
    QString selectedService() const;
    QStringList serviceNames() const;
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
    // Handlers the binder calls: the enabling rule of a check box, or what
    // follows its stored value; the file picker of the no-connection program.
    void chkNoConnAppLaunchClick(bool on);
    QString butBrowse7Click();
    void chkLaunchClick();
    void UseHttpProxyClick(bool on);
    void chkReqSmtpAuthClick(bool on);
    void chkSoundAlertClick(bool on);
    void chkLaunchAppClick(bool on);
    void chkSendEmailClick(bool on);
    void chkVisualAlertClick();
    // Sites page: the alert controls of the selected service.
    void setUpAlertControls();
    // A file chosen in the file dialog, starting in folder (else where the
    // field's file is); empty when cancelled.
    QString pickFile(QLineEdit *edit, const QString &folder, const QString &filter);
    void playSoundFile(QLineEdit *edit);
    void testProgram(QLineEdit *edit);
    void testEmail(QLineEdit *templateEdit, QLineEdit *recipientsEdit);

    // Runs a handler and shows a store failure in an error box (over the
    // given window, else this one); false when it failed.
    bool guarded(const std::function<void()> &action, QWidget *over = nullptr);

    ProgramContext m_context;
    SettingsAccess m_settings;
    std::unique_ptr<Ui::TfrmMain> ui;
    Windows m_windows;
    TKAboutBox *m_about = nullptr;
    TKBackup *m_backup = nullptr;
    QStatusBar *m_statusBar = nullptr;
    QLabel *m_panelProgress = nullptr;
    QLabel *m_panelErrors = nullptr;
    QLabel *m_panelAlerts = nullptr;
    static constexpr int AlertPanelWidth = 280;
    TrayIcon *m_tray = nullptr;
    GuiAlertActions *m_alerts = nullptr;
    Monitor *m_monitor = nullptr;
    PollCycle *m_cycle = nullptr;
    QLabel *m_panelErrorsImage = nullptr;
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
    // The General and Misc pages' values, and the selected service's on the
    // Sites page.
    SettingsBinder *m_globalBinder = nullptr;
    SettingsBinder *m_serviceBinder = nullptr;
    bool m_exiting = false;
    bool m_startMinimized = false;
    // Off while a poll cycle runs.
    bool m_serviceButtonsAllowed = true;
};
