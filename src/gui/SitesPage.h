#pragma once

#include "config/ProgramContext.h"
#include "config/Settings.h"
#include "stats/ResponseFigures.h"

#include <QStringList>
#include <QWidget>

#include <memory>

class AlertFailures;
class GuiAlertActions;
class Monitor;
class QLabel;
class QTimer;
class ResponseHistory;
class QLineEdit;
class SettingsBinder;
class TfrmEmail;
class TfrmInput;

namespace Ui {
class SitesPage;
}

// The Sites page: the service list with Add, Edit and Remove, and the
// selected service's alert controls. It keeps the list and the store's
// service keys in step, and its "Test" buttons perform an alert at once.
class SitesPage : public QWidget {
    Q_OBJECT
public:
    SitesPage(const ProgramContext &context, GuiAlertActions *alerts, AlertFailures *failures,
              QWidget *parent = nullptr);
    ~SitesPage() override;

    // The site input and message composer windows, created after this page.
    void setWindows(TfrmInput *input, TfrmEmail *email);
    // Snoozed and acknowledged services are marked in the list, and the
    // selected one's hold is shown with its Resume button.
    void followHolds(Monitor *monitor);
    // Each service's state and last response time in the list, and the
    // selected one's response times below it, updated as results come in.
    void followResults(Monitor *monitor);
    // The selected service's response times as the page shows them.
    QString responseTimesText() const;
    // Selects the service of that name, when listed.
    void selectService(const QString &name);
    // The selected service's hold as the page shows it; empty when none.
    QString holdText() const;
    // How long a snooze has left, as the page says it (a minute begun counts).
    static QString snoozeText(qint64 secondsLeft);
    static QString acknowledgedText();

    // Fills the list from the store and selects the service selected last
    // time, then loads its values.
    void loadServices();
    // Remembers the selected service for the next start.
    void saveSelection() const;

    QStringList serviceNames() const;
    QString selectedService() const;
    const SettingsBinder *serviceSettings() const { return m_binder; }

    // Add, Edit and Remove are off while a poll cycle runs.
    void setCycleRunning(bool running);
    // The program is ending: a test e-mail's answer is no longer shown.
    void setExiting() { m_exiting = true; }

    void butAddServiceClick();
    void butEditServiceClick();
    void butDelServiceClick();
    // "Save" in the site input window: adds or renames the service.
    void butSaveSiteClick();
    // Loads the selected service's values into the alert controls.
    void ServiceListClick();

private:
    void bindAlertControls();
    void saveAddition();
    void saveEdit();
    // After the list's items changed: its scroll extent and the buttons.
    void serviceListChanged();
    // Enables Add, Edit and Remove as the selection and a running cycle allow.
    void updateServiceButtons();
    // Marks the held services and shows the selected one's hold.
    void refreshHolds();
    // Response times: every item's state from the history, one item's from
    // a new result, and the selected service's figures.
    void refreshServiceStates();
    void showResult(const QString &service, const HistoryPoint &point);
    void updateResponseFigures();

    // The enabling rules the binder runs when their boxes change.
    void chkSoundAlertClick(bool on);
    void chkLaunchAppClick(bool on);
    void chkSendEmailClick(bool on);
    // A file chosen in the file dialog, starting in folder (else where the
    // field's file is); empty when cancelled.
    QString pickFile(QLineEdit *edit, const QString &folder, const QString &filter);
    void playSoundFile(QLineEdit *edit);
    void testProgram(QLineEdit *edit);
    void testEmail(QLineEdit *templateEdit, QLineEdit *recipientsEdit);

    ProgramContext m_context;
    SettingsAccess m_settings;
    std::unique_ptr<Ui::SitesPage> ui;
    GuiAlertActions *m_alerts;
    AlertFailures *m_failures;
    SettingsBinder *m_binder = nullptr;
    TfrmInput *m_input = nullptr;
    TfrmEmail *m_email = nullptr;
    bool m_buttonsAllowed = true;
    bool m_exiting = false;
    Monitor *m_monitor = nullptr;
    QTimer *m_holdRefresh = nullptr;
    QLabel *m_lblResponseTimes = nullptr;
    ResponseHistory *m_history = nullptr;
    std::function<qint64()> m_nowMs;
    int m_lastResultRow = -1;
};
