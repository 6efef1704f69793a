#pragma once

#include <QString>
#include <QStringList>

#include <stdexcept>

// A program could not be started. message() is the text shown to the user.
class LaunchError : public std::runtime_error {
public:
    explicit LaunchError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};

// Splits a command line into words by the shell's quoting rules (blanks
// separate words; '...' keeps everything literally; "..." keeps blanks and
// takes \ before " \ $ ` as an escape; a lone \ escapes the next character).
// Nothing is expanded: no variables, no globs. Sets `ok` false on an
// unterminated quote.
QStringList splitCommandLine(const QString &commandLine, bool *ok = nullptr);

// Starts the program named by the first word of the command line, found on
// PATH like a shell would, with the other words as its arguments. An
// executable file the system cannot run itself (a script without "#!") runs
// with /bin/sh, as the shell would run it. No
// descriptor of ours reaches the child. A working folder, when given, becomes
// the child's current folder. With wait the call returns when the child has
// ended; otherwise at once, and the child is reaped in the background.
// Failure throws LaunchError "Create Process Error #<errno>: <system text>".
void LaunchProgram(const QString &commandLine, const QString &workingFolder = QString(),
                   bool wait = false);
