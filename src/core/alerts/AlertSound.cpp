#include "AlertSound.h"

#include "config/Registry.h"
#include "config/Settings.h"

#include <QFileInfo>

QString defaultOnErrorSound(const QString &programFolder)
{
    return Settings::OnErrorSoundName.defaultText(programFolder);
}

QString defaultOffErrorSound(const QString &programFolder)
{
    return Settings::OffErrorSoundName.defaultText(programFolder);
}

QString SoundFileNotFoundText(const QString &path)
{
    return QStringLiteral("File \"%1\" not found.").arg(path);
}

QString PlayAlertSound(const QString &servicesKey, const QString &serviceName, bool onError,
                    const QString &programFolder, SoundOutput &output)
{
    const QString key = Settings::serviceKey(servicesKey, serviceName);
    using namespace Settings;
    if (RegReadBool(key, BeepAlert.name(), BeepAlert.defaultBool()))
        output.beep();
    if (!RegReadBool(key, SoundAlert.name(), SoundAlert.defaultBool()))
        return QString();
    const Setting &sound = onError ? OnErrorSoundName : OffErrorSoundName;
    const QString path = RegReadString(key, sound.name(), sound.defaultText(programFolder));
    if (!QFileInfo(path).isFile())
        return SoundFileNotFoundText(path);
    output.playFile(path);
    return QString();
}
