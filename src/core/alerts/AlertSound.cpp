#include "AlertSound.h"

#include "config/Registry.h"

#include <QFileInfo>

QString defaultOnErrorSound(const QString &programFolder)
{
    return programFolder + QStringLiteral("OnError.wav");
}

QString defaultOffErrorSound(const QString &programFolder)
{
    return programFolder + QStringLiteral("OffError.wav");
}

QString SoundFileNotFoundText(const QString &path)
{
    return QStringLiteral("File \"%1\" not found.").arg(path);
}

QString PlayAlertSound(const QString &servicesKey, const QString &serviceName, bool onError,
                    const QString &programFolder, SoundOutput &output)
{
    const QString key = servicesKey + QLatin1Char('\\') + serviceName;
    if (RegReadBool(key, QStringLiteral("BeepAlert"), false))
        output.beep();
    if (!RegReadBool(key, QStringLiteral("SoundAlert"), true))
        return QString();
    const QString path = onError ? RegReadString(key, QStringLiteral("OnErrorSoundName"),
                                                 defaultOnErrorSound(programFolder))
                                 : RegReadString(key, QStringLiteral("OffErrorSoundName"),
                                                 defaultOffErrorSound(programFolder));
    if (!QFileInfo(path).isFile())
        return SoundFileNotFoundText(path);
    output.playFile(path);
    return QString();
}
