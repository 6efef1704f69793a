#pragma once

#include <QByteArray>

#include <sys/types.h>

// Creates a new file whose name is prefix followed by random characters,
// opened for writing (O_EXCL, close-on-exec) with the given permissions less
// the umask. Returns the descriptor and sets path, or returns -1 with errno
// set. The names come from the system's random source, so processes forked
// from one parent, or started again after a crash left files behind, do not
// walk the same sequence of names.
int CreateUniqueFile(const QByteArray &prefix, mode_t mode, QByteArray &path);
