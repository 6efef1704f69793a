#pragma once

#include <QString>

// Hands a document or web address to the desktop, which opens it with its
// default application. True when the desktop took it; a local file that
// does not exist is refused at once. Never throws, shows nothing itself.
bool OpenWithShell(const QString &target);
