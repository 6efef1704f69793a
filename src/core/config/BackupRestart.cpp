#include "config/BackupRestart.h"

#include <QCoreApplication>
#include <QProcess>

bool StartProgramDetached(const QString &program, const QStringList &arguments)
{
    return QProcess::startDetached(program, arguments);
}

bool RestartProgram(const ProgramStarter &starter)
{
    return RestartProgram(starter, QCoreApplication::arguments());
}

bool RestartProgram(const ProgramStarter &starter, const QStringList &commandLine)
{
    if (!starter)
        return false;
    // The executable's own path, not the first argument: a program started
    // through a relative path or a link must find itself from any folder.
    return starter(QCoreApplication::applicationFilePath(), commandLine.mid(1));
}
