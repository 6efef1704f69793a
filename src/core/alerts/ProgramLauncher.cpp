#include "ProgramLauncher.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
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
    const int result = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
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
