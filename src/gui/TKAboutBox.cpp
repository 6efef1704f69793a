#include "TKAboutBox.h"

#include "ui_TKAboutBox.h"

TKAboutBox::TKAboutBox(QWidget *parent) : QWidget(parent), ui(std::make_unique<Ui::TKAboutBox>())
{
    ui->setupUi(this);
    QFont nameFont = ui->lblAppName->font();
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.8);
    nameFont.setBold(true);
    ui->lblAppName->setFont(nameFont);
    connect(ui->butUpdates, &QPushButton::clicked, this, &TKAboutBox::checkForUpdatesRequested);
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
