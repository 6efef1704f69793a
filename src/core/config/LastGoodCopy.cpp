#include "config/LastGoodCopy.h"

#include "config/RegistryStore.h"
#include "platform/UniqueFile.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

LastGoodCopy::LastGoodCopy(const QString &storePath) : m_storePath(storePath) {}

QString LastGoodCopy::path() const
{
    return RegistryStore::lastGoodPath(m_storePath);
}

bool LastGoodCopy::exists() const
{
    return QFileInfo(path()).isFile();
}

QDateTime LastGoodCopy::savedAt() const
{
    const QFileInfo info(path());
    return info.isFile() ? info.lastModified() : QDateTime();
}

namespace {

// Closes the connections and removes the temporary file (with any file
// SQLite made beside it) unless it was put in place; the lock goes last.
struct CopyInProgress {
    sqlite3 *source = nullptr;
    sqlite3 *target = nullptr;
    QByteArray path;
    int fd = -1;
    bool placed = false;

    ~CopyInProgress()
    {
        sqlite3_close_v2(target);
        sqlite3_close_v2(source);
        for (const char *suffix : {"", "-journal", "-wal", "-shm"}) {
            if (!placed || *suffix)
                ::unlink((path + suffix).constData());
        }
        if (fd >= 0)
            ::close(fd);
    }
};

[[noreturn]] void failCopy(const QString &storePath, const QString &reason)
{
    throw RegistryError(QStringLiteral("The last good copy of '%1' could not be saved: %2.")
                            .arg(storePath, reason));
}

} // namespace

void LastGoodCopy::save() const
{
    CopyInProgress copy;
    const QByteArray folder = QFile::encodeName(QFileInfo(m_storePath).absolutePath());
    copy.fd = CreateUniqueFile(folder, "copy", 0600, copy.path);
    if (copy.fd < 0)
        failCopy(m_storePath, QString::fromLocal8Bit(strerror(errno)));
    ::fchmod(copy.fd, 0600);

    const auto sqliteError = [&](sqlite3 *db) {
        failCopy(m_storePath, QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory"));
    };
    if (sqlite3_open_v2(QFile::encodeName(m_storePath).constData(), &copy.source,
                        SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        sqliteError(copy.source);
    sqlite3_busy_timeout(copy.source, 10000);
    if (sqlite3_open_v2(copy.path.constData(), &copy.target, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK)
        sqliteError(copy.target);

    // One step: the store is small, and a reader of a WAL store holds
    // nobody up while it copies.
    sqlite3_backup *backup = sqlite3_backup_init(copy.target, "main", copy.source, "main");
    if (!backup)
        sqliteError(copy.target);
    const int stepped = sqlite3_backup_step(backup, -1);
    if (sqlite3_backup_finish(backup) != SQLITE_OK || stepped != SQLITE_DONE)
        failCopy(m_storePath, QString::fromUtf8(sqlite3_errstr(stepped)));
    // A plain file without -wal and -shm beside it: it can be read, checked
    // and copied back without any other file.
    if (sqlite3_exec(copy.target, "PRAGMA journal_mode = DELETE", nullptr, nullptr, nullptr) !=
        SQLITE_OK)
        sqliteError(copy.target);
    sqlite3_close_v2(copy.target);
    copy.target = nullptr;
    sqlite3_close_v2(copy.source);
    copy.source = nullptr;

    QString reason;
    if (!RegistryStore::isSoundStore(QFile::decodeName(copy.path), &reason))
        failCopy(m_storePath, reason);
    if (::fsync(copy.fd) != 0 ||
        ::rename(copy.path.constData(), QFile::encodeName(path()).constData()) != 0)
        failCopy(m_storePath, QString::fromLocal8Bit(strerror(errno)));
    copy.placed = true;
}
