#include "SitesPage.h"

#include "BoundedSpinBox.h"
#include "Dialogs.h"
#include "EnableAll.h"
#include "FocusOutWatcher.h"
#include "GuiAlertActions.h"
#include "ListExtent.h"
#include "ServiceListDelegate.h"
#include "SettingsBinder.h"
#include "SoundPlayer.h"
#include "TfrmEmail.h"
#include "TfrmInput.h"
#include "ui_SitesPage.h"

#include "alerts/AlertSound.h"
#include "alerts/MessageTemplate.h"
#include "alerts/ProgramLauncher.h"
#include "base/FileError.h"
#include "config/RegistryStore.h"
#include "config/ServiceNames.h"
#include "engine/AlertFailures.h"
#include "engine/Monitor.h"
#include "stats/ResponseHistory.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QStyle>
#include <QTimer>

SitesPage::SitesPage(const ProgramContext &context, GuiAlertActions *alerts, AlertFailures *failures,
                     QWidget *parent)
    : QWidget(parent),
      m_context(context),
      m_settings(m_context),
      ui(std::make_unique<Ui::SitesPage>()),
      m_alerts(alerts),
      m_failures(failures)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("tabSites"));
    ui->butAddService->setIcon(style()->standardIcon(QStyle::SP_FileDialogNewFolder));
    ui->butAddService->setText(QStringLiteral("+"));
    ui->butDelService->setIcon(style()->standardIcon(QStyle::SP_TrashIcon));
    ui->butEditService->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    bindAlertControls();
    ui->butResume->setVisible(false);
    ui->lblHold->setVisible(false);
    // Response times: state icons and times in the list, the selected
    // service's figures below it.
    ui->ServiceList->setItemDelegate(new ServiceListDelegate(ui->ServiceList));
    m_lblResponseTimes = new QLabel(this);
    m_lblResponseTimes->setObjectName(QStringLiteral("lblResponseTimes"));
    m_lblResponseTimes->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_lblResponseTimes->setVisible(false);
    ui->sitesListColumn->addWidget(m_lblResponseTimes);
}

SitesPage::~SitesPage()
{
    // Fields lose the focus while they are torn down, after our members are
    // gone; the binder's handlers use them too.
    qDeleteAll(findChildren<FocusOutWatcher *>());
    delete m_binder;
    m_binder = nullptr;
}

void SitesPage::setWindows(TfrmInput *input, TfrmEmail *email)
{
    if (m_input)
        disconnect(m_input, nullptr, this, nullptr);
    m_input = input;
    m_email = email;
    if (m_input)
        connect(m_input, &TfrmInput::saveRequested, this, &SitesPage::butSaveSiteClick);
}

void SitesPage::bindAlertControls()
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
        m_settings, [this](const std::function<void()> &action) { return Dialogs::guarded(this, action); },
        [this] { return selectedService(); }, this);
    m_binder = b;
    b->bindFile(OnErrorSoundName, ui->OnErrorSoundName, ui->butBrowse1,
                picker(ui->OnErrorSoundName, {}, wavFilter));
    b->bindFile(OffErrorSoundName, ui->OffErrorSoundName, ui->butBrowse2,
                picker(ui->OffErrorSoundName, {}, wavFilter));
    b->bindFile(ProgName, ui->edtProgName, ui->butBrowse, picker(ui->edtProgName, {}, programFilter));
    b->bindFile(ProgNameOff, ui->edtProgNameOff, ui->butBrowse4, picker(ui->edtProgNameOff, {}, programFilter));
    b->bindFile(OnErrorEmail, ui->edtOnErrorEmail, ui->butBrowse5,
                picker(ui->edtOnErrorEmail, templates, templateFilter));
    b->bindFile(OffErrorEmail, ui->edtOffErrorEmail, ui->butBrowse6,
                picker(ui->edtOffErrorEmail, templates, templateFilter));
    b->bindText(OnErrorEmailTo, ui->edtOnErrorEmailTo);
    b->bindText(OffErrorEmailTo, ui->edtOffErrorEmailTo);
    b->bindCheck(BeepAlert, ui->chkBeepAlert);
    b->bindCheck(SoundAlert, ui->chkSoundAlert, [this](bool on) { chkSoundAlertClick(on); });
    b->bindCheck(DesktopNotification, ui->chkDesktopNotification);
    b->bindCheck(LaunchApplication, ui->chkLaunchApp, [this](bool on) { chkLaunchAppClick(on); });
    b->bindCheck(RepeatLaunchApplication, ui->chkRepeatLaunch);
    // Written on every change and on leaving, so no arrow step is lost.
    b->bindNumber(FailuresBeforeLaunch, ui->spinFailuresBeforeLaunch, 1, true);
    b->bindCheck(SendEmail, ui->chkSendEmail, [this](bool on) { chkSendEmailClick(on); });
    b->bindCheck(RepeatEmail, ui->chkRepeatEmail);
    b->bindNumber(FailuresBeforeEmail, ui->spinFailuresBeforeEmail, 1, true);
    b->bindNumber(SlowAfterMs, ui->spinSlowAfterMs, 100, true);

    connect(ui->butPlay1, &QToolButton::clicked, this, [this] { playSoundFile(ui->OnErrorSoundName); });
    connect(ui->butPlay2, &QToolButton::clicked, this, [this] { playSoundFile(ui->OffErrorSoundName); });
    connect(ui->butTestApp, &QToolButton::clicked, this, [this] { testProgram(ui->edtProgName); });
    connect(ui->butTestAppOff, &QToolButton::clicked, this, [this] { testProgram(ui->edtProgNameOff); });
    connect(ui->butTestOnErrorEmail, &QToolButton::clicked, this,
            [this] { testEmail(ui->edtOnErrorEmail, ui->edtOnErrorEmailTo); });
    connect(ui->butTestOffErrorEmail, &QToolButton::clicked, this,
            [this] { testEmail(ui->edtOffErrorEmail, ui->edtOffErrorEmailTo); });
    connect(ui->butCustomMsg, &QPushButton::clicked, this, [this] {
        if (m_email) {
            m_email->show();
            m_email->raise();
            m_email->activateWindow();
        }
    });
    connect(ui->ServiceList, &QListWidget::currentRowChanged, this, [this] { ServiceListClick(); });
    connect(ui->butAddService, &QToolButton::clicked, this, &SitesPage::butAddServiceClick);
    connect(ui->butEditService, &QToolButton::clicked, this, &SitesPage::butEditServiceClick);
    connect(ui->butDelService, &QToolButton::clicked, this, &SitesPage::butDelServiceClick);
}

// ------------------------------------------------------------ service list

void SitesPage::loadServices()
{
    {
        // The selection is restored before anything follows it.
        const QSignalBlocker blocker(ui->ServiceList);
        Dialogs::guarded(this, [this] {
            RegistryStore &store = RegistryStore::currentOrThrow();
            store.createKey(m_context.servicesKey);
            ui->ServiceList->clear();
            ui->ServiceList->addItems(store.subkeyNames(m_context.servicesKey));
            const int last = m_settings.readInteger(Settings::LastService);
            ui->ServiceList->setCurrentRow(last >= 0 && last < ui->ServiceList->count() ? last : -1);
        });
    }
    serviceListChanged();
}

void SitesPage::saveSelection() const
{
    m_settings.writeInteger(Settings::LastService, ui->ServiceList->currentRow());
}

QString SitesPage::selectedService() const
{
    const QListWidgetItem *item = ui->ServiceList->currentItem();
    return item && ui->ServiceList->currentRow() >= 0 ? item->text() : QString();
}

QStringList SitesPage::serviceNames() const
{
    QStringList names;
    for (int i = 0; i < ui->ServiceList->count(); ++i)
        names << ui->ServiceList->item(i)->text();
    return names;
}

void SitesPage::setCycleRunning(bool running)
{
    m_buttonsAllowed = !running;
    updateServiceButtons();
}

void SitesPage::serviceListChanged()
{
    refreshServiceStates();
    UpdateHorizontalExtent(ui->ServiceList);
    updateServiceButtons();
}

void SitesPage::updateServiceButtons()
{
    // Edit and Remove act on the selected service; with none they are off.
    const bool selected = ui->ServiceList->currentRow() >= 0;
    ui->butEditService->setEnabled(selected && m_buttonsAllowed);
    ui->butDelService->setEnabled(selected && m_buttonsAllowed);
    ui->butAddService->setEnabled(m_buttonsAllowed);
}

void SitesPage::ServiceListClick()
{
    m_binder->load();
    updateServiceButtons();
    refreshHolds();
    updateResponseFigures();
}

// ---------------------------------------------------------- response times

void SitesPage::followResults(Monitor *monitor)
{
    if (m_history && m_monitor)
        disconnect(m_monitor, &Monitor::serviceChecked, this, nullptr);
    m_history = monitor ? monitor->history() : nullptr;
    if (monitor) {
        m_nowMs = [monitor] { return monitor->alertHold()->nowUtc().toMSecsSinceEpoch(); };
        connect(monitor, &Monitor::serviceChecked, this, &SitesPage::showResult);
    }
    refreshServiceStates();
    updateResponseFigures();
}

void SitesPage::refreshServiceStates()
{
    const QHash<QString, HistoryPoint> latest = m_history ? m_history->latest() : QHash<QString, HistoryPoint>();
    for (int i = 0; i < ui->ServiceList->count(); ++i) {
        QListWidgetItem *item = ui->ServiceList->item(i);
        const auto found = latest.constFind(item->text());
        ServiceListDelegate::setResult(item, found == latest.cend() ? std::nullopt
                                                                    : std::optional<HistoryPoint>(*found));
    }
}

void SitesPage::showResult(const QString &service, const HistoryPoint &point)
{
    // Results come in list order: the next row is nearly always the one.
    const int count = ui->ServiceList->count();
    for (int n = 0; n < count; ++n) {
        const int row = (m_lastResultRow + 1 + n) % count;
        QListWidgetItem *item = ui->ServiceList->item(row);
        if (item->text() != service)
            continue;
        m_lastResultRow = row;
        ServiceListDelegate::setResult(item, point);
        if (row == ui->ServiceList->currentRow())
            updateResponseFigures();
        return;
    }
}

void SitesPage::updateResponseFigures()
{
    const QString name = selectedService();
    if (name.isEmpty() || !m_history) {
        m_lblResponseTimes->clear();
        m_lblResponseTimes->setVisible(false);
        return;
    }
    const qint64 now = m_nowMs ? m_nowMs() : QDateTime::currentMSecsSinceEpoch();
    m_lblResponseTimes->setText(m_history->figures(name, now).lines().join(QLatin1Char('\n')));
    m_lblResponseTimes->setVisible(true);
}

QString SitesPage::responseTimesText() const
{
    return m_lblResponseTimes->isHidden() ? QString() : m_lblResponseTimes->text();
}

// ------------------------------------------------------- snooze and resume

void SitesPage::followHolds(Monitor *monitor)
{
    if (m_monitor)
        disconnect(m_monitor, nullptr, this, nullptr);
    m_monitor = monitor;
    if (!m_holdRefresh) {
        // The time left is told in minutes.
        m_holdRefresh = new QTimer(this);
        m_holdRefresh->setInterval(30 * 1000);
        connect(m_holdRefresh, &QTimer::timeout, this, &SitesPage::refreshHolds);
        connect(ui->butResume, &QPushButton::clicked, this, [this] {
            const QString name = selectedService();
            if (!m_monitor || name.isEmpty())
                return;
            if (m_monitor->resume(name) == Monitor::HoldOutcome::StoreFailed)
                Dialogs::error(this, QStringLiteral("The alerts of \"%1\" could not be resumed: the settings "
                                                    "cannot be written.")
                                         .arg(name));
        });
    }
    if (m_monitor) {
        connect(m_monitor, &Monitor::holdChanged, this, &SitesPage::refreshHolds);
        // Snoozes run out between polls too.
        connect(m_monitor, &Monitor::cycleFinished, this, &SitesPage::refreshHolds);
        m_holdRefresh->start();
    } else {
        m_holdRefresh->stop();
    }
    refreshHolds();
}

void SitesPage::selectService(const QString &name)
{
    const int row = ServiceNames::indexOfIgnoringCase(serviceNames(), name);
    if (row >= 0)
        ui->ServiceList->setCurrentRow(row);
}

QString SitesPage::snoozeText(qint64 secondsLeft)
{
    // Counted down in whole minutes, the one begun included.
    const qint64 minutes = (qMax<qint64>(0, secondsLeft) + 59) / 60;
    return QStringLiteral("Alerts snoozed, %1 left").arg(DowntimeText(minutes * 60));
}

QString SitesPage::acknowledgedText()
{
    return QStringLiteral("Alerts acknowledged until the service comes off error");
}

QString SitesPage::holdText() const
{
    return ui->lblHold->isHidden() ? QString() : ui->lblHold->text();
}

void SitesPage::refreshHolds()
{
    const QIcon snoozed = style()->standardIcon(QStyle::SP_MediaPause);
    const QIcon acknowledged = style()->standardIcon(QStyle::SP_DialogApplyButton);
    const QDateTime now = m_monitor ? m_monitor->alertHold()->nowUtc() : QDateTime();
    QString selectedText;
    const QStringList names = serviceNames();
    const QList<AlertHoldState> holds = m_monitor ? m_monitor->holdStates(names) : QList<AlertHoldState>(names.size());
    for (int i = 0; i < ui->ServiceList->count(); ++i) {
        QListWidgetItem *item = ui->ServiceList->item(i);
        const AlertHoldState &hold = holds.at(i);
        QString text;
        switch (hold.kind) {
        case AlertHoldState::Kind::Snoozed:
            item->setIcon(snoozed);
            text = snoozeText(now.secsTo(hold.until));
            item->setToolTip(text + QStringLiteral(" (until ") +
                             QLocale().toString(hold.until.toLocalTime().time(), QLocale::ShortFormat) +
                             QLatin1Char(')'));
            break;
        case AlertHoldState::Kind::Acknowledged:
            item->setIcon(acknowledged);
            text = acknowledgedText();
            item->setToolTip(text);
            break;
        case AlertHoldState::Kind::None:
            item->setIcon(QIcon());
            item->setToolTip(QString());
            break;
        }
        item->setData(Qt::UserRole, hold.mark());
        if (i == ui->ServiceList->currentRow())
            selectedText = text;
    }
    ui->lblHold->setText(selectedText);
    ui->lblHold->setVisible(!selectedText.isEmpty());
    ui->butResume->setVisible(!selectedText.isEmpty());
}

void SitesPage::butAddServiceClick()
{
    if (!m_input)
        return;
    m_input->setWindowTitle(TfrmInput::addTitle());
    m_input->setTypeEnabled(true);
    m_input->setHost(QString());
    m_input->setPattern(QString());
    m_input->selectType(QStringLiteral("HTTP"));
    m_input->setPort(80);
    // Shown where it last stood.
    m_input->show();
    m_input->raise();
    m_input->activateWindow();
}

void SitesPage::butEditServiceClick()
{
    const QString name = selectedService();
    if (!m_input || name.isEmpty())
        return;
    m_input->setTypeEnabled(false);
    const QStringList pieces = name.split(QLatin1Char(' '));
    m_input->selectType(pieces.value(0));
    m_input->setHost(pieces.value(1));
    if (pieces.size() == 3) {
        bool ok = false;
        const int port = pieces.at(2).toInt(&ok);
        if (!ok) {
            Dialogs::error(this, QStringLiteral("'%1' is not a valid integer value").arg(pieces.at(2)));
            return;
        }
        m_input->setPort(port);
    }
    Dialogs::guarded(this, [&] { m_input->setPattern(m_settings.readString(Settings::Pattern, name)); });
    m_input->setWindowTitle(TfrmInput::editTitle());
    // Opens over the Edit button.
    m_input->move(ui->butEditService->mapToGlobal(QPoint(0, 0)));
    m_input->show();
    m_input->raise();
    m_input->activateWindow();
}

void SitesPage::butSaveSiteClick()
{
    if (!m_input)
        return;
    if (m_input->host().isEmpty()) {
        // A service without a host can never answer; do not store one.
        Dialogs::error(m_input, QStringLiteral("Please enter the host of the service."));
        return;
    }
    if (ServiceNames::isTcp(m_input->serviceType()) && (m_input->port() < 1 || m_input->port() > 65535)) {
        // A TCP service is nothing but its port.
        Dialogs::error(m_input, QStringLiteral("Please enter the port of the TCP service (1 to 65535)."));
        return;
    }
    if (m_input->windowTitle().startsWith(QLatin1String("Add")))
        saveAddition();
    else if (m_input->windowTitle().startsWith(QLatin1String("Edit")))
        saveEdit();
}

void SitesPage::saveAddition()
{
    const QString name = ServiceNames::build(m_input->serviceType(), m_input->host(), m_input->port());
    if (ServiceNames::indexOfIgnoringCase(serviceNames(), name) >= 0) {
        Dialogs::error(m_input, QStringLiteral("The service already exists. Please enter a new one."));
        return;
    }
    const QString key = m_settings.serviceKey(name);
    bool existed = true;
    const bool saved = Dialogs::guarded(m_input, [&] {
        existed = RegistryStore::currentOrThrow().keyExists(key);
        RegistryStore::currentOrThrow().createKey(key);
        if (ServiceNames::isHttp(m_input->serviceType()))
            m_settings.writeString(Settings::Pattern, m_input->pattern(), name);
    });
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
    m_input->hide();
    serviceListChanged();
}

void SitesPage::saveEdit()
{
    const int row = ui->ServiceList->currentRow();
    if (row < 0)
        return;
    const QString oldName = ui->ServiceList->item(row)->text();
    const QString newName = ServiceNames::build(m_input->serviceType(), m_input->host(), m_input->port());
    if (newName != oldName && ServiceNames::indexOfIgnoringCase(serviceNames(), newName, row) >= 0) {
        Dialogs::error(m_input, QStringLiteral("The service already exists. Please enter a new one."));
        return;
    }
    const bool saved = Dialogs::guarded(this, [&] {
        if (newName != oldName) {
            // Moves every value and counter below the key; a change of letter
            // case only leaves the key as it is.
            RegistryStore::currentOrThrow().renameKey(m_settings.serviceKey(oldName),
                                                      m_settings.serviceKey(newName));
            ui->ServiceList->item(row)->setText(newName);
        }
        m_settings.writeString(Settings::Pattern, m_input->pattern(), newName);
    });
    if (!saved)
        return;
    m_input->hide();
    serviceListChanged();
}

void SitesPage::butDelServiceClick()
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
    if (!Dialogs::guarded(this, [&] { RegistryStore::currentOrThrow().deleteKey(m_settings.serviceKey(name)); }))
        return;
    {
        const QSignalBlocker blocker(ui->ServiceList);
        delete ui->ServiceList->takeItem(row);
        ui->ServiceList->setCurrentRow(-1);
    }
    serviceListChanged();
    ServiceListClick();
}

// ---------------------------------------------------------- alert controls

QString SitesPage::pickFile(QLineEdit *edit, const QString &folder, const QString &filter)
{
    QString start = folder;
    if (start.isEmpty() && !edit->text().isEmpty())
        start = QFileInfo(edit->text()).absolutePath();
    return QFileDialog::getOpenFileName(this, QStringLiteral("Select file"), start, filter);
}

void SitesPage::playSoundFile(QLineEdit *edit)
{
    const QString path = edit->text();
    if (QFileInfo(path).isFile()) {
        m_alerts->soundPlayer()->playFile(path);
        return;
    }
    QApplication::beep();
    Dialogs::information(this, SoundFileNotFoundText(path));
}

void SitesPage::testProgram(QLineEdit *edit)
{
    Dialogs::guarded(this, [edit] { LaunchProgram(edit->text()); });
}

void SitesPage::testEmail(QLineEdit *templateEdit, QLineEdit *recipientsEdit)
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
        if (accepted && m_failures)
            m_failures->succeeded(AlertFailures::Kind::Mail);
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

void SitesPage::chkSoundAlertClick(bool on)
{
    setAllEnabled({ui->OnErrorSoundName, ui->OffErrorSoundName, ui->lblOnErrorSound, ui->lblOffErrorSound,
                   ui->butBrowse1, ui->butBrowse2, ui->butPlay1, ui->butPlay2},
                  on);
}

void SitesPage::chkLaunchAppClick(bool on)
{
    setAllEnabled({ui->edtProgName, ui->edtProgNameOff, ui->lblProgName, ui->lblProgNameOff, ui->butTestApp,
                   ui->butTestAppOff, ui->butBrowse, ui->butBrowse4, ui->chkRepeatLaunch},
                  on);
}

void SitesPage::chkSendEmailClick(bool on)
{
    setAllEnabled({ui->edtOnErrorEmail, ui->edtOffErrorEmail, ui->lblOnErrorEmail, ui->lblOffErrorEmail,
                   ui->edtOnErrorEmailTo, ui->edtOffErrorEmailTo, ui->lblOnErrorEmailTo, ui->lblOffErrorEmailTo,
                   ui->butTestOnErrorEmail, ui->butTestOffErrorEmail, ui->butBrowse5, ui->butBrowse6,
                   ui->chkRepeatEmail},
                  on);
}
