#include "engine/ServiceLog.h"
#include "platform/UniqueFile.h"

#include "base/Subs.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QByteArray LineEnd("\r\n");

// Lower case, single blanks, trimmed.
QStringList words(const QString &serviceName)
{
    const QString normal = NormalizeBlanks(serviceName).trimmed().toLower();
    if (normal.isEmpty())
        return {};
    return normal.split(QLatin1Char(' '));
}

QString replaceUnsafe(QString text)
{
    for (const char c : {'/', '\\', ':', '?', '&', '%'})
        text.replace(QLatin1Char(c), QLatin1Char('_'));
    return text;
}

// One write to an O_APPEND descriptor, so entries of two writers never
// interleave, on a line of its own after an entry a crash cut short.
void appendBytes(const QString &filePath, const QByteArray &bytes)
{
    AppendRecord(filePath, bytes);
}

// The log created where it is to be; a crash may leave it empty.
bool createInPlace(const QString &path, const QString &stamp)
{
    QFile file(path);
    // NewOnly: a log that appeared since the check is kept, never truncated.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        return QFileInfo::exists(path);
    const QByteArray bytes = (stamp + QStringLiteral(":  Log start")).toUtf8() + LineEnd;
    if (file.write(bytes) != bytes.size()) {
        // A half-written first line would make the whole log unreadable;
        // without the file the next poll tries again.
        file.close();
        file.remove();
        return false;
    }
    return true;
}

QByteArray serviceFailedEntry(const QString &stamp, const QString &hostAndPath,
                              const QString &protocol, const std::optional<QByteArray> &response)
{
    QByteArray entry = (stamp + QLatin1Char(' ') + hostAndPath + QLatin1Char('(') + protocol +
                        QStringLiteral(") response:"))
                           .toUtf8() +
                       LineEnd;
    if (!response) {
        entry += "Could not open connection to socket" + LineEnd;
    } else if (response->size() > ServiceLog::MaxResponseBytes) {
        entry += response->left(ServiceLog::MaxResponseBytes);
        if (!entry.endsWith(LineEnd))
            entry += LineEnd;
        entry += "[response cut: " + QByteArray::number(ServiceLog::MaxResponseBytes) + " of " +
                 QByteArray::number(response->size()) + " bytes written]" + LineEnd;
    } else {
        entry += *response;
        // Without its own line end the next entry would glue onto the answer.
        if (!entry.endsWith(LineEnd))
            entry += LineEnd;
    }
    return entry + LineEnd;
}

} // namespace

QString ServiceLog::protocolOf(const QString &serviceName)
{
    const QStringList w = words(serviceName);
    if (w.isEmpty())
        return QString();
    return w.size() == 1 ? QStringLiteral("http") : w.at(0);
}

QString ServiceLog::logName(const QString &serviceName)
{
    const QStringList w = words(serviceName);
    if (w.isEmpty())
        return QString();
    QString target = w.size() == 1 ? w.at(0) : w.at(1);
    if (target.endsWith(QLatin1Char('/')))
        target.chop(1);
    return replaceUnsafe(target);
}

QString ServiceLog::logPath(const QString &programFolder, const QString &serviceName)
{
    const QString protocol = protocolOf(serviceName);
    if (protocol.isEmpty())
        return QString();
    return programFolder + logName(serviceName) + QLatin1Char('(') + replaceUnsafe(protocol) +
           QStringLiteral(").log");
}

bool ServiceLog::ensureLogStarted(const QString &path, const QString &stamp)
{
    return ensureLogStarted(path, [&stamp] { return stamp; });
}

bool ServiceLog::ensureLogStarted(const QString &path, const std::function<QString()> &makeStamp)
{
    if (path.isEmpty())
        return false;
    if (QFileInfo::exists(path))
        return true;
    const QString stamp = makeStamp();
    // The first line is written to a file of its own that is then linked in
    // under the log's name: a half-written first line, or an empty log after
    // a crash, would lose the log's start for good. A log that appeared
    // meanwhile is kept, never replaced.
    const QByteArray target = QFile::encodeName(path);
    QByteArray aside;
    const int fd =
        CreateUniqueFile(QFile::encodeName(QFileInfo(path).absolutePath()), "log", 0666, aside);
    if (fd < 0)
        return createInPlace(path, stamp);
    const QByteArray bytes = (stamp + QStringLiteral(":  Log start")).toUtf8() + LineEnd;
    const bool written = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    const bool linked =
        written && (::link(aside.constData(), target.constData()) == 0 || errno == EEXIST);
    const int linkError = errno;
    ::unlink(aside.constData());
    // Closed (and its lock let go) only once the temporary name is gone.
    ::close(fd);
    if (linked)
        return true;
    // A folder without hard links gets the log the plain way.
    if (written && linkError != ENOSPC && linkError != EDQUOT)
        return createInPlace(path, stamp);
    return QFileInfo::exists(path);
}

void ServiceLog::appendWentOnError(const QString &path, const QString &stamp)
{
    AppendLine(path, stamp + QStringLiteral(": went on error."));
}

void ServiceLog::appendCameOffError(const QString &path, const QString &stamp)
{
    AppendLine(path, stamp + QStringLiteral(": came off error."));
}

void ServiceLog::appendConnectionLost(const QString &errorLog, const QString &stamp)
{
    AppendLine(errorLog, stamp + QStringLiteral(": no internet connection\r\n"));
}

void ServiceLog::appendConnectionBack(const QString &errorLog, const QString &stamp)
{
    AppendLine(errorLog, stamp + QStringLiteral(": internet connection restored\r\n"));
}

void ServiceLog::appendServiceFailed(const QString &errorLog, const QString &stamp,
                                     const QString &hostAndPath, const QString &protocol,
                                     const std::optional<QByteArray> &response)
{
    appendBytes(errorLog, serviceFailedEntry(stamp, hostAndPath, protocol, response));
}
