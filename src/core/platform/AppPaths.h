#pragma once

#include <QString>
#include <QStringList>

// Where the program keeps its files on a Linux desktop (XDG base directories).
// A variable that is unset, empty or not an absolute path falls back to the
// documented default, as the XDG rules require.
class AppPaths {
public:
    // $XDG_CONFIG_HOME/quellmark/ (the settings store lives here)
    static QString configFolder();
    // $XDG_DATA_HOME/quellmark/ — the program folder: logs, templates, sounds,
    // backups. Always ends in "/".
    static QString programFolder();
    // $XDG_RUNTIME_DIR/, falling back to the config folder.
    static QString runtimeFolder();
    // $XDG_CONFIG_HOME/autostart/
    static QString autostartFolder();
    // Folders searched for system-wide autostart entries ($XDG_CONFIG_DIRS).
    static QStringList systemAutostartFolders();

private:
    static QString xdgHome(const char *variable, const QString &fallbackBelowHome);
};
