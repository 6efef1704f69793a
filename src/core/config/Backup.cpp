#include "config/Backup.h"

#include "base/Subs.h"
#include "config/BackupError.h"
#include "config/RegistryExport.h"
#include "config/RegistryStore.h"
#include "config/Settings.h"
#include "platform/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

static fs::path toFsPath(const QString &path)
{
    return fs::path(QFile::encodeName(path).toStdString());
}

static QString fromFsPath(const fs::path &path)
{
    return QFile::decodeName(QByteArray::fromStdString(path.string()));
}

static bool ask(const std::function<bool(const QString &)> &question, const QString &text)
{
    return question && question(text);
}

static void tell(const std::function<void(const QString &)> &sink, const QString &text)
{
    if (sink)
        sink(text);
}

// Copies a single file under its own name into folder, replacing a file of
// that name. Copying a file onto itself fails instead of destroying it.
static bool copyFileInto(const QString &filePath, const QString &folder)
{
    std::error_code ec;
    const fs::path target = toFsPath(folder) / toFsPath(QFileInfo(filePath).fileName());
    fs::copy_file(toFsPath(filePath), target, fs::copy_options::overwrite_existing, ec);
    return !ec;
}

QString BackupFolderFromText(const QString &text)
{
    return IncludeTrailingPathDelimiter(text);
}

QString DefaultBackupFolder(const QString &programFolder)
{
    return Settings::BackupDir.defaultText(programFolder);
}

QStringList ForeignBackupEntries(const QString &folder, const QStringList &paths)
{
    if (folder.isEmpty())
        return {};
    QStringList ours;
    for (const QString &path : paths) {
        if (!path.trimmed().isEmpty())
            ours << QFileInfo(QDir::cleanPath(path)).fileName();
    }
    QStringList foreign;
    const QStringList entries = QDir(folder).entryList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString &name : entries) {
        if (name.compare(BackupRegistryFileName, Qt::CaseInsensitive) != 0 && !ours.contains(name))
            foreign << name;
    }
    return foreign;
}

// Deletes the files of folder, then its subfolders with their contents; each
// failure is reported and the rest still goes.
static void emptyFolder(const QString &folder, const BackupCallbacks &callbacks)
{
    std::error_code ec;
    std::vector<fs::path> files, folders;
    for (fs::directory_iterator it(toFsPath(folder), ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        // A link is removed as a file, never followed.
        if (it->is_directory(typeError) && !it->is_symlink(typeError))
            folders.push_back(it->path());
        else
            files.push_back(it->path());
    }
    for (const fs::path &file : files) {
        std::error_code removeError;
        if (!fs::remove(file, removeError) || removeError) {
            tell(callbacks.reportError, QStringLiteral("Error deleting file \"") + folder +
                                            fromFsPath(file.filename()) + QStringLiteral("\"."));
        }
    }
    for (const fs::path &sub : folders) {
        const QString path = fromFsPath(sub);
        if (!DeleteFolderTree(path))
            tell(callbacks.reportError,
                 QStringLiteral("Error deleting directory \"") + path + QStringLiteral("\"."));
    }
}

bool DoBackup(const QString &backupFolder, const QString &settingsRoot, const QStringList &paths,
              const BackupCallbacks &callbacks)
{
    const QString folder = BackupFolderFromText(backupFolder);
    if (folder.isEmpty())
        throw BackupError(QStringLiteral("Unable to create directory"));

    if (QFileInfo(folder).isDir()) {
        // Emptying a folder the user filled with other things (or picked by
        // mistake, like the home folder) would lose them without a word.
        const QStringList foreign = ForeignBackupEntries(folder, paths);
        if (!foreign.isEmpty()) {
            const QString question =
                QStringLiteral("The backup folder \"%1\" holds entries that are not part of a "
                               "backup, such as \"%2\". A backup deletes everything in this "
                               "folder.\n\nDo you want to continue?")
                    .arg(folder, foreign.first());
            if (!ask(callbacks.confirmEmptying, question))
                return false;
        }
        emptyFolder(folder, callbacks);
    }
    // The set holds the mail password: folder and files are the owner's
    // alone, the folder before anything is written into it.
    if (!CreatePrivateFolder(folder))
        throw BackupError(QStringLiteral("Unable to create directory"));

    const QString registryFile = folder + BackupRegistryFileName;
    bool exported = false;
    try {
        // The export appends to the file; made here, it is private from the
        // first line on.
        QFile file(registryFile);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.close();
        MakePrivate(registryFile);
        ExportRegistryKey(registryFile, settingsRoot);
        // The export drops lines it cannot write; without the file there is
        // no backup of the settings at all, and the user must know.
        exported = QFileInfo(registryFile).isFile();
    } catch (const std::exception &) {
        exported = false;
    }
    if (!exported)
        tell(callbacks.reportError, QStringLiteral("Error backing up registry entries"));

    for (const QString &path : paths) {
        if (path.trimmed().isEmpty())
            continue;
        const QFileInfo info(path);
        if (info.isDir())
            CopyFolderInto(path, folder);
        else if (info.exists())
            copyFileInto(path, folder);
    }
    MakePrivateTree(folder);

    if (callbacks.beep)
        callbacks.beep();
    return true;
}

// Reads the file into a throw-away store, so that a file the import would
// stop on is found before the settings are deleted.
static void checkImportable(const QString &registryFile)
{
    QTemporaryDir scratchFolder;
    if (!scratchFolder.isValid())
        return; // cannot check; the real import still reports its errors
    RegistryStore scratch(scratchFolder.filePath(QStringLiteral("check.sqlite")));
    ImportRegistryFile(scratch, registryFile);
}

bool DoRestore(const QString &backupFolder, const QString &settingsRoot,
               const QString &programFolder, const BackupCallbacks &callbacks)
{
    const QString folder = BackupFolderFromText(backupFolder);
    // An empty field would otherwise mean the current folder of the process.
    if (folder.isEmpty())
        throw BackupError(QStringLiteral("No backup folder is given. Nothing was restored."));

    // Deleting the settings and importing nothing would leave the program with
    // no configuration at all: a mistyped folder must never do that.
    const QString registryFile = folder + BackupRegistryFileName;
    if (!QFileInfo(registryFile).isFile()) {
        throw BackupError(QStringLiteral("The folder \"%1\" holds no backup (the file \"%2\" is "
                                         "missing). Nothing was restored.")
                              .arg(folder, BackupRegistryFileName));
    }
    try {
        checkImportable(registryFile);
    } catch (const RegistryError &error) {
        throw BackupError(QStringLiteral("The backup in \"%1\" cannot be restored: %2\nNothing "
                                         "was restored.")
                              .arg(folder, error.message()));
    }

    if (!ask(callbacks.confirmRestore,
             QStringLiteral("You are about to do a restore. Are you sure you want to continue?")))
        return false;

    RegistryStore &store = RegistryStore::currentOrThrow();
    store.deleteKey(settingsRoot);
    ImportRegistryFile(store, registryFile);

    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (entry.fileName().toLower() == BackupRegistryFileName)
            continue;
        if (entry.isDir())
            CopyFolderInto(entry.filePath(), programFolder);
        else
            copyFileInto(entry.filePath(), programFolder);
    }

    if (callbacks.beep)
        callbacks.beep();
    tell(callbacks.inform,
         QStringLiteral("Configuration restored.The application will now restart."));
    if (callbacks.restart)
        callbacks.restart();
    return true;
}
