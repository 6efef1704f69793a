#include "InstanceLock.h"

#include "AppPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

InstanceLock::InstanceLock(const QString &filePath) : m_path(filePath) {}

InstanceLock::~InstanceLock()
{
    release();
}

QString InstanceLock::pathForMode(bool testMode)
{
    return AppPaths::runtimeFolder() +
           (testMode ? QStringLiteral("QuellmarkTEST_MUTEX.lock") : QStringLiteral("Quellmark_MUTEX.lock"));
}

bool InstanceLock::tryLock()
{
    if (m_fd >= 0)
        return true;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    const QByteArray name = QFile::encodeName(m_path);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void InstanceLock::release()
{
    if (m_fd < 0)
        return;
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}
