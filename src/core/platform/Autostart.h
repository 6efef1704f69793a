#pragma once

#include <QString>

#include <stdexcept>

// The log-on entry could not be written. message() is the text shown to the user.
class AutostartError : public std::runtime_error {
public:
    explicit AutostartError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};

// Log-on start through an XDG autostart entry named after the program's title
// ("<name>.desktop" in $XDG_CONFIG_HOME/autostart). Enabling writes the
// per-user entry with the executable's full path; disabling removes it and
// also any system-wide entry of the same name where we are allowed to.
// A per-user entry that cannot be written throws AutostartError
// "Failed to set data for '<name>'"; anything else that cannot be reached is
// skipped silently.
void StartWithWindows(const QString &valueName, const QString &executablePath, bool enable);

// The file name of the per-user entry for a value name.
QString autostartEntryPath(const QString &valueName);

// The Exec= value for one program path without arguments, quoted and escaped
// as the Desktop Entry rules require.
QString desktopExecValue(const QString &executablePath);
// A text as a desktop-file string value (TryExec=): backslash and control
// characters escaped, a leading blank kept.
QString desktopStringValue(const QString &text);
