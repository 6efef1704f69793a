#include "BellSound.h"

#include <QFileInfo>

QString themeBellSound(const QStringList &dataFolders)
{
    // By name first: a bell anywhere wins over a warning sound.
    for (const char *name : {"bell", "dialog-warning"}) {
        for (const QString &folder : dataFolders) {
            for (const char *extension : {"oga", "ogg", "wav"}) {
                const QString path = folder + QStringLiteral("/sounds/freedesktop/stereo/") +
                                     QLatin1String(name) + QLatin1Char('.') + QLatin1String(extension);
                if (QFileInfo(path).isFile())
                    return path;
            }
        }
    }
    return {};
}
