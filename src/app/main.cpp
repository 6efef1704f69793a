#include "CommandLine.h"
#include "DamagedStoreDialog.h"
#include "DBusControl.h"
#include "TfrmEmail.h"
#include "TfrmError.h"
#include "TfrmInput.h"
#include "TfrmMain.h"
#include "TKBackup.h"
#include "TfrmStats.h"

#include "alerts/TemplateFolder.h"
#include "config/LastGoodKeeper.h"
#include "config/ProgramContext.h"
#include "engine/Monitor.h"
#include "config/RegistryStore.h"
#include "platform/AppPaths.h"
#include "platform/DesktopId.h"
#include "platform/InstanceLock.h"
#include "platform/PrivateFiles.h"
#include "platform/QuitSignalWatcher.h"
#include "platform/UniqueFile.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTimer>

#include <memory>

#include <cstdio>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const bool testMode = ProgramContext::isTestMode(arguments);

    if (CommandLine::hasOptions(argc, argv)) {
        // Help and version need no display: a core application reads them.
        int exitCode = -1;
        {
            QCoreApplication core(argc, argv);
            const CommandLine line = CommandLine::parse(QCoreApplication::arguments());
            switch (line.action) {
            case CommandLine::Action::Run:
                break;
            case CommandLine::Action::Help:
            case CommandLine::Action::Version:
                std::fputs(line.text.toLocal8Bit().constData(), stdout);
                exitCode = ExitCode::Ok;
                break;
            case CommandLine::Action::Error:
                std::fputs(line.text.toLocal8Bit().constData(), stderr);
                exitCode = ExitCode::Usage;
                break;
            }
        }
        if (exitCode >= 0)
            return exitCode;
    }

    // One instance per mode. A second start touches nothing: it asks the
    // running program to show its window, where the session bus lets it,
    // and ends.
    InstanceLock lock(InstanceLock::pathForMode(testMode));
    if (!lock.tryLock()) {
        QCoreApplication core(argc, argv);
        DBusControl::showRunningInstance(testMode);
        return ExitCode::Ok;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(ProgramContext::applicationTitle());
    QApplication::setApplicationDisplayName(ProgramContext::applicationTitle());
    QApplication::setApplicationVersion(ProgramContext::buildVersion());
    QApplication::setQuitOnLastWindowClosed(false);
    // The shell finds the desktop entry, and with it the icon, by this name.
    QGuiApplication::setDesktopFileName(desktopId());

    // The settings folder holds the store with the mail password.
    CreatePrivateFolder(AppPaths::configFolder());
    const QString storePath = RegistryStore::defaultPath();
    std::unique_ptr<RegistryStore> store;
    while (!store) {
        try {
            store = std::make_unique<RegistryStore>(storePath);
        } catch (const DamagedStoreError &damaged) {
            // The user decides: the last good copy, new settings, or quit.
            if (!DamagedStoreDialog::recover(damaged))
                return ExitCode::StoreUnusable;
        } catch (const RegistryError &error) {
            QMessageBox::critical(nullptr, ProgramContext::applicationTitle(), error.message());
            return ExitCode::StoreUnusable;
        }
    }
    RegistryStore::setCurrent(store.get());

    const ProgramContext context =
        ProgramContext::create(testMode, AppPaths::programFolder());
    // Saves cut short by a crash or a kill leave their temporary files
    // behind; those no process holds any more go.
    for (const QString &folder : {AppPaths::configFolder(), context.programFolder,
                                  TemplateFolder::folderIn(context.programFolder)})
        RemoveAbandonedTemporaries(folder);

    // Log-out and Ctrl+C take the same path as "Exit", so the window position
    // is kept. Installed before the windows so no signal is missed.
    QuitSignalWatcher quitSignals;

    int result = 0;
    {
        // A copy of the store as it was after this good start, and after
        // later changes, to come back to should the store be damaged.
        LastGoodKeeper lastGood(storePath);
        lastGood.start();
        // The engine; the windows, the tray, signals and D-Bus all drive it.
        Monitor monitor(context);
        TfrmMain frmMain(context, &monitor);
        TfrmError frmError;
        TfrmStats frmStats;
        frmStats.setProgramFolder(context.programFolder);
        TfrmInput frmInput;
        TfrmEmail frmEmail;
        frmMain.attachWindows({&frmError, &frmStats, &frmInput, &frmEmail});
        QObject::connect(&monitor, &Monitor::exitReady, &app, &QCoreApplication::quit);
        QObject::connect(&quitSignals, &QuitSignalWatcher::quitRequested, &monitor, &Monitor::requestExit);
        // After a restore: let go of the instance lock so the new instance is
        // not turned away, start it with our arguments, then end as usual.
        QObject::connect(&frmMain, &TfrmMain::restartRequested, &frmMain, [&] {
            lock.release();
            if (!frmMain.backupFrame()->restartProgram()) {
                // Nothing started: keep running with the restored settings.
                lock.tryLock();
                QMessageBox::critical(&frmMain, context.title,
                                      QStringLiteral("The program could not be started again. Please "
                                                     "start it yourself to use the restored configuration."));
                return;
            }
            monitor.requestExit();
        });

        // Scripts and desktop tools reach the running program on the
        // session bus; without a bus it runs as before.
        DBusControl dbus(&monitor, &frmMain);
        dbus.registerOnSessionBus(testMode);

        frmMain.showAtStart();

        // Scripts and tests can wait for this file to know the program is up.
        const QString readyFile = qEnvironmentVariable("QUELLMARK_READY_FILE");
        if (!readyFile.isEmpty()) {
            QTimer::singleShot(0, &frmMain, [readyFile] {
                QFile file(readyFile);
                if (file.open(QIODevice::WriteOnly))
                    file.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n');
            });
        }
        result = app.exec();
        lastGood.finish();
    }
    RegistryStore::setCurrent(nullptr);
    return result;
}
