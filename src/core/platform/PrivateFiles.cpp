#include "platform/PrivateFiles.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <filesystem>

#include <sys/stat.h>

namespace fs = std::filesystem;

static void makePrivate(const QByteArray &path)
{
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0 || S_ISLNK(status.st_mode))
        return;
    if ((status.st_mode & 077) != 0)
        ::chmod(path.constData(), status.st_mode & 07700);
}

bool CreatePrivateFolder(const QString &folder)
{
    const QString clean = QDir::cleanPath(QDir(folder).absolutePath());
    const QByteArray path = QFile::encodeName(clean);
    struct stat status {};
    if (::stat(path.constData(), &status) == 0) {
        if (!S_ISDIR(status.st_mode))
            return false;
        makePrivate(path);
        return true;
    }
    // Walk down from the first missing parent; mkdir's mode is cut by the
    // umask only, so 0700 stays 0700 or less.
    qsizetype at = 1;
    while (at >= 0) {
        at = path.indexOf('/', at);
        const QByteArray part = at < 0 ? path : path.left(at);
        if (!part.isEmpty() && ::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return false;
        if (at >= 0)
            ++at;
    }
    makePrivate(path);
    return ::stat(path.constData(), &status) == 0 && S_ISDIR(status.st_mode);
}

void MakePrivate(const QString &path)
{
    makePrivate(QFile::encodeName(path));
}

void MakePrivateTree(const QString &folder)
{
    const QByteArray top = QFile::encodeName(folder);
    makePrivate(top);
    std::error_code ec;
    // Links are listed but neither followed nor changed.
    for (fs::recursive_directory_iterator it(top.toStdString(), ec), end; !ec && it != end;
         it.increment(ec))
        makePrivate(QByteArray::fromStdString(it->path().string()));
}
