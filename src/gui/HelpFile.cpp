#include "HelpFile.h"

#include <QDesktopServices>
#include <QFile>
#include <QSaveFile>
#include <QUrl>

bool HelpFile::install(const QString &path)
{
    QFile source(QStringLiteral(":/help/manual.html"));
    if (!source.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = source.readAll();
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == text)
        return true;
    QSaveFile target(path);
    if (!target.open(QIODevice::WriteOnly))
        return false;
    target.write(text);
    return target.commit();
}

bool HelpFile::open(const QString &path, int topic)
{
    if (!install(path))
        return false;
    QUrl url = QUrl::fromLocalFile(path);
    url.setFragment(QStringLiteral("topic%1").arg(topic));
    return QDesktopServices::openUrl(url);
}
