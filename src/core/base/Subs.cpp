#include "base/Subs.h"

#include "base/FileError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

int PosFrom(int start, const QString &text, const QString &search)
{
    if (text.isEmpty() || start < 1 || start > text.size())
        return 0;
    if (search.isEmpty())
        return start;
    const qsizetype index = text.indexOf(search, start - 1);
    return index < 0 ? 0 : int(index) + 1;
}

QString ReplaceAll(const QString &text, const QString &search, const QString &replacement)
{
    if (search.isEmpty())
        return text;
    QString result;
    qsizetype from = 0;
    qsizetype hit;
    while ((hit = text.indexOf(search, from)) >= 0) {
        result += QStringView(text).mid(from, hit - from);
        result += replacement;
        from = hit + search.size();
    }
    result += QStringView(text).mid(from);
    return result;
}

SplitPieces SplitBySeparator(const QString &text, const QString &separator)
{
    SplitPieces result;
    if (separator.isEmpty()) {
        result.count = -1;
        return result;
    }
    result.pieces = text.split(separator, Qt::KeepEmptyParts);
    result.count = int(result.pieces.size());
    return result;
}

int CountOccurrences(const QString &text, const QString &search)
{
    if (search.isEmpty())
        return 0;
    // QString::count() counts overlapping matches, which is not what we want.
    int count = 0;
    qsizetype from = 0;
    qsizetype hit;
    while ((hit = text.indexOf(search, from)) >= 0) {
        ++count;
        from = hit + search.size();
    }
    return count;
}

int LastSeparatorPos(const QString &text, const QString &separator)
{
    if (separator.isEmpty())
        return 0;
    return int(text.lastIndexOf(separator)) + 1;
}

bool IsDottedIPv4(const QString &text)
{
    const QStringList pieces = text.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (pieces.size() != 4)
        return false;
    for (const QString &piece : pieces) {
        if (piece.isEmpty() || piece.size() > 3)
            return false;
        int value = 0;
        for (const QChar c : piece) {
            // Only ASCII digits: QChar::isDigit() would also pass other scripts' digits.
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
            value = value * 10 + (c.unicode() - '0');
        }
        if (value > 255)
            return false;
    }
    return true;
}

QString RightChars(const QString &text, int count)
{
    if (count <= 0)
        return QString();
    return text.right(count);
}

QString NormalizeBlanks(const QString &text)
{
    QString result;
    result.reserve(text.size());
    bool lastWasBlank = false;
    for (QChar c : text) {
        if (c == QLatin1Char('\t'))
            c = QLatin1Char(' ');
        const bool blank = c == QLatin1Char(' ');
        if (!(blank && lastWasBlank))
            result += c;
        lastWasBlank = blank;
    }
    return result;
}

QString IncludeTrailingBackslash(const QString &path)
{
    if (path.isEmpty() || path.endsWith(QLatin1Char('\\')))
        return path;
    return path + QLatin1Char('\\');
}

QString IncludeTrailingPathDelimiter(const QString &path)
{
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
        return path;
    return path + QLatin1Char('/');
}

void SplitToList(const QString &text, QChar separator, QStringList &list)
{
    QString gathered;
    for (const QChar c : text) {
        if (c == separator) {
            list.append(gathered);
            gathered.clear();
        } else {
            gathered += c;
        }
    }
    if (!gathered.isEmpty())
        list.append(gathered);
}

QString PadLeftBlanks(const QString &text, int length)
{
    return text.rightJustified(length, QLatin1Char(' '), false);
}

QString PadRightChar(const QString &text, QChar character, int length)
{
    length = qMax(length, 0);
    if (text.size() > length)
        return text.left(length);
    return text.leftJustified(length, character, false);
}

QString MinutesSeconds(qint64 seconds)
{
    // Work on the magnitude in unsigned arithmetic so the most negative value
    // cannot overflow.
    const bool negative = seconds < 0;
    const quint64 magnitude = negative ? quint64(0) - quint64(seconds) : quint64(seconds);
    const QString text = QString::number(magnitude / 60) + QLatin1Char(':') +
                         QStringLiteral("%1").arg(magnitude % 60, 2, 10, QLatin1Char('0'));
    return negative ? QLatin1Char('-') + text : text;
}

QString StripExtension(const QString &filePath)
{
    const qsizetype dot = filePath.lastIndexOf(QLatin1Char('.'));
    const qsizetype slash = filePath.lastIndexOf(QLatin1Char('/'));
    if (dot < 0 || dot < slash)
        return filePath;
    return filePath.left(dot);
}

qint64 FileSizeOf(const QString &filePath)
{
    const QFileInfo info(filePath);
    return info.isFile() ? info.size() : 0;
}

void AppendLine(const QString &filePath, const QString &line)
{
    AppendRecord(filePath, line.toUtf8() + "\r\n");
}

bool AppendRecord(const QString &filePath, const QByteArray &bytes)
{
    if (filePath.isEmpty())
        return false;
    const QByteArray name = QFile::encodeName(filePath);
    // O_APPEND, so the whole record lands at the end in one write and
    // records of concurrent writers never interleave. Read access is only
    // for the look at the last byte; a log we may only write is appended to
    // without it.
    bool canRead = true;
    int fd = ::open(name.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EACCES) {
        canRead = false;
        fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    }
    if (fd < 0)
        return false;
    // Released by close. A file system without locks appends all the same.
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    QByteArray record;
    struct stat status {};
    char last = '\n';
    if (canRead && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0 &&
        ::pread(fd, &last, 1, status.st_size - 1) == 1 && last != '\n')
        record = "\r\n";
    record += bytes;
    ssize_t written;
    do {
        written = ::write(fd, record.constData(), size_t(record.size()));
    } while (written < 0 && errno == EINTR);
    ::close(fd);
    return written == record.size();
}

void WriteNewTextFile(const QString &filePath, const QString &line)
{
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        throw FileError(
            QStringLiteral("Cannot create file \"%1\". %2").arg(filePath, file.errorString()));
    const QByteArray bytes = line.toUtf8() + "\r\n";
    if (file.write(bytes) != bytes.size())
        throw FileError(
            QStringLiteral("Cannot write file \"%1\". %2").arg(filePath, file.errorString()));
}

void ListSubfolders(const QString &folder, QStringList &list)
{
    list.clear();
    // QDir("") would be the current folder; an unset folder has no subfolders.
    if (folder.isEmpty())
        return;
    list = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

static fs::path toFsPath(const QString &path)
{
    return fs::path(QFile::encodeName(path).toStdString());
}

bool DeleteFolderTree(const QString &folder)
{
    if (folder.isEmpty())
        return false;
    const fs::path path = toFsPath(folder);
    std::error_code ec;
    if (!fs::is_directory(path, ec))
        return false;
    // remove_all() removes a symbolic link itself, never what it points to.
    fs::remove_all(path, ec);
    return !ec;
}

// True when inner is outer itself or lies below it (both canonical).
static bool isSameOrInside(const fs::path &inner, const fs::path &outer)
{
    auto i = inner.begin();
    for (auto o = outer.begin(); o != outer.end(); ++o, ++i) {
        if (o->empty()) // trailing separator
            continue;
        if (i == inner.end() || *i != *o)
            return false;
    }
    return true;
}

bool CopyFolderInto(const QString &folder, const QString &destinationFolder)
{
    if (folder.isEmpty() || destinationFolder.isEmpty())
        return false;
    // Normalise "dir/", "dir/." and the like so the copy keeps the real name.
    const QString cleaned = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const QString name = QFileInfo(cleaned).fileName();
    if (name.isEmpty())
        return false;

    std::error_code ec;
    const fs::path source = fs::canonical(toFsPath(cleaned), ec);
    if (ec || !fs::is_directory(source, ec))
        return false;
    const fs::path target = fs::weakly_canonical(toFsPath(destinationFolder) / toFsPath(name), ec);
    if (ec)
        return false;
    // Copying a folder onto or into itself would never end.
    if (isSameOrInside(target, source))
        return false;

    fs::create_directories(toFsPath(destinationFolder), ec);
    if (ec)
        return false;
    // Links are copied as links so a link pointing upwards cannot loop the copy.
    fs::copy(source, target,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing |
                 fs::copy_options::copy_symlinks,
             ec);
    return !ec;
}
