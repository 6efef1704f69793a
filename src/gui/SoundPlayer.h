#pragma once

#include "alerts/AlertSound.h"

#include <QObject>

class QSoundEffect;

// Beeps through the desktop and plays WAV files asynchronously with one
// sound effect, so a new sound cuts off the one still playing.
class SoundPlayer : public QObject, public SoundOutput {
    Q_OBJECT
public:
    explicit SoundPlayer(QObject *parent = nullptr);
    void beep() override;
    void playFile(const QString &path) override;
    QString lastFile() const { return m_lastFile; }

signals:
    // The file could not be loaded or played (not a WAV file, no audio).
    void playFailed(const QString &path);

private:
    QSoundEffect *m_effect = nullptr;
    QString m_lastFile;
};
