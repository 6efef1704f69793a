#include "TfrmMain.h"

#include "AppIcons.h"
#include "FocusOutWatcher.h"
#include "GeneralPage.h"
#include "GuiAlertActions.h"
#include "HelpFile.h"
#include "MainStatusBar.h"
#include "MiscPage.h"
#include "SettingsBinder.h"
#include "SitesPage.h"
#include "Dialogs.h"
#include "TfrmEmail.h"
#include "TfrmError.h"
#include "TfrmInput.h"
#include "TfrmStats.h"
#include "TrayIcon.h"
#include "TKAboutBox.h"
#include "TKBackup.h"
#include "ui_TfrmMain.h"

#include "alerts/AlertMail.h"
#include "config/RegistryStore.h"
#include "engine/AlertFailures.h"
#include "engine/IntervalTimer.h"
#include "engine/Monitor.h"
#include "engine/PollCycle.h"
#include "metrics/MetricsExport.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPlainTextEdit>
#include <QTimer>

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
    followMonitor();
    m_eventsClock.start();
    m_displayFlush = new QTimer(this);
    m_displayFlush->setSingleShot(true);
    m_displayFlush->setInterval(DisplayFlushMs);
    connect(m_displayFlush, &QTimer::timeout, this, &TfrmMain::flushDisplay);

    setWindowTitle(m_context.caption);
    setUpPages();
    setUpStatusBar();

    move(0, 0);
    Dialogs::guarded(this, [this] {
        const int top = m_settings.readInteger(Settings::Top);
        const int left = m_settings.readInteger(Settings::Left);
        move(left, top);
    });
    ui->PageControl->setCurrentWidget(m_general);

    m_sites->loadServices();
    m_sites->followHolds(m_monitor);
    m_sites->followResults(m_monitor);
    // A first start: the empty pane says where to begin, until the first poll.
    if (m_sites->serviceNames().isEmpty())
        m_general->statusPane()->setPlaceholderText(firstStartHint());
    connect(ui->butToTray, &QPushButton::clicked, this, &TfrmMain::butToTrayClick);
    connect(ui->butStats, &QPushButton::clicked, this, &TfrmMain::butStatsClick);
    connect(ui->butTimer, &QPushButton::clicked, this, &TfrmMain::butTimerClick);
    connect(ui->butStart, &QPushButton::clicked, this, &TfrmMain::butStartClick);
    connect(ui->butAbort, &QPushButton::clicked, this, &TfrmMain::butAbortClick);
    connect(ui->butHelp, &QPushButton::clicked, this, &TfrmMain::butHelpClick);
    m_globalBinder->load();
    m_sites->ServiceListClick();
    setUpMetrics();

    m_startMinimized = m_general->startMinimized();
    if (m_general->timerOnAtStart() && !m_cycle->timerSwitchOn()) {
        butTimerClick();
        m_cycle->setPollInterval(m_general->normalFrequency());
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
    // The binder's handlers use the pages.
    delete m_globalBinder;

    // What must survive the run: where the window stood and which service
    // was selected.
    try {
        m_settings.writeInteger(Settings::Top, pos().y());
        m_settings.writeInteger(Settings::Left, pos().x());
        m_sites->saveSelection();
    } catch (const RegistryError &error) {
        qWarning("%s", qPrintable(error.message()));
    }
    m_tray->hide();
}

void TfrmMain::followMonitor()
{
    m_monitor->setSettingsSource([this] { return liveSettings(); });
    m_monitor->setServiceListProvider([this] { return m_sites->serviceNames(); });
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
    connect(m_monitor, &Monitor::openServiceRequested, this, &TfrmMain::showService);
}

void TfrmMain::attachWindows(const Windows &windows)
{
    if (m_windows.error && m_windows.error != windows.error)
        m_windows.error->follow(nullptr);
    m_windows = windows;
    // The services-on-error window follows the monitor by itself.
    if (m_windows.error)
        m_windows.error->follow(m_monitor);
    m_sites->setWindows(m_windows.input, m_windows.email);
    if (m_windows.stats)
        m_windows.stats->setHistory(m_monitor->history());
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

// ------------------------------------------------------------------ pages

void TfrmMain::setUpPages()
{
    m_general = new GeneralPage(m_context);
    m_sites = new SitesPage(m_context, m_alerts, m_monitor->alertFailures());
    m_misc = new MiscPage(m_context);
    m_about = new TKAboutBox;
    m_about->setObjectName(QStringLiteral("tabAbout"));
    m_about->setApplication(m_context.title, m_context.versionText,
                            QStringLiteral("Site connectivity monitor: watches web, FTP, SMTP and POP3 "
                                           "services and tells you when they stop answering."),
                            QStringLiteral("Copyright © 2026 Kestrin Software. All rights reserved."));
    m_about->setProgramFolder(m_context.programFolder);
    ui->PageControl->addTab(m_general, QStringLiteral("General"));
    ui->PageControl->addTab(m_sites, QStringLiteral("Sites"));
    ui->PageControl->addTab(m_misc, QStringLiteral("Misc"));
    ui->PageControl->addTab(m_about, QStringLiteral("About"));

    connect(m_general, &GeneralPage::visualAlertClicked, this, &TfrmMain::visualAlertClicked);
    connect(m_misc->backupFrame(), &TKBackup::backupFinished, this,
            [this] { setProgressText(QStringLiteral("Finished backup.")); });
    connect(m_misc->backupFrame(), &TKBackup::restartRequested, this, &TfrmMain::restartRequested);

    // One binder for the global values of both pages, in the order start-up
    // loads them.
    m_globalBinder = new SettingsBinder(
        m_settings, [this](const std::function<void()> &action) { return Dialogs::guarded(this, action); }, {},
        this);
    m_general->bindSettings(*m_globalBinder);
    m_misc->bindSettings(*m_globalBinder);
    setTimerSwitchShown(false);
}

QString TfrmMain::firstStartHint()
{
    return QStringLiteral("Nothing is watched yet. Add a service on the Sites page with the + button, "
                          "then switch the timer on with the green button at the top, or press Go to "
                          "check at once.");
}

QStatusBar *TfrmMain::statusBar() const
{
    return m_statusBar;
}

TKBackup *TfrmMain::backupFrame() const
{
    return m_misc->backupFrame();
}

const SettingsBinder *TfrmMain::serviceSettings() const
{
    return m_sites->serviceSettings();
}

void TfrmMain::visualAlertClicked(bool on)
{
    if (!m_cycle->onErrorList().isEmpty() && m_windows.error) {
        if (on)
            m_windows.error->show();
        else
            m_windows.error->hide();
    }
}

void TfrmMain::setUpMetrics()
{
    m_metrics = new MetricsExport(m_monitor, m_context, {}, this);
    m_metrics->setFolderSource([this] { return m_misc->metricsFolder(); });
    connect(m_metrics, &MetricsExport::problem, this, &TfrmMain::statusAppend);
    // A stored address that cannot be used is told without a box: the
    // program may be starting unattended.
    const QString problem = m_metrics->listenOn(m_misc->metricsListen());
    if (!problem.isEmpty())
        m_metrics->report(problem);
    connect(m_misc, &MiscPage::metricsListenEdited, this, [this](const QString &address) {
        const QString failure = m_metrics->listenOn(address);
        if (!failure.isEmpty())
            Dialogs::error(this, failure);
    });
}

void TfrmMain::setUpStatusBar()
{
    m_statusBar = new MainStatusBar(this);
    connect(m_cycle->alertFailures(), &AlertFailures::changed, this, &TfrmMain::showAlertFailures);
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
    connect(m_tray, &TrayIcon::snoozeAllRequested, this, [this] { m_monitor->snoozeAll(SnoozeAllMinutes); });
    connect(m_tray, &TrayIcon::resumeAllRequested, this, [this] { m_monitor->resumeAll(); });
    connect(m_tray, &TrayIcon::exitRequested, this, &TfrmMain::mnuExitClick);
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

void TfrmMain::showService(const QString &service)
{
    restoreFromTray();
    ui->PageControl->setCurrentWidget(m_sites);
    m_sites->selectService(service);
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
    m_sites->setExiting();
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
    m_general->fillLive(live);
    m_misc->fillLive(live);
    return live;
}

void TfrmMain::statusAppend(const QString &line)
{
    if (!m_batchDisplay) {
        m_general->statusPane()->appendPlainText(line);
        return;
    }
    m_pendingStatus.append(line);
    if (!m_displayFlush->isActive())
        m_displayFlush->start();
}

void TfrmMain::statusClear()
{
    m_pendingStatus.clear();
    m_general->statusPane()->clear();
}

void TfrmMain::setProgressText(const QString &text)
{
    if (!m_batchDisplay) {
        m_statusBar->setProgress(text);
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
        m_general->statusPane()->appendPlainText(m_pendingStatus.join(QLatin1Char('\n')));
        m_pendingStatus.clear();
    }
    if (m_progressPending) {
        m_statusBar->setProgress(m_pendingProgress);
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
    m_statusBar->setAlertFailures(m_cycle->alertFailures()->summary());
    applyTrayToolTip();
}

void TfrmMain::setErrorPanel(const QString &text, PollView::Image image)
{
    m_statusBar->setErrors(text, image);
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

void TfrmMain::setTrayIcon(PollView::TrayIcons set, bool cycling)
{
    m_tray->setImages(set, cycling);
}

void TfrmMain::setCycleRunning(bool running)
{
    flushDisplay();
    if (running)
        m_general->statusPane()->setPlaceholderText(QString());
    m_batchDisplay = running;
    ui->butStart->setEnabled(!running);
    ui->butAbort->setEnabled(running);
    m_sites->setCycleRunning(running);
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
    return m_misc->smtpSettings();
}
