#include "GeneralPage.h"

#include "BoundedSpinBox.h"
#include "Dialogs.h"
#include "EnableAll.h"
#include "SettingsBinder.h"
#include "ui_GeneralPage.h"

#include "alerts/ProgramLauncher.h"
#include "config/Settings.h"
#include "engine/PollCycle.h"
#include "platform/Autostart.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QStyle>

GeneralPage::GeneralPage(const ProgramContext &context, QWidget *parent)
    : QWidget(parent), m_context(context), ui(std::make_unique<Ui::GeneralPage>())
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("tabGeneral"));
    ui->butBrowse7->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    ui->butNoConnTestApp->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    ui->memoStatus->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    connect(ui->butNoConnTestApp, &QToolButton::clicked, this,
            [this] { Dialogs::guarded(this, [this] { LaunchProgram(ui->edtNoConnProgName->text()); }); });
}

GeneralPage::~GeneralPage() = default;

void GeneralPage::bindSettings(SettingsBinder &b)
{
    using namespace Settings;
    b.bindNumber(NormalConnectionFreq, ui->spinNormalConnectionFreq, 15, false);
    b.bindNumber(ErrorConnectionFreq, ui->spinErrorConnectionFreq, 5, false);
    b.bindNumber(PollTimeout, ui->spinPollTimeout, 5, false);
    b.bindNumber(ConnectionTimeout, ui->spinConnectionTimeout, 5, false);
    b.bindCheck(NoConnAppLaunch, ui->chkNoConnAppLaunch, [this](bool on) { chkNoConnAppLaunchClick(on); });
    b.bindNumber(NoConnFailures, ui->spinNoConnFailures, 1, true);
    b.bindCheck(NoConnRepeatLaunch, ui->chkNoConnRepeatLaunch);
    b.bindFile(NoConnProgName, ui->edtNoConnProgName, ui->butBrowse7, [this]() { return butBrowse7Click(); });
    b.bindCheck(TimerON, ui->chkTimerON);
    b.bindCheck(Minimized, ui->chkMinimized);
    b.bindCheck(Launch, ui->chkLaunch, {}, [this]() { chkLaunchClick(); });
    b.bindCheck(VisualAlert, ui->chkVisualAlert, {}, [this] { chkVisualAlertClick(); });
    b.bindCheck(DesktopNotifications, ui->chkDesktopNotifications);
    b.bindNumber(CertWarnDays, ui->spinCertWarnDays, 1, true);
    b.bindNumber(ParallelChecks, ui->spinParallelChecks, 1, true);
}

void GeneralPage::fillLive(LiveSettings &live) const
{
    live.normalFreqMins = ui->spinNormalConnectionFreq->currentNumber();
    live.errorFreqMins = ui->spinErrorConnectionFreq->currentNumber();
    live.pollTimeoutMins = ui->spinPollTimeout->currentNumber();
    // A number still being typed counts with the field's bounds.
    live.connectionTimeoutSecs = ui->spinConnectionTimeout->clampToBounds(ui->spinConnectionTimeout->currentNumber());
    live.visualAlert = ui->chkVisualAlert->isChecked();
    live.desktopNotifications = ui->chkDesktopNotifications->isChecked();
    live.noConnAppLaunch = ui->chkNoConnAppLaunch->isChecked();
    live.noConnFailures = ui->spinNoConnFailures->currentNumber();
    live.noConnRepeatLaunch = ui->chkNoConnRepeatLaunch->isChecked();
    live.noConnProgName = ui->edtNoConnProgName->text();
    live.certWarnDays = ui->spinCertWarnDays->clampToBounds(ui->spinCertWarnDays->currentNumber());
    live.parallelChecks = ui->spinParallelChecks->clampToBounds(ui->spinParallelChecks->currentNumber());
}

QPlainTextEdit *GeneralPage::statusPane() const
{
    return ui->memoStatus;
}

bool GeneralPage::timerOnAtStart() const
{
    return ui->chkTimerON->isChecked();
}

bool GeneralPage::startMinimized() const
{
    return ui->chkMinimized->isChecked();
}

bool GeneralPage::visualAlert() const
{
    return ui->chkVisualAlert->isChecked();
}

int GeneralPage::normalFrequency() const
{
    return ui->spinNormalConnectionFreq->currentNumber();
}

void GeneralPage::chkNoConnAppLaunchClick(bool on)
{
    setAllEnabled({ui->edtNoConnProgName, ui->butNoConnTestApp, ui->butBrowse7, ui->chkNoConnRepeatLaunch}, on);
}

QString GeneralPage::butBrowse7Click()
{
    return QFileDialog::getOpenFileName(
        this, QStringLiteral("Select file"),
        QFileInfo(ui->edtNoConnProgName->text()).absolutePath(),
        QStringLiteral("Programs (*);;Shell scripts (*.sh);;All files (*)"));
}

void GeneralPage::chkLaunchClick()
{
    StartWithWindows(m_context.title, QCoreApplication::applicationFilePath(), ui->chkLaunch->isChecked());
}

void GeneralPage::chkVisualAlertClick()
{
    emit visualAlertClicked(ui->chkVisualAlert->isChecked());
}
