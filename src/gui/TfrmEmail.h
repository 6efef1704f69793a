#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class TfrmEmail;
}

// The message composer: creates and edits the alert e-mail templates.
class TfrmEmail : public QWidget {
    Q_OBJECT
public:
    explicit TfrmEmail(QWidget *parent = nullptr);
    ~TfrmEmail() override;

private:
    std::unique_ptr<Ui::TfrmEmail> ui;
};
