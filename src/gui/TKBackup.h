#pragma once

#include "config/BackupRestart.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class TKBackup;
}

struct ProgramContext;

// The " Backup " group of the Misc page: the backup folder with its browse
// button, "Backup" and "Restore". It works under the settings root and on the
// program folder it is given; the main window reacts to its signals (status
// bar text, ending the program for the restart).
class TKBackup : public QWidget {
    Q_OBJECT
public:
    explicit TKBackup(QWidget *parent = nullptr);
    ~TKBackup() override;

    // Settings root and program folder of the run; reads BackupDir (default:
    // the program folder's "Backup") into the field and backs up the
    // program folder's "email" unless setBackupPaths says otherwise.
    void setContext(const ProgramContext &context);
    // The files and folders a backup copies besides the settings.
    void setBackupPaths(const QStringList &paths);
    QStringList backupPaths() const { return m_paths; }

    // The backup folder: the field's text with a trailing "/" (empty stays
    // empty).
    QString SetBackupDir() const;
    // True when a backup set was made.
    bool DoBackup(const QStringList &paths);
    // True when the configuration was restored; restartRequested() has then
    // been emitted.
    bool DoRestore();

    // Starts this program anew with the arguments it got, through the
    // launcher (by default a detached start of the program's own executable).
    // Call it only after the single-instance lock is released.
    bool restartProgram() const;
    void setRestartLauncher(ProgramStarter launcher);
    // Picks a folder: sees the folder shown at first, returns the chosen one
    // or an empty text when cancelled. Replaceable for tests.
    using FolderPicker = std::function<QString(QWidget *parent, const QString &start)>;
    void setFolderPicker(FolderPicker picker);

    void butBackupClick();
    void butRestoreClick();
    void butBackDirBrowseClick();
    void edtBackupDirExit();

signals:
    // The "Backup" button made a backup set ("Finished backup." belongs in
    // the status bar).
    void backupFinished();
    // A restore has replaced the configuration: the program must end and
    // start anew (release the instance lock, restartProgram(), exit).
    void restartRequested();

private:
    void writeBackupDir();

    std::unique_ptr<Ui::TKBackup> ui;
    QString m_settingsRoot;
    QString m_programFolder;
    QStringList m_paths;
    ProgramStarter m_launcher;
    FolderPicker m_folderPicker;
};
