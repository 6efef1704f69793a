#pragma once

#include <QString>

// Files that hold secrets (the settings store keeps the SMTP password in
// clear text) are for their owner's eyes only, whatever the umask.

// Creates folder with any missing parents, each new one 0700, and takes the
// group and other bits off the folder itself when it already existed. False
// when the folder cannot be made.
bool CreatePrivateFolder(const QString &folder);

// Takes the group and other bits off an existing file or folder (a link is
// never followed). A missing path, or one we cannot change, is left as it is.
void MakePrivate(const QString &path);

// MakePrivate on folder and everything below it.
void MakePrivateTree(const QString &folder);
