#include "platform/UniqueFile.h"

#include <QRandomGenerator>

#include <cerrno>

#include <fcntl.h>

int CreateUniqueFile(const QByteArray &prefix, mode_t mode, QByteArray &path)
{
    constexpr int Attempts = 32;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        const QByteArray candidate =
            prefix + QByteArray::number(QRandomGenerator::system()->generate64(), 36);
        const int fd = ::open(candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            path = candidate;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}
