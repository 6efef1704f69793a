#pragma once

#include <QString>
#include <QStringList>

// What the program's command line asks for:
//   quellmark [-h|--help] [-v|--version] [test]
// The word "test" as the first argument (any case) selects the test
// configuration. Qt's own options (-platform, -style, ...) are let through
// for the application object to take.
struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    bool testMode = false;
    // Help or version text for standard output, or the error for standard
    // error.
    QString text;

    // Needs an application object (a core one does) for the program name.
    static CommandLine parse(const QStringList &arguments);
    // Whether anything in argv could be an option: only then is an
    // application object made before the window's to read it.
    static bool hasOptions(int argc, char *argv[]);
};

// The exit codes the manual page documents.
namespace ExitCode {
inline constexpr int Ok = 0;
inline constexpr int StoreUnusable = 1;
inline constexpr int Usage = 2;
} // namespace ExitCode
