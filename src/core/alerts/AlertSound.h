#pragma once

#include <QString>

// Where alert sounds go: the system beep and an asynchronous player in which
// a new sound stops the one still playing.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    virtual void beep() = 0;
    virtual void playFile(const QString &path) = 0;
};

// The text shown and logged when a sound file is missing.
QString SoundFileNotFoundText(const QString &path);

// The default sound files of the program folder.
QString defaultOnErrorSound(const QString &programFolder);
QString defaultOffErrorSound(const QString &programFolder);

// The sound alert of a service going on or off error: the beep when its
// BeepAlert is set, then, when SoundAlert is set, its sound file if that
// file exists. A missing file plays nothing; the text returned then says
// so ("File "<path>" not found."), and is empty otherwise.
QString PlayAlertSound(const QString &servicesKey, const QString &serviceName, bool onError,
                    const QString &programFolder, SoundOutput &output);
