#pragma once

#include <QString>

// The user manual ships inside the program and is written next to the logs,
// so it can be opened in the desktop's browser.
class HelpFile {
public:
    // Writes the manual to `path` (replacing an older copy).
    static bool install(const QString &path);
    // Installs the manual when needed and opens it at a topic.
    static bool open(const QString &path, int topic);
};
