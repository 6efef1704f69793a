#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class TfrmStats;
}

// The statistics window: down-time reports built from the service logs.
class TfrmStats : public QWidget {
    Q_OBJECT
public:
    explicit TfrmStats(QWidget *parent = nullptr);
    ~TfrmStats() override;

private:
    std::unique_ptr<Ui::TfrmStats> ui;
};
