#include "MetricsFile.h"

#include <QDir>
#include <QSaveFile>

QString MetricsFile::resolveFolder(const QString &setting, const QString &programFolder)
{
    const QString folder = setting.trimmed();
    if (folder.isEmpty())
        return {};
    if (folder == QLatin1String("~") || folder.startsWith(QLatin1String("~/")))
        return QDir::cleanPath(QDir::homePath() + folder.mid(1));
    if (QDir::isRelativePath(folder))
        return QDir::cleanPath(programFolder + QLatin1Char('/') + folder);
    return QDir::cleanPath(folder);
}

QString MetricsFile::write(const QString &folder, const QByteArray &text)
{
    const QString path = QDir(folder).filePath(fileName());
    if (!QDir().mkpath(folder))
        return QStringLiteral("The metrics folder %1 cannot be made").arg(folder);
    QSaveFile file(path);
    // Never written in place: a folder we may not create files in fails
    // instead of leaving half a file behind.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("The metrics file %1 cannot be written: %2")
            .arg(path, file.errorString());
    if (file.write(text) != text.size() || !file.commit())
        return QStringLiteral("The metrics file %1 cannot be written: %2")
            .arg(path, file.errorString());
    return {};
}
