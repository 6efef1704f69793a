#include "Autostart.h"

#include "AppPaths.h"
#include "DesktopId.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

QString autostartEntryPath(const QString &valueName)
{
    return AppPaths::autostartFolder() + valueName + QStringLiteral(".desktop");
}

QString desktopStringValue(const QString &text)
{
    QString escaped;
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            escaped += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            escaped += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            escaped += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            escaped += QStringLiteral("\\r");
        else
            escaped += c;
    }
    // A leading blank would be dropped by the reader.
    if (escaped.startsWith(QLatin1Char(' ')))
        escaped.replace(0, 1, QStringLiteral("\\s"));
    return escaped;
}

QString desktopExecValue(const QString &executablePath)
{
    // Inside a quoted argument ", `, $ and \ are escaped with a backslash; the
    // whole value is then a desktop-file string (backslash written twice,
    // line breaks escaped). A literal % is written %% so it is not taken for
    // a field code.
    QString quoted;
    for (const QChar c : executablePath) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return desktopStringValue(QLatin1Char('"') + quoted + QLatin1Char('"'))
        .replace(QLatin1Char('%'), QStringLiteral("%%"));
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
        // The entry is skipped once the program it starts is gone.
        text += "TryExec=" + desktopStringValue(executablePath).toUtf8() + "\n";
        text += "Icon=" + desktopId().toUtf8() + "\n";
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
