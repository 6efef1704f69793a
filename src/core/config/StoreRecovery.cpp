#include "config/StoreRecovery.h"

#include "config/RegistryStore.h"
#include "platform/UniqueFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static constexpr const char *SideFiles[] = {"-wal", "-shm"};

[[noreturn]] static void fail(const QString &text)
{
    throw RegistryError(text);
}

static QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

StoreRecovery::StoreRecovery(const QString &storePath)
    : m_storePath(storePath), m_lastGood(storePath)
{
}

// Every open connection to a WAL store holds a shared lock on its -shm file
// (and SQLite locks the store itself while it reads or writes): any lock
// another process holds there means the files must not move under it.
void StoreRecovery::refuseWhileInUse() const
{
    for (const char *suffix : {"", "-shm"}) {
        const QByteArray path = QFile::encodeName(m_storePath) + suffix;
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct flock probe {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        const bool held = ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
        ::close(fd);
        if (held)
            fail(QStringLiteral("The settings store '%1' is in use by another program (process "
                                "%2); end it and try again. Nothing was changed.")
                     .arg(m_storePath)
                     .arg(probe.l_pid));
    }
}

QString StoreRecovery::freeAsideName(const QDateTime &now) const
{
    const QString base =
        m_storePath + QStringLiteral(".damaged-") + now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = base;
    for (int n = 2; QFileInfo::exists(name) || QFileInfo::exists(name + QStringLiteral("-wal"));
         ++n)
        name = base + QLatin1Char('-') + QString::number(n);
    return name;
}

// The store's -wal and -shm belong to the damaged file: beside a restored
// or new store they would be replayed into it.
void StoreRecovery::moveSideFiles(const QString &aside) const
{
    for (const char *suffix : SideFiles) {
        const QByteArray from = QFile::encodeName(m_storePath) + suffix;
        const QByteArray to = QFile::encodeName(aside) + suffix;
        if (::rename(from.constData(), to.constData()) != 0 && errno != ENOENT)
            fail(QStringLiteral("Cannot move '%1' aside: %2. Nothing was restored.")
                     .arg(QFile::decodeName(from), systemError()));
    }
}

QString StoreRecovery::restoreLastGood(const QDateTime &now) const
{
    QString reason;
    if (!m_lastGood.exists())
        fail(QStringLiteral("There is no last good copy of the settings store '%1'.")
                 .arg(m_storePath));
    if (!RegistryStore::isSoundStore(m_lastGood.path(), &reason))
        fail(QStringLiteral("The last good copy '%1' cannot be used (%2). Nothing was changed.")
                 .arg(m_lastGood.path(), reason));
    refuseWhileInUse();

    // The copy is made beside the store first, so the store's name only
    // ever gives the damaged file or the whole copy.
    QByteArray temporary;
    const int fd = CreateUniqueFile(QFile::encodeName(QFileInfo(m_storePath).absolutePath()),
                                    "restore", 0600, temporary);
    if (fd < 0)
        fail(QStringLiteral("Cannot restore the settings store '%1': %2.")
                 .arg(m_storePath, systemError()));
    struct Temporary {
        QByteArray path;
        int fd;
        ~Temporary()
        {
            ::unlink(path.constData());
            ::close(fd);
        }
    } cleanup{temporary, fd};
    ::fchmod(fd, 0600);
    {
        QFile source(m_lastGood.path());
        QFile target;
        bool copied = source.open(QIODevice::ReadOnly) &&
                      target.open(fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle);
        // In pieces: the copy is read from disk, however large it became.
        while (copied && !source.atEnd()) {
            const QByteArray piece = source.read(1 << 16);
            copied = !piece.isEmpty() && target.write(piece) == piece.size();
        }
        if (!copied || !target.flush() || ::fsync(fd) != 0)
            fail(QStringLiteral("Cannot restore the settings store '%1': %2.")
                     .arg(m_storePath, source.error() != QFileDevice::NoError
                                           ? source.errorString()
                                           : target.errorString()));
    }

    const QByteArray store = QFile::encodeName(m_storePath);
    QString aside;
    if (QFileInfo::exists(m_storePath)) {
        aside = freeAsideName(now);
        // A second name first: the damaged file is never without one.
        if (::link(store.constData(), QFile::encodeName(aside).constData()) != 0)
            fail(QStringLiteral("Cannot keep the damaged settings store '%1' aside: %2. Nothing "
                                "was changed.")
                     .arg(m_storePath, systemError()));
        moveSideFiles(aside);
    }
    if (::rename(temporary.constData(), store.constData()) != 0)
        fail(QStringLiteral("Cannot restore the settings store '%1': %2.")
                 .arg(m_storePath, systemError()));
    return aside;
}

QString StoreRecovery::startNew(const QDateTime &now) const
{
    refuseWhileInUse();
    const QString aside = freeAsideName(now);
    if (::rename(QFile::encodeName(m_storePath).constData(),
                 QFile::encodeName(aside).constData()) != 0 &&
        errno != ENOENT)
        fail(QStringLiteral("Cannot move the damaged settings store '%1' aside: %2. Nothing was "
                            "changed.")
                 .arg(m_storePath, systemError()));
    moveSideFiles(aside);
    // The next copy would be taken of the new settings: the old copy goes
    // aside with the damaged store, so a hasty choice loses nothing.
    if (m_lastGood.exists())
        ::rename(QFile::encodeName(m_lastGood.path()).constData(),
                 QFile::encodeName(aside + QStringLiteral(".last-good")).constData());
    return aside;
}
