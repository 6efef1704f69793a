#include "TKBackup.h"

#include "Dialogs.h"
#include "FocusOutWatcher.h"
#include "ui_TKBackup.h"

#include "config/Backup.h"
#include "config/BackupError.h"
#include "config/ProgramContext.h"
#include "config/Registry.h"
#include "config/RegistryStore.h"
#include "config/Settings.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

static QString pickFolder(QWidget *parent, const QString &start)
{
    return QFileDialog::getExistingDirectory(parent, QStringLiteral("Select folder"), start);
}

TKBackup::TKBackup(QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::TKBackup>()), m_launcher(StartProgramDetached),
      m_folderPicker(pickFolder)
{
    ui->setupUi(this);
    connect(ui->butBackup, &QPushButton::clicked, this, &TKBackup::butBackupClick);
    connect(ui->butRestore, &QPushButton::clicked, this, &TKBackup::butRestoreClick);
    connect(ui->butBackDirBrowse, &QToolButton::clicked, this, &TKBackup::butBackDirBrowseClick);
    FocusOutWatcher::watch(ui->edtBackupDir, [this] { edtBackupDirExit(); });
}

TKBackup::~TKBackup() = default;

void TKBackup::setContext(const ProgramContext &context)
{
    m_settingsRoot = context.settingsRoot;
    m_programFolder = context.programFolder;
    m_paths = {m_programFolder + QStringLiteral("email")};
    try {
        ui->edtBackupDir->setText(RegReadString(m_settingsRoot, Settings::BackupDir.name(),
                                                DefaultBackupFolder(m_programFolder)));
    } catch (const RegistryError &error) {
        ui->edtBackupDir->setText(DefaultBackupFolder(m_programFolder));
        Dialogs::error(this, error.message());
    }
}

void TKBackup::setBackupPaths(const QStringList &paths)
{
    m_paths = paths;
}

QString TKBackup::SetBackupDir() const
{
    return BackupFolderFromText(ui->edtBackupDir->text());
}

void TKBackup::setRestartLauncher(ProgramStarter launcher)
{
    m_launcher = std::move(launcher);
}

void TKBackup::setFolderPicker(FolderPicker picker)
{
    m_folderPicker = std::move(picker);
}

bool TKBackup::restartProgram() const
{
    return RestartProgram(m_launcher);
}

// Both operations block the window while they run, as a user expects of a
// short file job; the busy cursor says so.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};

bool TKBackup::DoBackup(const QStringList &paths)
{
    BackupCallbacks callbacks;
    callbacks.confirmEmptying = [this](const QString &question) {
        return Dialogs::confirmWarning(this, question);
    };
    callbacks.reportError = [this](const QString &message) { Dialogs::error(this, message); };
    callbacks.beep = [] { QApplication::beep(); };
    try {
        BusyCursor busy;
        return ::DoBackup(SetBackupDir(), m_settingsRoot, paths, callbacks);
    } catch (const BackupError &error) {
        Dialogs::error(this, error.message());
    } catch (const RegistryError &error) {
        Dialogs::error(this, error.message());
    }
    return false;
}

bool TKBackup::DoRestore()
{
    bool restart = false;
    BackupCallbacks callbacks;
    callbacks.confirmRestore = [this](const QString &question) {
        return Dialogs::askOkCancel(this, QStringLiteral("Restore Configuration"), question);
    };
    callbacks.reportError = [this](const QString &message) { Dialogs::error(this, message); };
    callbacks.inform = [this](const QString &message) { Dialogs::information(this, message); };
    callbacks.beep = [] { QApplication::beep(); };
    callbacks.restart = [&restart] { restart = true; };
    try {
        ::DoRestore(SetBackupDir(), m_settingsRoot, m_programFolder, callbacks);
    } catch (const BackupError &error) {
        Dialogs::error(this, error.message());
    } catch (const RegistryError &error) {
        Dialogs::error(this, error.message());
    }
    // Emitted last: the receiver ends the program.
    if (restart)
        emit restartRequested();
    return restart;
}

void TKBackup::butBackupClick()
{
    if (DoBackup(m_paths))
        emit backupFinished();
}

void TKBackup::butRestoreClick()
{
    DoRestore();
}

void TKBackup::writeBackupDir()
{
    if (m_settingsRoot.isEmpty())
        return; // not placed yet: there is no settings root to write under
    try {
        RegWriteString(m_settingsRoot, Settings::BackupDir.name(), ui->edtBackupDir->text());
    } catch (const RegistryError &error) {
        Dialogs::error(this, error.message());
    }
}

void TKBackup::edtBackupDirExit()
{
    writeBackupDir();
}

void TKBackup::butBackDirBrowseClick()
{
    // Start at the current backup folder when it exists, else at the home
    // folder (standing for the desktop).
    const QString current = SetBackupDir();
    const QString start =
        !current.isEmpty() && QFileInfo(current).isDir() ? current : QDir::homePath();
    const QString chosen = m_folderPicker ? m_folderPicker(this, start) : QString();
    if (chosen.isEmpty() || !QFileInfo(chosen).isDir())
        return;
    ui->edtBackupDir->setText(QDir::toNativeSeparators(chosen));
    writeBackupDir();
}
