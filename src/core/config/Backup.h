#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// How a backup or restore asks and tells the user. The frame shows boxes; tests
// answer directly. An unset question counts as "no", so nothing is ever
// destroyed without an answer.
struct BackupCallbacks {
    // The backup folder holds entries that are not part of a backup set;
    // true empties it anyway.
    std::function<bool(const QString &question)> confirmEmptying;
    // The restore question; true to go on.
    std::function<bool(const QString &question)> confirmRestore;
    // A problem after which the work goes on.
    std::function<void(const QString &message)> reportError;
    std::function<void(const QString &message)> inform;
    std::function<void()> beep;
    // The restore is complete: the program must start anew.
    std::function<void()> restart;
};

// The settings file of a backup set.
inline const QString BackupRegistryFileName = QStringLiteral("registry.cfg");

// The backup folder for the text of the folder field: a trailing "/" added,
// an empty text stays empty.
QString BackupFolderFromText(const QString &text);
// Where backups go unless the user chose another folder.
QString DefaultBackupFolder(const QString &programFolder);

// Names of the entries of folder that a backup of paths would not have made
// there ("registry.cfg" and the names of the paths), sorted. Empty for a
// missing folder.
QStringList ForeignBackupEntries(const QString &folder, const QStringList &paths);

// Makes a backup set in backupFolder: empties the folder (creating it with its
// parents when missing), exports settingsRoot with everything below it into
// "registry.cfg" and copies each path (a folder with its contents, or a file)
// into it, then beeps. A folder holding anything but a backup set is emptied
// only after confirmEmptying agrees; false when it did not. Throws
// BackupError "Unable to create directory" for an empty or unusable folder
// before anything is written. Deletion and export problems are reported and
// the backup goes on; a path that fails to copy is skipped.
bool DoBackup(const QString &backupFolder, const QString &settingsRoot, const QStringList &paths,
              const BackupCallbacks &callbacks);

// Restores from backupFolder: after confirmRestore, deletes settingsRoot with
// everything below it, imports "registry.cfg", copies every other entry of
// the folder into programFolder (merging folders, replacing files), beeps,
// informs the user and calls restart. False when the user cancelled.
//
// Throws BackupError, before asking and before anything is changed, for an
// empty folder, a folder without "registry.cfg" and a "registry.cfg" that
// cannot be imported. A failure of the import itself after the deletion
// (RegistryError) ends the restore without copying or restarting.
bool DoRestore(const QString &backupFolder, const QString &settingsRoot,
               const QString &programFolder, const BackupCallbacks &callbacks);
