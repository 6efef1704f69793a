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

void PlayAlertSound(const QString &servicesKey, const QString &serviceName, bool onError,
                    const QString &programFolder, SoundOutput &output)
{
    const QString key = servicesKey + QLatin1Char('\\') + serviceName;
    if (RegReadBool(key, QStringLiteral("BeepAlert"), false))
        output.beep();
    if (!RegReadBool(key, QStringLiteral("SoundAlert"), true))
        return;
    const QString path = onError ? RegReadString(key, QStringLiteral("OnErrorSoundName"),
                                                 defaultOnErrorSound(programFolder))
                                 : RegReadString(key, QStringLiteral("OffErrorSoundName"),
                                                 defaultOffErrorSound(programFolder));
    if (QFileInfo(path).isFile())
        output.playFile(path);
}
