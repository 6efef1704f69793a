#include "AppPaths.h"

#include <QDir>
#include <QStringList>

QString AppPaths::xdgHome(const char *variable, const QString &fallbackBelowHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(QDir::homePath() + QLatin1Char('/') + fallbackBelowHome);
}

QString AppPaths::configFolder()
{
    return xdgHome("XDG_CONFIG_HOME", QStringLiteral(".config")) + QStringLiteral("/quellmark/");
}

QString AppPaths::programFolder()
{
    return xdgHome("XDG_DATA_HOME", QStringLiteral(".local/share")) + QStringLiteral("/quellmark/");
}

QString AppPaths::runtimeFolder()
{
    const QString value = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!value.isEmpty() && QDir::isAbsolutePath(value) && QDir(value).exists())
        return QDir::cleanPath(value) + QLatin1Char('/');
    return configFolder();
}

QString AppPaths::autostartFolder()
{
    return xdgHome("XDG_CONFIG_HOME", QStringLiteral(".config")) + QStringLiteral("/autostart/");
}

QStringList AppPaths::systemAutostartFolders()
{
    QString dirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/etc/xdg");
    QStringList result;
    for (const QString &dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(dir))
            result << QDir::cleanPath(dir) + QStringLiteral("/autostart/");
    }
    return result;
}
