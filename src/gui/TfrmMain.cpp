#include "TfrmMain.h"

#include "AppIcons.h"
#include "BoundedSpinBox.h"
#include "Dialogs.h"
#include "FocusOutWatcher.h"
#include "GuiAlertActions.h"
#include "HelpFile.h"
#include "ListExtent.h"
#include "SettingsBinder.h"
#include "SoundPlayer.h"
#include "TfrmEmail.h"
#include "TfrmError.h"
#include "TfrmInput.h"
#include "TfrmStats.h"
#include "TrayIcon.h"
#include "TKAboutBox.h"
#include "TKBackup.h"
#include "ui_TfrmMain.h"

#include "alerts/AlertMail.h"
#include "alerts/AlertSound.h"
#include "alerts/ProgramLauncher.h"
#include "base/FileError.h"
#include "config/Registry.h"
#include "config/RegistryStore.h"
#include "config/ServiceNames.h"
#include "config/Settings.h"
#include "engine/AlertFailures.h"
#include "engine/IntervalTimer.h"
#include "engine/Monitor.h"
#include "engine/PollCycle.h"
#include "platform/Autostart.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QWindowStateChangeEvent>

namespace {
void setAllEnabled(std::initializer_list<QWidget *> widgets, bool on)
{
    for (QWidget *w : widgets)
        w->setEnabled(on);
}
} // namespace

TfrmMain::TfrmMain(const ProgramContext &context, Monitor *monitor, QWidget *parent)
    : QWidget(parent), m_context(context), m_settings(m_context), ui(std::make_unique<Ui::TfrmMain>())
{
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowIcon(AppIcons::application());

    // Program folder, settings root and error log were fixed by the caller
    // (ProgramContext); the folder work is done here in start-up order.
    m_context.prepareProgramFolder();

    setUpTray();
    m_alerts = new GuiAlertActions(this, m_context, [this] { return smtpSettings(); });
    // The engine runs in the monitor; this window feeds it the live settings
    // and the service list, performs its alerts and shows what it reports.
    m_monitor = monitor ? monitor : new Monitor(m_context, this);
    m_cycle = m_monitor->cycle();
    m_monitor->setSettingsSource([this] { return liveSettings(); });
    m_monitor->setServiceListProvider([this] { return serviceNames(); });
    m_monitor->setAlertActions(m_alerts);
    m_monitor->setEventPump([this] { processEvents(); });
    m_alerts->setFailureRecord(m_monitor->alertFailures());
    connect(m_alerts, &GuiAlertActions::sendingChanged, m_monitor, &Monitor::setMailInFlight);
    connect(m_monitor, &Monitor::exitRequested, this, &TfrmMain::closeForExit);
    connect(m_monitor, &Monitor::exitReady, this, &TfrmMain::exitReady);
    connect(m_monitor, &Monitor::statusLine, this, &TfrmMain::statusAppend);
    connect(m_monitor, &Monitor::statusCleared, this, &TfrmMain::statusClear);
    connect(m_monitor, &Monitor::progressText, this, &TfrmMain::setProgressText);
    connect(m_monitor, &Monitor::errorPanel, this, &TfrmMain::setErrorPanel);
    connect(m_monitor, &Monitor::trayHint, this, &TfrmMain::setTrayHint);
    connect(m_monitor, &Monitor::trayIcon, this, &TfrmMain::setTrayIcon);
    connect(m_monitor, &Monitor::cycleRunning, this, &TfrmMain::setCycleRunning);
    connect(m_monitor, &Monitor::abortEnabled, this, &TfrmMain::setAbortEnabled);
    connect(m_monitor, &Monitor::timerSwitchShown, this, &TfrmMain::setTimerSwitchShown);
    connect(m_monitor, &Monitor::showOnErrorChecked, this, &TfrmMain::setShowOnErrorChecked);
    m_eventsClock.start();
    m_displayFlush = new QTimer(this);
    m_displayFlush->setSingleShot(true);
    m_displayFlush->setInterval(DisplayFlushMs);
    connect(m_displayFlush, &QTimer::timeout, this, &TfrmMain::flushDisplay);

    m_about = new TKAboutBox(ui->aboutHost);
    auto *aboutLayout = new QVBoxLayout(ui->aboutHost);
    aboutLayout->setContentsMargins(0, 0, 0, 0);
    aboutLayout->addWidget(m_about);
    m_about->setApplication(m_context.title, m_context.versionText,
                            QStringLiteral("Site connectivity monitor: watches web, FTP, SMTP and POP3 "
                                           "services and tells you when they stop answering."),
                            QStringLiteral("Copyright © 2026 Kestrin Software. All rights reserved."));

    m_about->setProgramFolder(m_context.programFolder);

    m_backup = new TKBackup(ui->backupHost);
    auto *backupLayout = new QVBoxLayout(ui->backupHost);
    backupLayout->setContentsMargins(0, 0, 0, 0);
    backupLayout->addWidget(m_backup);
    m_backup->setContext(m_context);
    m_backup->setBackupPaths({m_context.programFolder + QStringLiteral("email")});
    connect(m_backup, &TKBackup::backupFinished, this,
            [this] { setProgressText(QStringLiteral("Finished backup.")); });
    connect(m_backup, &TKBackup::restartRequested, this, &TfrmMain::restartRequested);

    setWindowTitle(m_context.caption);

    setUpControls();
    setUpAlertControls();
    setUpStatusBar();

    move(0, 0);
    guarded([this] {
        const int top = m_settings.readInteger(Settings::Top);
        const int left = m_settings.readInteger(Settings::Left);
        move(left, top);
    });
    ui->PageControl->setCurrentWidget(ui->tabGeneral);

    fillServiceList();
    connectHandlers();
    m_globalBinder->load();
    ServiceListClick();

    m_startMinimized = ui->chkMinimized->isChecked();
    if (ui->chkTimerON->isChecked() && !m_cycle->timerSwitchOn()) {
        butTimerClick();
        m_cycle->setPollInterval(ui->spinNormalConnectionFreq->currentNumber());
    }

    // A fixed-size window that always fits its contents.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

TfrmMain::~TfrmMain()
{
    // Children lose the focus while they are torn down, after our members
    // are gone: nothing of theirs may call back into this window from now on.
    for (QObject *child : findChildren<QObject *>())
        child->disconnect(this);
    // A monitor that outlives the window no longer calls into it.
    m_monitor->disconnect(this);
    m_monitor->setSettingsSource({});
    m_monitor->setServiceListProvider({});
    m_monitor->setAlertActions(nullptr);
    m_monitor->setEventPump({});
    qDeleteAll(findChildren<FocusOutWatcher *>());
    // The binders' handlers use our members too.
    delete m_globalBinder;
    delete m_serviceBinder;

    // What must survive the run: where the window stood and which service
    // was selected.
    try {
        m_settings.writeInteger(Settings::Top, pos().y());
        m_settings.writeInteger(Settings::Left, pos().x());
        m_settings.writeInteger(Settings::LastService, ui->ServiceList->currentRow());
    } catch (const RegistryError &error) {
        qWarning("%s", qPrintable(error.message()));
    }
    m_tray->hide();
}

void TfrmMain::attachWindows(const Windows &windows)
{
    if (m_windows.input)
        disconnect(m_windows.input, nullptr, this, nullptr);
    if (m_windows.error && m_windows.error != windows.error)
        m_windows.error->follow(nullptr);
    m_windows = windows;
    // The services-on-error window follows the monitor by itself.
    if (m_windows.error)
        m_windows.error->follow(m_monitor);
    if (m_windows.input)
        connect(m_windows.input, &TfrmInput::saveRequested, this, &TfrmMain::butSaveSiteClick);
}

void TfrmMain::showAtStart()
{
    if (m_startMinimized) {
        // Being minimised it goes to the tray; without a tray it stays
        // reachable as a minimised window.
        if (m_tray->isPresent())
            hide();
        else
            showMinimized();
        return;
    }
    show();
}

// ---------------------------------------------------------------- controls

void TfrmMain::setUpControls()
{
    using namespace Settings;
    // The order in which start-up loads the global settings.
    auto *b = new SettingsBinder(
        m_settings, [this](const std::function<void()> &action) { return guarded(action); }, {},
        this);
    m_globalBinder = b;
    b->bindNumber(NormalConnectionFreq, ui->spinNormalConnectionFreq, 15, false);
    b->bindNumber(ErrorConnectionFreq, ui->spinErrorConnectionFreq, 5, false);
    b->bindNumber(PollTimeout, ui->spinPollTimeout, 5, false);
    b->bindNumber(ConnectionTimeout, ui->spinConnectionTimeout, 5, false);
    b->bindCheck(NoConnAppLaunch, ui->chkNoConnAppLaunch, [this](bool on) { chkNoConnAppLaunchClick(on); });
    b->bindNumber(NoConnFailures, ui->spinNoConnFailures, 1, true);
    b->bindCheck(NoConnRepeatLaunch, ui->chkNoConnRepeatLaunch);
    b->bindFile(NoConnProgName, ui->edtNoConnProgName, ui->butBrowse7, [this]() { return butBrowse7Click(); });
    b->bindCheck(TimerON, ui->chkTimerON);
    b->bindCheck(Minimized, ui->chkMinimized);
    b->bindCheck(Launch, ui->chkLaunch, {}, [this]() { chkLaunchClick(); });
    b->bindCheck(VisualAlert, ui->chkVisualAlert, {}, [this] { chkVisualAlertClick(); });
    b->bindCheck(UseHttpProxy, ui->UseHttpProxy, [this](bool on) { UseHttpProxyClick(on); });
    b->bindText(HttpProxyURL, ui->HTTPProxyURL);
    // Shown until the stored port (0 by default) is loaded.
    b->bindNumber(HttpProxyPort, ui->HTTPProxyPort, 5, false, 8088);
    b->bindText(SmtpServer, ui->edtSmtpServer);
    b->bindNumber(SmtpPort, ui->spinSmtpPort, 1, true);
    b->bindText(SmtpFrom, ui->edtSmtpFrom);
    b->bindCheck(ReqSmtpAuth, ui->chkReqSmtpAuth, [this](bool on) { chkReqSmtpAuthClick(on); });
    b->bindText(SmtpUser, ui->edtSmtpUser);
    b->bindText(SmtpPass, ui->edtSmtpPass);
    // 0 None, 1 STARTTLS, 2 SSL/TLS; written when the user picks one.
    b->bindChoice(SmtpSecurity, ui->cmbSmtpSecurity);
    connect(ui->butNoConnTestApp, &QToolButton::clicked, this,
            [this] { guarded([this] { LaunchProgram(ui->edtNoConnProgName->text()); }); });

    ui->butBrowse7->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    ui->butNoConnTestApp->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    ui->butAddService->setIcon(style()->standardIcon(QStyle::SP_FileDialogNewFolder));
    ui->butAddService->setText(QStringLiteral("+"));
    ui->butDelService->setIcon(style()->standardIcon(QStyle::SP_TrashIcon));
    ui->butEditService->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    ui->memoStatus->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    setTimerSwitchShown(false);
}

void TfrmMain::setUpStatusBar()
{
    m_statusBar = new QStatusBar(this);
    m_statusBar->setSizeGripEnabled(false);
    m_panelProgress = new QLabel(m_statusBar);
    m_panelProgress->setObjectName(QStringLiteral("panelProgress"));
    auto *errors = new QWidget(m_statusBar);
    // 100 pixels, or what "No sites on error" and a count need in this font.
    const QFontMetrics metrics(errors->font());
    errors->setFixedWidth(qMax(100, 16 + 12 + qMax(metrics.horizontalAdvance(QStringLiteral("No sites on error")),
                                                   metrics.horizontalAdvance(QStringLiteral("999 sites on error")))));
    auto *errorsLayout = new QHBoxLayout(errors);
    errorsLayout->setContentsMargins(2, 0, 2, 0);
    errorsLayout->setSpacing(4);
    m_panelErrorsImage = new QLabel(errors);
    m_panelErrorsImage->setFixedSize(16, 16);
    m_panelErrors = new QLabel(errors);
    m_panelErrors->setObjectName(QStringLiteral("panelErrors"));
    errorsLayout->addWidget(m_panelErrorsImage);
    errorsLayout->addWidget(m_panelErrors, 1);
    // Alerts that did not go through; hidden while all went.
    m_panelAlerts = new QLabel(m_statusBar);
    m_panelAlerts->setObjectName(QStringLiteral("panelAlerts"));
    m_panelAlerts->setMaximumWidth(AlertPanelWidth);
    m_panelAlerts->setStyleSheet(QStringLiteral("QLabel { color: #b00000; }"));
    m_panelAlerts->hide();
    connect(m_cycle->alertFailures(), &AlertFailures::changed, this, &TfrmMain::showAlertFailures);
    m_statusBar->addWidget(m_panelProgress, 1);
    m_statusBar->addPermanentWidget(m_panelAlerts);
    m_statusBar->addPermanentWidget(errors);
    ui->mainLayout->addWidget(m_statusBar);
}

void TfrmMain::setUpTray()
{
    m_tray = new TrayIcon(m_context.title, this);
    connect(m_tray, &TrayIcon::helpRequested, this, &TfrmMain::butHelpClick);
    connect(m_tray, &TrayIcon::restoreRequested, this, &TfrmMain::restoreFromTray);
    connect(m_tray, &TrayIcon::urlsOnErrorRequested, this, &TfrmMain::mnuUrlsOnErrorClick);
    connect(m_tray, &TrayIcon::pollNowRequested, this, &TfrmMain::butStartClick);
    connect(m_tray, &TrayIcon::timerRequested, this, &TfrmMain::butTimerClick);
    connect(m_tray, &TrayIcon::statsRequested, this, &TfrmMain::butStatsClick);
    connect(m_tray, &TrayIcon::exitRequested, this, &TfrmMain::mnuExitClick);
}

void TfrmMain::connectHandlers()
{
    connect(ui->butToTray, &QPushButton::clicked, this, &TfrmMain::butToTrayClick);
    connect(ui->butStats, &QPushButton::clicked, this, &TfrmMain::butStatsClick);
    connect(ui->butTimer, &QPushButton::clicked, this, &TfrmMain::butTimerClick);
    connect(ui->butStart, &QPushButton::clicked, this, &TfrmMain::butStartClick);
    connect(ui->butAbort, &QPushButton::clicked, this, &TfrmMain::butAbortClick);
    connect(ui->butHelp, &QPushButton::clicked, this, &TfrmMain::butHelpClick);
    connect(ui->ServiceList, &QListWidget::currentRowChanged, this, [this] { ServiceListClick(); });
    connect(ui->butAddService, &QToolButton::clicked, this, &TfrmMain::butAddServiceClick);
    connect(ui->butEditService, &QToolButton::clicked, this, &TfrmMain::butEditServiceClick);
    connect(ui->butDelService, &QToolButton::clicked, this, &TfrmMain::butDelServiceClick);
}

void TfrmMain::chkVisualAlertClick()
{
    if (!m_cycle->onErrorList().isEmpty() && m_windows.error) {
        if (ui->chkVisualAlert->isChecked())
            m_windows.error->show();
        else
            m_windows.error->hide();
    }
}

bool TfrmMain::guarded(const std::function<void()> &action, QWidget *over)
{
    try {
        action();
        return true;
    } catch (const RegistryError &error) {
        Dialogs::error(over ? over : this, error.message());
    } catch (const LaunchError &error) {
        Dialogs::error(over ? over : this, error.message());
    } catch (const AutostartError &error) {
        Dialogs::error(over ? over : this, error.message());
    }
    return false;
}

// ------------------------------------------------------------ service list

void TfrmMain::fillServiceList()
{
    guarded([this] {
        RegistryStore &store = RegistryStore::currentOrThrow();
        store.createKey(m_context.servicesKey);
        ui->ServiceList->clear();
        ui->ServiceList->addItems(store.subkeyNames(m_context.servicesKey));
        const int last = m_settings.readInteger(Settings::LastService);
        ui->ServiceList->setCurrentRow(last >= 0 && last < ui->ServiceList->count() ? last : -1);
    });
    serviceListChanged();
}

QString TfrmMain::selectedService() const
{
    const QListWidgetItem *item = ui->ServiceList->currentItem();
    return item && ui->ServiceList->currentRow() >= 0 ? item->text() : QString();
}

QStringList TfrmMain::serviceNames() const
{
    QStringList names;
    for (int i = 0; i < ui->ServiceList->count(); ++i)
        names << ui->ServiceList->item(i)->text();
    return names;
}

void TfrmMain::serviceListChanged()
{
    UpdateHorizontalExtent(ui->ServiceList);
    updateServiceButtons();
}

void TfrmMain::updateServiceButtons()
{
    // Edit and Remove act on the selected service; with none they are off.
    const bool selected = ui->ServiceList->currentRow() >= 0;
    ui->butEditService->setEnabled(selected && m_serviceButtonsAllowed);
    ui->butDelService->setEnabled(selected && m_serviceButtonsAllowed);
    ui->butAddService->setEnabled(m_serviceButtonsAllowed);
}

void TfrmMain::ServiceListClick()
{
    m_serviceBinder->load();
    updateServiceButtons();
}

void TfrmMain::butAddServiceClick()
{
    TfrmInput *input = m_windows.input;
    if (!input)
        return;
    input->setWindowTitle(TfrmInput::addTitle());
    input->setTypeEnabled(true);
    input->setHost(QString());
    input->setPattern(QString());
    input->selectType(QStringLiteral("HTTP"));
    input->setPort(80);
    // Shown where it last stood.
    input->show();
    input->raise();
    input->activateWindow();
}

void TfrmMain::butEditServiceClick()
{
    TfrmInput *input = m_windows.input;
    const QString name = selectedService();
    if (!input || name.isEmpty())
        return;
    input->setTypeEnabled(false);
    const QStringList pieces = name.split(QLatin1Char(' '));
    input->selectType(pieces.value(0));
    input->setHost(pieces.value(1));
    if (pieces.size() == 3) {
        bool ok = false;
        const int port = pieces.at(2).toInt(&ok);
        if (!ok) {
            Dialogs::error(this, QStringLiteral("'%1' is not a valid integer value").arg(pieces.at(2)));
            return;
        }
        input->setPort(port);
    }
    guarded([&] { input->setPattern(m_settings.readString(Settings::Pattern, name)); });
    input->setWindowTitle(TfrmInput::editTitle());
    // Opens over the Edit button.
    input->move(ui->butEditService->mapToGlobal(QPoint(0, 0)));
    input->show();
    input->raise();
    input->activateWindow();
}

void TfrmMain::butSaveSiteClick()
{
    TfrmInput *input = m_windows.input;
    if (!input)
        return;
    if (input->host().isEmpty()) {
        // A service without a host can never answer; do not store one.
        Dialogs::error(input, QStringLiteral("Please enter the host of the service."));
        return;
    }
    if (input->windowTitle().startsWith(QLatin1String("Add")))
        saveAddition();
    else if (input->windowTitle().startsWith(QLatin1String("Edit")))
        saveEdit();
}

void TfrmMain::saveAddition()
{
    TfrmInput *input = m_windows.input;
    const QString name = ServiceNames::build(input->serviceType(), input->host(), input->port());
    if (ServiceNames::indexOfIgnoringCase(serviceNames(), name) >= 0) {
        Dialogs::error(input, QStringLiteral("The service already exists. Please enter a new one."));
        return;
    }
    const QString key = m_settings.serviceKey(name);
    bool existed = true;
    const bool saved = guarded(
        [&] {
            existed = RegistryStore::currentOrThrow().keyExists(key);
            RegistryStore::currentOrThrow().createKey(key);
            if (ServiceNames::isHttp(input->serviceType()))
                m_settings.writeString(Settings::Pattern, input->pattern(), name);
        },
        input);
    if (!saved) {
        // Nothing is listed that the store does not hold, and a key made
        // just before the failure goes again where the store lets it.
        try {
            RegistryStore *store = RegistryStore::current();
            if (store && !existed)
                store->deleteKey(key);
        } catch (const RegistryError &) {
        }
        return;
    }
    ui->ServiceList->addItem(name);
    ui->ServiceList->setCurrentRow(ui->ServiceList->count() - 1);
    input->hide();
    serviceListChanged();
}

void TfrmMain::saveEdit()
{
    TfrmInput *input = m_windows.input;
    const int row = ui->ServiceList->currentRow();
    if (row < 0)
        return;
    const QString oldName = ui->ServiceList->item(row)->text();
    const QString newName = ServiceNames::build(input->serviceType(), input->host(), input->port());
    if (newName != oldName && ServiceNames::indexOfIgnoringCase(serviceNames(), newName, row) >= 0) {
        Dialogs::error(input, QStringLiteral("The service already exists. Please enter a new one."));
        return;
    }
    bool saved = true;
    guarded([&] {
        saved = false;
        if (newName != oldName) {
            // Moves every value and counter below the key; a change of letter
            // case only leaves the key as it is.
            RegistryStore::currentOrThrow().renameKey(m_settings.serviceKey(oldName),
                                                      m_settings.serviceKey(newName));
            ui->ServiceList->item(row)->setText(newName);
        }
        m_settings.writeString(Settings::Pattern, input->pattern(), newName);
        saved = true;
    });
    if (!saved)
        return;
    input->hide();
    serviceListChanged();
}

void TfrmMain::butDelServiceClick()
{
    const int row = ui->ServiceList->currentRow();
    if (row < 0)
        return;
    const QString name = ui->ServiceList->item(row)->text();
    QApplication::beep();
    if (!Dialogs::confirmWarning(this, QStringLiteral("You are about to delete service \"%1\".\n"
                                                      "Are you sure you want to do this?")
                                           .arg(name)))
        return;
    // A service whose key could not be removed stays listed: the list
    // shows what the store holds.
    if (!guarded([&] { RegistryStore::currentOrThrow().deleteKey(m_settings.serviceKey(name)); }))
        return;
    {
        const QSignalBlocker blocker(ui->ServiceList);
        delete ui->ServiceList->takeItem(row);
        ui->ServiceList->setCurrentRow(-1);
    }
    serviceListChanged();
    ServiceListClick();
}

// ---------------------------------------------------------- tray and timer

bool TfrmMain::isTimerOn() const
{
    return m_cycle->timerSwitchOn();
}

IntervalTimer *TfrmMain::sessionTimer() const
{
    return m_cycle->sessionTimer();
}

void TfrmMain::butTimerClick()
{
    m_monitor->toggleTimer();
}

void TfrmMain::butToTrayClick()
{
    if (m_tray->isPresent()) {
        hide();
    } else {
        showMinimized();
    }
}

void TfrmMain::restoreFromTray()
{
    showNormal();
    raise();
    activateWindow();
}

void TfrmMain::mnuUrlsOnErrorClick()
{
    TfrmError *error = m_windows.error;
    if (!error)
        return;
    if (error->text().isEmpty()) {
        error->setWordWrap(false);
        error->setText(QStringLiteral(" No services on error "));
    }
    if (m_tray->urlsOnErrorAction()->isChecked()) {
        error->hide();
        m_tray->urlsOnErrorAction()->setChecked(false);
    } else {
        error->show();
        m_tray->urlsOnErrorAction()->setChecked(true);
    }
}

void TfrmMain::butStatsClick()
{
    if (m_windows.stats) {
        // A minimised window is brought back as it was, not left in the task bar.
        if (m_windows.stats->isMinimized())
            m_windows.stats->showNormal();
        m_windows.stats->show();
        m_windows.stats->raise();
        m_windows.stats->activateWindow();
    }
}

void TfrmMain::butHelpClick()
{
    HelpFile::open(m_context.helpFile, 10);
}

void TfrmMain::mnuExitClick()
{
    m_monitor->requestExit();
}

void TfrmMain::closeForExit()
{
    m_exiting = true;
    for (QWidget *w : {static_cast<QWidget *>(m_windows.error), static_cast<QWidget *>(m_windows.stats),
                       static_cast<QWidget *>(m_windows.input), static_cast<QWidget *>(m_windows.email)}) {
        if (w)
            w->hide();
    }
    // An e-mail still on its way holds the end back a while: the program
    // is gone for the user already.
    if (m_alerts->isSending()) {
        hide();
        m_tray->hide();
    }
}

void TfrmMain::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange && m_tray->isPresent() && isMinimized()) {
        // Minimising sends the program to the tray.
        QMetaObject::invokeMethod(this, [this] { hide(); }, Qt::QueuedConnection);
    }
    QWidget::changeEvent(event);
}

// ------------------------------------------------------------- poll cycle

void TfrmMain::butStartClick()
{
    // "Poll now" while a cycle runs is ignored, as "Go" is disabled then.
    if (m_cycle->isRunning())
        return;
    m_monitor->pollNow();
}

void TfrmMain::butAbortClick()
{
    m_monitor->abort();
}

LiveSettings TfrmMain::liveSettings() const
{
    LiveSettings live;
    live.normalFreqMins = ui->spinNormalConnectionFreq->currentNumber();
    live.errorFreqMins = ui->spinErrorConnectionFreq->currentNumber();
    live.pollTimeoutMins = ui->spinPollTimeout->currentNumber();
    // A number still being typed counts with the field's bounds.
    live.connectionTimeoutSecs = ui->spinConnectionTimeout->clampToBounds(ui->spinConnectionTimeout->currentNumber());
    live.visualAlert = ui->chkVisualAlert->isChecked();
    live.noConnAppLaunch = ui->chkNoConnAppLaunch->isChecked();
    live.noConnFailures = ui->spinNoConnFailures->currentNumber();
    live.noConnRepeatLaunch = ui->chkNoConnRepeatLaunch->isChecked();
    live.noConnProgName = ui->edtNoConnProgName->text();
    live.useProxy = ui->UseHttpProxy->isChecked();
    live.proxyHost = ui->HTTPProxyURL->text();
    live.proxyPort = ui->HTTPProxyPort->currentNumber();
    return live;
}

void TfrmMain::statusAppend(const QString &line)
{
    if (!m_batchDisplay) {
        ui->memoStatus->appendPlainText(line);
        return;
    }
    m_pendingStatus.append(line);
    if (!m_displayFlush->isActive())
        m_displayFlush->start();
}

void TfrmMain::statusClear()
{
    m_pendingStatus.clear();
    ui->memoStatus->clear();
}

void TfrmMain::setProgressText(const QString &text)
{
    if (!m_batchDisplay) {
        m_panelProgress->setText(text);
        return;
    }
    m_pendingProgress = text;
    m_progressPending = true;
    if (!m_displayFlush->isActive())
        m_displayFlush->start();
}

void TfrmMain::flushDisplay()
{
    m_displayFlush->stop();
    if (!m_pendingStatus.isEmpty()) {
        // One block per line, as separate appends would give.
        ui->memoStatus->appendPlainText(m_pendingStatus.join(QLatin1Char('\n')));
        m_pendingStatus.clear();
    }
    if (m_progressPending) {
        m_panelProgress->setText(m_pendingProgress);
        m_progressPending = false;
    }
    if (m_trayHintPending) {
        applyTrayToolTip();
        m_trayHintPending = false;
    }
}

QString TfrmMain::trayToolTip() const
{
    QString tip = m_trayHint.isEmpty() ? m_context.title : m_trayHint;
    const QString failures = m_cycle->alertFailures()->summary();
    if (!failures.isEmpty())
        tip += QLatin1Char('\n') + failures;
    return tip;
}

void TfrmMain::applyTrayToolTip()
{
    if (m_tray)
        m_tray->setToolTip(trayToolTip());
}

void TfrmMain::showAlertFailures()
{
    const QString summary = m_cycle->alertFailures()->summary();
    m_panelAlerts->setToolTip(summary);
    m_panelAlerts->setText(
        m_panelAlerts->fontMetrics().elidedText(summary, Qt::ElideRight, AlertPanelWidth - 4));
    m_panelAlerts->setVisible(!summary.isEmpty());
    applyTrayToolTip();
}

void TfrmMain::setErrorPanel(const QString &text, Image image)
{
    m_panelErrors->setText(text);
    switch (image) {
    case Image::None:
        m_panelErrorsImage->clear();
        break;
    case Image::Ok:
        m_panelErrorsImage->setPixmap(AppIcons::statusOk());
        break;
    case Image::Error:
        m_panelErrorsImage->setPixmap(AppIcons::statusError());
        break;
    }
}

void TfrmMain::setTrayHint(const QString &text)
{
    m_trayHint = text;
    if (m_batchDisplay) {
        m_trayHintPending = true;
        if (!m_displayFlush->isActive())
            m_displayFlush->start();
    } else {
        applyTrayToolTip();
    }
}

bool TfrmMain::hasTray() const
{
    return m_tray->isPresent();
}

QAction *TfrmMain::timerAction() const
{
    return m_tray->timerAction();
}

QAction *TfrmMain::urlsOnErrorAction() const
{
    return m_tray->urlsOnErrorAction();
}

void TfrmMain::setTrayIcon(TrayIcons set, bool cycling)
{
    m_tray->setImages(set, cycling);
}

void TfrmMain::setCycleRunning(bool running)
{
    flushDisplay();
    m_batchDisplay = running;
    ui->butStart->setEnabled(!running);
    ui->butAbort->setEnabled(running);
    m_serviceButtonsAllowed = !running;
    updateServiceButtons();
}

void TfrmMain::setAbortEnabled(bool enabled)
{
    ui->butAbort->setEnabled(enabled);
}

void TfrmMain::setTimerSwitchShown(bool on)
{
    const QColor face = on ? QColor(0, 255, 0) : QColor(0, 128, 0);
    const QColor text = on ? QColor(Qt::black) : QColor(Qt::white);
    ui->butTimer->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: %2; }")
                                    .arg(face.name(), text.name()));
    ui->butTimer->setToolTip(on ? QStringLiteral("Timer is ON") : QStringLiteral("Timer is OFF"));
    m_tray->timerAction()->setChecked(on);
}

void TfrmMain::errorWindowSetText(const QString &text)
{
    if (m_windows.error)
        m_windows.error->setText(text);
}

void TfrmMain::errorWindowSetBordered(bool bordered)
{
    if (m_windows.error)
        m_windows.error->setBordered(bordered);
}

void TfrmMain::errorWindowSetWordWrap(bool on)
{
    if (m_windows.error)
        m_windows.error->setWordWrap(on);
}

void TfrmMain::errorWindowShow()
{
    if (m_windows.error)
        m_windows.error->show();
}

void TfrmMain::errorWindowHide()
{
    if (m_windows.error)
        m_windows.error->hide();
}

void TfrmMain::setShowOnErrorChecked(bool checked)
{
    m_tray->urlsOnErrorAction()->setChecked(checked);
}

void TfrmMain::processEvents()
{
    // The cycle asks twice per service; handling the window's events every
    // few milliseconds keeps it just as responsive (a probe that waits
    // handles them anyway) without paying for a pass per request.
    const qint64 now = m_eventsClock.elapsed();
    if (m_lastEventsMs >= 0 && now - m_lastEventsMs < EventsIntervalMs)
        return;
    m_lastEventsMs = now;
    QCoreApplication::processEvents();
}

QStringList TfrmMain::onErrorList() const
{
    return m_cycle->onErrorList();
}

SmtpSettings TfrmMain::smtpSettings() const
{
    SmtpSettings smtp;
    smtp.server = ui->edtSmtpServer->text();
    smtp.port = ui->spinSmtpPort->currentNumber();
    smtp.from = ui->edtSmtpFrom->text();
    smtp.requireAuthentication = ui->chkReqSmtpAuth->isChecked();
    smtp.user = ui->edtSmtpUser->text();
    smtp.password = ui->edtSmtpPass->text();
    smtp.security = ui->cmbSmtpSecurity->currentIndex();
    return smtp;
}

// ------------------------------------------------------ Sites page alerts

void TfrmMain::setUpAlertControls()
{
    const QIcon browse = style()->standardIcon(QStyle::SP_DirOpenIcon);
    for (QToolButton *b : {ui->butBrowse1, ui->butBrowse2, ui->butBrowse, ui->butBrowse4, ui->butBrowse5, ui->butBrowse6})
        b->setIcon(browse);
    const QIcon play = style()->standardIcon(QStyle::SP_MediaVolume);
    for (QToolButton *b : {ui->butPlay1, ui->butPlay2})
        b->setIcon(play);
    const QIcon test = style()->standardIcon(QStyle::SP_MediaPlay);
    for (QToolButton *b : {ui->butTestApp, ui->butTestAppOff, ui->butTestOnErrorEmail, ui->butTestOffErrorEmail})
        b->setIcon(test);

    const QString wavFilter = QStringLiteral("Wave files (*.wav *.WAV);;All files (*)");
    const QString programFilter = QStringLiteral("Programs (*);;Shell scripts (*.sh);;All files (*)");
    const QString templateFilter = QStringLiteral("Text files (*.txt);;All files (*)");
    const QString templates = m_context.programFolder + QStringLiteral("email");
    const auto picker = [this](QLineEdit *edit, const QString &folder, const QString &filter) {
        return [=, this] { return pickFile(edit, folder, filter); };
    };

    using namespace Settings;
    // The order in which selecting a service loads its values; nothing is
    // stored while no service is selected.
    auto *b = new SettingsBinder(
        m_settings, [this](const std::function<void()> &action) { return guarded(action); },
        [this] { return selectedService(); }, this);
    m_serviceBinder = b;
    b->bindFile(OnErrorSoundName, ui->OnErrorSoundName, ui->butBrowse1,
                picker(ui->OnErrorSoundName, {}, wavFilter));
    b->bindFile(OffErrorSoundName, ui->OffErrorSoundName, ui->butBrowse2,
                picker(ui->OffErrorSoundName, {}, wavFilter));
    b->bindFile(ProgName, ui->edtProgName, ui->butBrowse,
                picker(ui->edtProgName, {}, programFilter));
    b->bindFile(ProgNameOff, ui->edtProgNameOff, ui->butBrowse4,
                picker(ui->edtProgNameOff, {}, programFilter));
    b->bindFile(OnErrorEmail, ui->edtOnErrorEmail, ui->butBrowse5,
                picker(ui->edtOnErrorEmail, templates, templateFilter));
    b->bindFile(OffErrorEmail, ui->edtOffErrorEmail, ui->butBrowse6,
                picker(ui->edtOffErrorEmail, templates, templateFilter));
    b->bindText(OnErrorEmailTo, ui->edtOnErrorEmailTo);
    b->bindText(OffErrorEmailTo, ui->edtOffErrorEmailTo);
    b->bindCheck(BeepAlert, ui->chkBeepAlert);
    b->bindCheck(SoundAlert, ui->chkSoundAlert, [this](bool on) { chkSoundAlertClick(on); });
    b->bindCheck(LaunchApplication, ui->chkLaunchApp, [this](bool on) { chkLaunchAppClick(on); });
    b->bindCheck(RepeatLaunchApplication, ui->chkRepeatLaunch);
    // Written on every change and on leaving, so no arrow step is lost.
    b->bindNumber(FailuresBeforeLaunch, ui->spinFailuresBeforeLaunch, 1, true);
    b->bindCheck(SendEmail, ui->chkSendEmail, [this](bool on) { chkSendEmailClick(on); });
    b->bindCheck(RepeatEmail, ui->chkRepeatEmail);
    b->bindNumber(FailuresBeforeEmail, ui->spinFailuresBeforeEmail, 1, true);

    connect(ui->butPlay1, &QToolButton::clicked, this, [this] { playSoundFile(ui->OnErrorSoundName); });
    connect(ui->butPlay2, &QToolButton::clicked, this, [this] { playSoundFile(ui->OffErrorSoundName); });
    connect(ui->butTestApp, &QToolButton::clicked, this, [this] { testProgram(ui->edtProgName); });
    connect(ui->butTestAppOff, &QToolButton::clicked, this, [this] { testProgram(ui->edtProgNameOff); });
    connect(ui->butTestOnErrorEmail, &QToolButton::clicked, this, [this] { testEmail(ui->edtOnErrorEmail, ui->edtOnErrorEmailTo); });
    connect(ui->butTestOffErrorEmail, &QToolButton::clicked, this, [this] { testEmail(ui->edtOffErrorEmail, ui->edtOffErrorEmailTo); });
    connect(ui->butCustomMsg, &QPushButton::clicked, this, [this] {
        if (m_windows.email) {
            m_windows.email->show();
            m_windows.email->raise();
            m_windows.email->activateWindow();
        }
    });
}

QString TfrmMain::pickFile(QLineEdit *edit, const QString &folder, const QString &filter)
{
    QString start = folder;
    if (start.isEmpty() && !edit->text().isEmpty())
        start = QFileInfo(edit->text()).absolutePath();
    return QFileDialog::getOpenFileName(this, QStringLiteral("Select file"), start, filter);
}

void TfrmMain::playSoundFile(QLineEdit *edit)
{
    const QString path = edit->text();
    if (QFileInfo(path).isFile()) {
        m_alerts->soundPlayer()->playFile(path);
        return;
    }
    QApplication::beep();
    Dialogs::information(this, SoundFileNotFoundText(path));
}

void TfrmMain::testProgram(QLineEdit *edit)
{
    guarded([edit] { LaunchProgram(edit->text()); });
}

void TfrmMain::testEmail(QLineEdit *templateEdit, QLineEdit *recipientsEdit)
{
    // One SMTP dialogue at a time: a second one would run inside the
    // first one's wait and hold it up mid-command.
    if (m_alerts->isSending()) {
        Dialogs::information(this, GuiAlertActions::busyText());
        return;
    }
    try {
        bool accepted = false;
        const QString reply =
            m_alerts->sendMailNow(selectedService(), templateEdit->text(), recipientsEdit->text(), &accepted);
        // A message that went shows that e-mail alerts work again.
        if (accepted)
            m_cycle->alertFailures()->succeeded(AlertFailures::Kind::Mail);
        if (m_exiting)
            return;
        QApplication::beep();
        Dialogs::information(this, reply);
    } catch (const FileError &error) {
        Dialogs::error(this, error.message());
    } catch (const RegistryError &error) {
        Dialogs::error(this, error.message());
    }
}

// The pages' own parts of their check boxes and browse buttons: what a
// click enables, and what follows the stored value. The binder calls them.

void TfrmMain::chkNoConnAppLaunchClick(bool on)
{
    setAllEnabled({ui->edtNoConnProgName, ui->butNoConnTestApp, ui->butBrowse7,
                   ui->chkNoConnRepeatLaunch},
                  on);
}

QString TfrmMain::butBrowse7Click()
{
    return QFileDialog::getOpenFileName(
        this, QStringLiteral("Select file"),
        QFileInfo(ui->edtNoConnProgName->text()).absolutePath(),
        QStringLiteral("Programs (*);;Shell scripts (*.sh);;All files (*)"));
}

void TfrmMain::chkLaunchClick()
{
    StartWithWindows(m_context.title, QCoreApplication::applicationFilePath(),
                     ui->chkLaunch->isChecked());
}

void TfrmMain::UseHttpProxyClick(bool on)
{
    setAllEnabled({ui->HTTPProxyURL, ui->HTTPProxyPort}, on);
}

void TfrmMain::chkReqSmtpAuthClick(bool on)
{
    setAllEnabled({ui->edtSmtpUser, ui->edtSmtpPass}, on);
}

void TfrmMain::chkSoundAlertClick(bool on)
{
    setAllEnabled({ui->OnErrorSoundName, ui->OffErrorSoundName, ui->lblOnErrorSound,
                   ui->lblOffErrorSound, ui->butBrowse1, ui->butBrowse2, ui->butPlay1,
                   ui->butPlay2},
                  on);
}

void TfrmMain::chkLaunchAppClick(bool on)
{
    setAllEnabled({ui->edtProgName, ui->edtProgNameOff, ui->lblProgName, ui->lblProgNameOff,
                   ui->butTestApp, ui->butTestAppOff, ui->butBrowse, ui->butBrowse4,
                   ui->chkRepeatLaunch},
                  on);
}

void TfrmMain::chkSendEmailClick(bool on)
{
    setAllEnabled({ui->edtOnErrorEmail, ui->edtOffErrorEmail, ui->lblOnErrorEmail,
                   ui->lblOffErrorEmail, ui->edtOnErrorEmailTo, ui->edtOffErrorEmailTo,
                   ui->lblOnErrorEmailTo, ui->lblOffErrorEmailTo, ui->butTestOnErrorEmail,
                   ui->butTestOffErrorEmail, ui->butBrowse5, ui->butBrowse6,
                   ui->chkRepeatEmail},
                  on);
}
