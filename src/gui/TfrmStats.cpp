#include "TfrmStats.h"

#include "ui_TfrmStats.h"

TfrmStats::TfrmStats(QWidget *parent) : QWidget(parent), ui(std::make_unique<Ui::TfrmStats>())
{
    ui->setupUi(this);
}

TfrmStats::~TfrmStats() = default;
