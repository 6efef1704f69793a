#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class TfrmInput;
}

// The "Site Input" dialog in which a service is added or edited. It is a
// tool window that does not block the main window; the main window fills it
// (Add, Edit) and performs the save when the dialog asks for it. Its title
// tells which of the two it is doing.
class TfrmInput : public QWidget {
    Q_OBJECT
public:
    static QString addTitle() { return QStringLiteral("Add New Service/Site"); }
    static QString editTitle() { return QStringLiteral("Edit Service/Site"); }

    explicit TfrmInput(QWidget *parent = nullptr);
    ~TfrmInput() override;

    QString serviceType() const;
    // Selects the entry equal to `type` without regard to case (none when no
    // entry matches) and applies the type's rules.
    void selectType(const QString &type);
    void setTypeEnabled(bool enabled);
    int port() const;
    void setPort(int port);
    QString host() const;
    void setHost(const QString &host);
    QString pattern() const;
    void setPattern(const QString &pattern);
    bool isPatternShown() const;
    QString hostLabel() const;

    // Choosing a type: host label, pattern visibility, default port, host
    // cleaned.
    void cmbServiceChange();
    // Leaving the host field: the host cleaned for the current type.
    void edtHostExit();
    void BitBtn2Click();

signals:
    // "Save" (or Enter): the main window adds or edits and hides the dialog.
    void saveRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    std::unique_ptr<Ui::TfrmInput> ui;
};
