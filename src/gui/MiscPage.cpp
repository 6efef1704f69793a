#include "MiscPage.h"

#include "BoundedSpinBox.h"
#include "EnableAll.h"
#include "SettingsBinder.h"
#include "TKBackup.h"
#include "ui_MiscPage.h"

#include "alerts/AlertMail.h"
#include "config/Settings.h"
#include "engine/PollCycle.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QVBoxLayout>

MiscPage::MiscPage(const ProgramContext &context, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::MiscPage>())
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("tabProxy"));
    m_backup = new TKBackup(ui->backupHost);
    auto *backupLayout = new QVBoxLayout(ui->backupHost);
    backupLayout->setContentsMargins(0, 0, 0, 0);
    backupLayout->addWidget(m_backup);
    m_backup->setContext(context);
    m_backup->setBackupPaths({context.programFolder + QStringLiteral("email")});
    // Return and then leaving the field finish the same edit: told once.
    connect(ui->edtMetricsListen, &QLineEdit::editingFinished, this, [this] {
        const QString address = ui->edtMetricsListen->text();
        if (address == m_lastListenEdited)
            return;
        m_lastListenEdited = address;
        emit metricsListenEdited(address);
    });
}

MiscPage::~MiscPage() = default;

void MiscPage::bindSettings(SettingsBinder &b)
{
    using namespace Settings;
    b.bindCheck(UseHttpProxy, ui->UseHttpProxy, [this](bool on) { UseHttpProxyClick(on); });
    b.bindText(HttpProxyURL, ui->HTTPProxyURL);
    // Shown until the stored port (0 by default) is loaded.
    b.bindNumber(HttpProxyPort, ui->HTTPProxyPort, 5, false, 8088);
    b.bindText(SmtpServer, ui->edtSmtpServer);
    b.bindNumber(SmtpPort, ui->spinSmtpPort, 1, true);
    b.bindText(SmtpFrom, ui->edtSmtpFrom);
    b.bindCheck(ReqSmtpAuth, ui->chkReqSmtpAuth, [this](bool on) { chkReqSmtpAuthClick(on); });
    b.bindText(SmtpUser, ui->edtSmtpUser);
    b.bindText(SmtpPass, ui->edtSmtpPass);
    // 0 None, 1 STARTTLS, 2 SSL/TLS; written when the user picks one.
    b.bindChoice(SmtpSecurity, ui->cmbSmtpSecurity);
    b.bindFile(MetricsFolder, ui->edtMetricsFolder, ui->butBrowseMetrics,
               [this] { return butBrowseMetricsClick(); });
    b.bindText(MetricsListen, ui->edtMetricsListen);
}

QString MiscPage::metricsFolder() const
{
    return ui->edtMetricsFolder->text();
}

QString MiscPage::metricsListen() const
{
    return ui->edtMetricsListen->text();
}

QString MiscPage::butBrowseMetricsClick()
{
    return QFileDialog::getExistingDirectory(this, QStringLiteral("Select the metrics folder"),
                                             ui->edtMetricsFolder->text());
}

void MiscPage::fillLive(LiveSettings &live) const
{
    live.useProxy = ui->UseHttpProxy->isChecked();
    live.proxyHost = ui->HTTPProxyURL->text();
    live.proxyPort = ui->HTTPProxyPort->currentNumber();
}

SmtpSettings MiscPage::smtpSettings() const
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

void MiscPage::UseHttpProxyClick(bool on)
{
    setAllEnabled({ui->HTTPProxyURL, ui->HTTPProxyPort}, on);
}

void MiscPage::chkReqSmtpAuthClick(bool on)
{
    setAllEnabled({ui->edtSmtpUser, ui->edtSmtpPass}, on);
}
