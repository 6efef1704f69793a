#include "Autostart.h"

#include "AppPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

QString autostartEntryPath(const QString &valueName)
{
    return AppPaths::autostartFolder() + valueName + QStringLiteral(".desktop");
}

QString desktopExecValue(const QString &executablePath)
{
    // Inside a quoted argument ", `, $ and \ are escaped with a backslash; the
    // whole value is then a desktop-file string, where a backslash is written
    // twice. A literal % is written %% so it is not taken for a field code.
    QString quoted;
    for (const QChar c : executablePath) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted = QLatin1Char('"') + quoted + QLatin1Char('"');
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return quoted;
}

void StartWithWindows(const QString &valueName, const QString &executablePath, bool enable)
{
    const QString userEntry = autostartEntryPath(valueName);
    if (enable) {
        QDir().mkpath(AppPaths::autostartFolder());
        QSaveFile file(userEntry);
        QByteArray text;
        text += "[Desktop Entry]\n";
        text += "Type=Application\n";
        text += "Name=" + valueName.toUtf8() + "\n";
        text += "Comment=Site connectivity monitor\n";
        text += "Exec=" + desktopExecValue(executablePath).toUtf8() + "\n";
        text += "Terminal=false\n";
        text += "X-GNOME-Autostart-enabled=true\n";
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
            throw AutostartError(QStringLiteral("Failed to set data for '%1'").arg(valueName));
        return;
    }

    QFile::remove(userEntry);
    // Machine-wide entries are only ever cleaned, and only where we may.
    for (const QString &folder : AppPaths::systemAutostartFolders()) {
        const QString entry = folder + valueName + QStringLiteral(".desktop");
        if (QFileInfo::exists(entry) && QFileInfo(folder).isWritable())
            QFile::remove(entry);
    }
}
