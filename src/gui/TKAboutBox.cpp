#include "TKAboutBox.h"

#include "Dialogs.h"
#include "ShellOpen.h"
#include "ui_TKAboutBox.h"

#include "config/ProgramContext.h"
#include "base/Subs.h"
#include "platform/AppPaths.h"
#include "update/UpdateError.h"

#include <QApplication>
#include <QDir>

TKAboutBox::TKAboutBox(QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::TKAboutBox>()),
      m_programFolder(AppPaths::programFolder()), m_makerSite(ProgramContext::makerSite()),
      m_shellOpener(OpenWithShell)
{
    ui->setupUi(this);
    QFont nameFont = ui->lblAppName->font();
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.8);
    nameFont.setBold(true);
    ui->lblAppName->setFont(nameFont);
    connect(ui->butUpdates, &QPushButton::clicked, this, &TKAboutBox::butUpdatesClick);
}

TKAboutBox::~TKAboutBox() = default;

void TKAboutBox::setApplication(const QString &name, const QString &versionText,
                                const QString &description, const QString &legalNotice)
{
    ui->lblAppName->setText(name);
    ui->lblAppVersion->setText(QStringLiteral("Version ") + versionText);
    ui->lblAppDesc->setText(description);
    ui->lblLegal->setText(legalNotice);
}

QString TKAboutBox::applicationName() const
{
    return ui->lblAppName->text();
}

QString TKAboutBox::versionCaption() const
{
    return ui->lblAppVersion->text();
}

void TKAboutBox::setProgramFolder(const QString &folder)
{
    m_programFolder = IncludeTrailingPathDelimiter(folder);
}

void TKAboutBox::setMakerSite(const QString &site)
{
    m_makerSite = site;
}

void TKAboutBox::setDownloadLimits(const DownloadLimits &limits)
{
    m_limits = limits;
}

void TKAboutBox::setShellOpener(std::function<bool(const QString &)> opener)
{
    m_shellOpener = std::move(opener);
}

UpdateCheckResult TKAboutBox::IsNewCurrentVersion(const QString &applicationName)
{
    QDir().mkpath(m_programFolder);
    return ::IsNewCurrentVersion(applicationName, CurrentVersionFromCaption(versionCaption()),
                                 VersionListAddress(m_makerSite),
                                 m_programFolder + QStringLiteral("temp.txt"), m_limits);
}

void TKAboutBox::butUpdatesClick()
{
    if (!Dialogs::askYesNo(this, QStringLiteral("Check for latest version?"),
                           QStringLiteral("You are about to check for the latest version.\n"
                                          " You must be connected to the internet for this.\n"
                                          "\n"
                                          "Do you wish to continue?")))
        return;

    UpdateCheckResult result;
    // The window keeps running during the download; a second click must not
    // start a second check on the same temporary file.
    ui->butUpdates->setEnabled(false);
    try {
        result = IsNewCurrentVersion(applicationName());
    } catch (const UpdateError &error) {
        ui->butUpdates->setEnabled(true);
        Dialogs::error(this, error.message());
        return;
    }
    ui->butUpdates->setEnabled(true);

    if (!result.newer) {
        QApplication::beep();
        QString text = QStringLiteral("The latest version is ") + result.latest + QLatin1Char('.');
        if (result.latest != UnknownVersion)
            text += QStringLiteral("\nYou already have the latest version.");
        Dialogs::information(this, text);
        return;
    }

    // There is no download of upgrades: the what's-new page tells the user
    // where to get the new version.
    if (!Dialogs::askYesNo(this, QStringLiteral("New Version Found"),
                           QStringLiteral("A newer version has been found (v") + result.latest +
                               QStringLiteral(")\n\nWould you like to read about it?")))
        return;
    if (m_shellOpener)
        m_shellOpener(WhatsNewAddress(m_makerSite));
}
