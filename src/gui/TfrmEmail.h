#pragma once

#include "alerts/TemplateFolder.h"

#include <QWidget>

#include <memory>

class QAction;
class QMenu;
namespace Ui {
class TfrmEmail;
}

// The message composer: creates, edits and deletes the alert e-mail
// templates of the template folder. A modeless tool window; every field is
// written to the selected template's file when it loses the focus.
class TfrmEmail : public QWidget {
    Q_OBJECT
public:
    // Works on the template folder of the user's program folder.
    explicit TfrmEmail(QWidget *parent = nullptr);
    explicit TfrmEmail(const QString &templateFolder, QWidget *parent = nullptr);
    ~TfrmEmail() override;

    // Creates the folder when missing, lists it (or offers the default names)
    // and selects the first name; the fields start empty.
    void setTemplateFolder(const QString &folder);
    QString templateFolder() const { return m_folder.folder(); }
    // The file the fields belong to; empty when no name is left.
    QString currentTemplatePath() const { return m_path; }

    // Fills the list with the templates of the folder.
    void ListTemplates();
    // Both throw FileError.
    void LoadTemplate(const QString &path);
    void SaveTemplate(const QString &path);

    void cmbMsgsChange();
    void butAddEmailClick();
    void butDelEmailClick();
    void butInsertVariableClick();
    void mnuCopyClick();
    // Leaving To, From, Subject or the message.
    void fieldExit();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QStringList names() const;
    void fillNames(const QStringList &names, const QString &selected);
    // Points the fields at the selected name and loads its file if it exists.
    void openSelected();
    TemplateFields fields() const;
    void setFields(const TemplateFields &fields);
    void setEditable(bool editable);
    void updateVariableActions();
    QString selectedVariable() const;
    // Saves to the current template unless there is nothing to save.
    void saveCurrent();
    // Shows a failure once the current event is done; one box at a time.
    void reportError(const QString &message);

    std::unique_ptr<Ui::TfrmEmail> ui;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    QMenu *VariablesPopupMenu = nullptr;
    QAction *mnuCopy = nullptr;
    TemplateFolder m_folder;
    QString m_path;
    // False while no name is selected or the selected file could not be
    // read: the fields are then disabled and never saved, so an unreadable
    // template is not overwritten with other contents.
    bool m_editable = true;
    // Typed into since the last load or save.
    bool m_edited = false;
    bool m_filling = false;
    bool m_errorPending = false;
};
