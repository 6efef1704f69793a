#include "TfrmEmail.h"

#include "ui_TfrmEmail.h"

TfrmEmail::TfrmEmail(QWidget *parent) : QWidget(parent), ui(std::make_unique<Ui::TfrmEmail>())
{
    ui->setupUi(this);
}

TfrmEmail::~TfrmEmail() = default;
