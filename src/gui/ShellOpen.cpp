#include "ShellOpen.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

bool OpenWithShell(const QString &target)
{
    if (target.trimmed().isEmpty())
        return false;
    QUrl url(target);
    if (url.scheme().isEmpty() || url.isLocalFile()) {
        const QString path = url.isLocalFile() ? url.toLocalFile() : target;
        if (!QFileInfo::exists(path))
            return false;
        url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    }
    if (!url.isValid())
        return false;
    return QDesktopServices::openUrl(url);
}
