#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Starts a program; true when the new process is running.
using ProgramStarter = std::function<bool(const QString &program, const QStringList &arguments)>;

// Starts program with arguments as a process of its own that outlives ours.
bool StartProgramDetached(const QString &program, const QStringList &arguments);

// Starts this program's own executable again with the arguments it was given
// after its name, each as received, so that a test-mode program restarts in
// test mode. commandLine is the whole command line, program name first
// (QCoreApplication::arguments() when omitted). The caller must have let go
// of its single-instance lock, or the new instance ends at once.
bool RestartProgram(const ProgramStarter &starter = StartProgramDetached);
bool RestartProgram(const ProgramStarter &starter, const QStringList &commandLine);
