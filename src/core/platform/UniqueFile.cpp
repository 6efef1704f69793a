#include "platform/UniqueFile.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

static constexpr char Prefix[] = ".quellmark-";
static constexpr char Suffix[] = ".tmp";
static constexpr const char *SideSuffixes[] = {"-journal", "-wal", "-shm"};
static constexpr int Attempts = 32;

static QByteArray candidateName(const QByteArray &folder, const char *kind)
{
    return folder + '/' + Prefix + kind + '-' +
           QByteArray::number(QRandomGenerator::system()->generate64(), 36) + Suffix;
}

// An unnamed file, locked, then linked in under a free name: no sweep can
// ever see it unlocked while its writer lives. -1 when the file system or
// /proc does not allow it.
static int createLockedUnnamed(const QByteArray &folder, const char *kind, mode_t mode,
                               QByteArray &path)
{
    const int fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX) == 0) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        for (int attempt = 0; attempt < Attempts; ++attempt) {
            const QByteArray candidate = candidateName(folder, kind);
            if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, candidate.constData(),
                         AT_SYMLINK_FOLLOW) == 0) {
                path = candidate;
                return fd;
            }
            if (errno != EEXIST)
                break;
        }
    }
    ::close(fd);
    return -1;
}

int CreateUniqueFile(const QByteArray &folder, const char *kind, mode_t mode, QByteArray &path)
{
    const QByteArray base = folder.isEmpty() ? QByteArray(".") : folder;
    const int unnamed = createLockedUnnamed(base, kind, mode, path);
    if (unnamed >= 0)
        return unnamed;
    // Named at once and locked right after: a sweep in that instant could
    // take the file, and the writer's rename or link would then fail
    // cleanly. Only where unnamed files are not supported.
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        const QByteArray candidate = candidateName(base, kind);
        const int fd = ::open(candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            ::flock(fd, LOCK_EX);
            path = candidate;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

// The length of the part of name before SQLite's suffix, or -1 when name is
// not one of ours.
static qsizetype mainLength(const QByteArray &name)
{
    qsizetype end = name.size();
    for (const char *side : SideSuffixes) {
        if (name.endsWith(side)) {
            end -= qsizetype(qstrlen(side));
            break;
        }
    }
    const QByteArray main = name.left(end);
    if (!main.startsWith(Prefix) || !main.endsWith(Suffix))
        return -1;
    // <kind>-<random>: lower-case letters, a dash, lower-case letters and digits.
    const QByteArray middle =
        main.mid(qstrlen(Prefix), main.size() - qsizetype(qstrlen(Prefix) + qstrlen(Suffix)));
    const qsizetype dash = middle.indexOf('-');
    if (dash <= 0 || dash == middle.size() - 1)
        return -1;
    for (qsizetype i = 0; i < middle.size(); ++i) {
        const char c = middle[i];
        const bool letter = c >= 'a' && c <= 'z';
        const bool digit = c >= '0' && c <= '9';
        if (i == dash ? c != '-' : !(letter || (i > dash && digit)))
            return -1;
    }
    return end;
}

bool IsTemporaryFileName(const QByteArray &name)
{
    return mainLength(name) > 0;
}

// A regular file of ours that is the same one the name still gives.
static bool sameOwnFile(const QByteArray &path, const struct stat &held)
{
    struct stat now {};
    return ::lstat(path.constData(), &now) == 0 && S_ISREG(now.st_mode) &&
           now.st_dev == held.st_dev && now.st_ino == held.st_ino && now.st_uid == ::geteuid();
}

// Unlinks path when nobody holds it; the lock is kept until the name is gone
// so a second sweep cannot take a file the first one is looking at.
static bool removeIfAbandoned(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat held {};
    bool removed = false;
    if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        sameOwnFile(path, held))
        removed = ::unlink(path.constData()) == 0;
    ::close(fd);
    return removed;
}

int RemoveAbandonedTemporaries(const QString &folder)
{
    const QByteArray base = QFile::encodeName(folder);
    DIR *dir = ::opendir(base.constData());
    if (!dir)
        return 0;
    std::vector<QByteArray> mains, sides;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        const qsizetype length = mainLength(name);
        if (length < 0)
            continue;
        (length == name.size() ? mains : sides).push_back(name);
    }
    ::closedir(dir);

    const QByteArray at = base.endsWith('/') ? base : base + '/';
    int removed = 0;
    for (const QByteArray &name : mains)
        removed += removeIfAbandoned(at + name) ? 1 : 0;
    // SQLite's files of a store being set up live as long as it: without
    // it (gone now, or never there) nobody uses them.
    for (const QByteArray &name : sides) {
        const QByteArray main = at + name.left(mainLength(name));
        struct stat status {};
        if (::lstat(main.constData(), &status) == 0 || errno != ENOENT)
            continue;
        const QByteArray path = at + name;
        if (::lstat(path.constData(), &status) == 0 && S_ISREG(status.st_mode) &&
            status.st_uid == ::geteuid() && ::unlink(path.constData()) == 0)
            ++removed;
    }
    return removed;
}
