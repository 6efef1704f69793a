#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// Temporary files of atomic saves (a new store set up aside, a log's first
// line, a template written beside the old one) are named
// ".quellmark-<kind>-<random>.tmp", and SQLite adds "-journal", "-wal" or
// "-shm" to a store's. Nothing else is ever named so, so a sweep after a
// crash can tell our leftovers from the user's files.

// Creates a new file in folder named as above, opened for writing
// (close-on-exec) with the given permissions less the umask, and holds it
// under an exclusive flock(2) from before its name appears. Keep the
// descriptor open until the name is gone (renamed or unlinked): while it is
// open the file counts as in use. Returns the descriptor and sets path, or
// returns -1 with errno set. kind is a few lower-case letters. The names
// come from the system's random source, so processes forked from one parent,
// or started again after a crash left files behind, do not walk the same
// sequence of names.
int CreateUniqueFile(const QByteArray &folder, const char *kind, mode_t mode, QByteArray &path);

// True for a name CreateUniqueFile gives, with or without SQLite's suffix.
bool IsTemporaryFileName(const QByteArray &name);

// Removes from folder (not below it) the temporary files no process holds
// any more: left behind by a writer that crashed or was killed. A file
// another process still holds, anything not named as above, links, folders
// and files of other users are left alone. Returns how many went.
int RemoveAbandonedTemporaries(const QString &folder);
