#include "TfrmInput.h"

#include "FocusOutWatcher.h"
#include "ui_TfrmInput.h"

#include "config/ServiceNames.h"

#include <QKeyEvent>

TfrmInput::TfrmInput(QWidget *parent) : QWidget(parent), ui(std::make_unique<Ui::TfrmInput>())
{
    ui->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    ui->cmbService->addItems(ServiceNames::types());
    connect(ui->cmbService, &QComboBox::activated, this, [this] { cmbServiceChange(); });
    FocusOutWatcher::watch(ui->edtHost, [this] { edtHostExit(); });
    connect(ui->butSaveSite, &QPushButton::clicked, this, [this] {
        edtHostExit();
        emit saveRequested();
    });
    connect(ui->BitBtn2, &QPushButton::clicked, this, &TfrmInput::BitBtn2Click);
}

TfrmInput::~TfrmInput()
{
    // The host field may lose the focus while it is torn down.
    qDeleteAll(findChildren<FocusOutWatcher *>());
}

QString TfrmInput::serviceType() const
{
    return ui->cmbService->currentIndex() >= 0 ? ui->cmbService->currentText() : QString();
}

void TfrmInput::selectType(const QString &type)
{
    ui->cmbService->setCurrentIndex(ServiceNames::indexOfIgnoringCase(ServiceNames::types(), type));
    cmbServiceChange();
}

void TfrmInput::setTypeEnabled(bool enabled)
{
    ui->cmbService->setEnabled(enabled);
}

int TfrmInput::port() const
{
    return ui->ServerPort->value();
}

void TfrmInput::setPort(int port)
{
    ui->ServerPort->setValue(port);
}

QString TfrmInput::host() const
{
    return ui->edtHost->text();
}

void TfrmInput::setHost(const QString &host)
{
    ui->edtHost->setText(host);
}

QString TfrmInput::pattern() const
{
    return ui->edtPattern->text();
}

void TfrmInput::setPattern(const QString &pattern)
{
    ui->edtPattern->setText(pattern);
}

bool TfrmInput::isPatternShown() const
{
    return !ui->edtPattern->isHidden();
}

QString TfrmInput::hostLabel() const
{
    return ui->lblHost->text();
}

void TfrmInput::cmbServiceChange()
{
    const QString type = serviceType();
    ui->lblHost->setText(QStringLiteral("Host"));
    const bool http = ServiceNames::isHttp(type);
    ui->lblPattern->setVisible(http);
    ui->edtPattern->setVisible(http);
    if (http)
        ui->lblHost->setText(ServiceNames::isHttps(type) ? QStringLiteral("URL  https://")
                                                         : QStringLiteral("URL  http://"));
    // TCP has no default port: the one of the type before must not stay
    // by accident, the user names it.
    const int port = ServiceNames::defaultPort(type);
    if (port > 0 || ServiceNames::isTcp(type))
        ui->ServerPort->setValue(port);
    edtHostExit();
}

void TfrmInput::edtHostExit()
{
    ui->edtHost->setText(ServiceNames::normalizeHost(serviceType(), ui->edtHost->text()));
}

void TfrmInput::BitBtn2Click()
{
    hide();
}

void TfrmInput::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        BitBtn2Click();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        ui->butSaveSite->click();
        return;
    }
    QWidget::keyPressEvent(event);
}
