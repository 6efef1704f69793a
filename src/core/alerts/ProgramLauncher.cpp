#include "ProgramLauncher.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

QStringList splitCommandLine(const QString &commandLine, bool *ok)
{
    QStringList words;
    QString word;
    bool inWord = false;
    enum { Plain, Single, Double } mode = Plain;
    for (int i = 0; i < commandLine.size(); ++i) {
        const QChar c = commandLine.at(i);
        switch (mode) {
        case Plain:
            if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
                if (inWord) {
                    words << word;
                    word.clear();
                    inWord = false;
                }
            } else if (c == QLatin1Char('\'')) {
                mode = Single;
                inWord = true;
            } else if (c == QLatin1Char('"')) {
                mode = Double;
                inWord = true;
            } else if (c == QLatin1Char('\\')) {
                inWord = true;
                if (i + 1 < commandLine.size())
                    word += commandLine.at(++i);
            } else {
                word += c;
                inWord = true;
            }
            break;
        case Single:
            if (c == QLatin1Char('\''))
                mode = Plain;
            else
                word += c;
            break;
        case Double:
            if (c == QLatin1Char('"')) {
                mode = Plain;
            } else if (c == QLatin1Char('\\') && i + 1 < commandLine.size() &&
                       QStringLiteral("\"\\$`").contains(commandLine.at(i + 1))) {
                word += commandLine.at(++i);
            } else {
                word += c;
            }
            break;
        }
    }
    if (inWord)
        words << word;
    if (ok)
        *ok = (mode == Plain);
    return words;
}

namespace {
[[noreturn]] void fail(int code)
{
    throw LaunchError(QStringLiteral("Create Process Error #%1: %2")
                          .arg(code)
                          .arg(QString::fromLocal8Bit(std::strerror(code))));
}

// The file the spawn's PATH search ran: the first regular, executable file
// of that name, as the search skips the others. A name with a slash is taken
// as it stands.
QByteArray foundOnPath(const QByteArray &name)
{
    if (name.contains('/'))
        return name;
    const char *path = ::getenv("PATH");
    // The C library's search path when PATH is not set.
    const QByteArray folders = path ? QByteArray(path) : QByteArray("/bin:/usr/bin");
    for (const QByteArray &folder : folders.split(':')) {
        // An empty entry is the current folder.
        const QByteArray candidate = (folder.isEmpty() ? QByteArray(".") : folder) + '/' + name;
        struct stat info;
        if (::stat(candidate.constData(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.constData(), X_OK) == 0)
            return candidate;
    }
    return name;
}
} // namespace

void LaunchProgram(const QString &commandLine, const QString &workingFolder, bool wait)
{
    bool ok = true;
    const QStringList words = splitCommandLine(commandLine, &ok);
    if (!ok)
        fail(EINVAL);
    if (words.isEmpty() || words.first().isEmpty())
        fail(ENOENT);

    std::vector<QByteArray> storage;
    storage.reserve(words.size());
    for (const QString &word : words)
        storage.push_back(QFile::encodeName(word));
    std::vector<char *> argv;
    for (QByteArray &bytes : storage)
        argv.push_back(bytes.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Only the standard streams go to the child.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    const QByteArray folder = QFile::encodeName(workingFolder);
    if (!workingFolder.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, folder.constData());

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The child starts with default signal handling and an empty mask, not
    // with whatever this process has set up.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = 0;
    int result = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    if (result == ENOEXEC) {
        // An executable file the kernel cannot run (a script without "#!")
        // is a shell script, as the shell and execvp take it; the spawn
        // reports that as its own result and leaves no child behind.
        QByteArray script = foundOnPath(storage.front());
        std::vector<char *> shellArgv{const_cast<char *>("/bin/sh"), script.data()};
        shellArgv.insert(shellArgv.end(), argv.begin() + 1, argv.end());
        result = posix_spawn(&pid, "/bin/sh", &actions, &attributes, shellArgv.data(), environ);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result != 0)
        fail(result);

    if (wait) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return;
    }
    // Nobody waits for the program, but it must not stay a zombie.
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}
