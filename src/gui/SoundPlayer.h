#pragma once

#include "alerts/AlertSound.h"

#include <QObject>

class QAudioOutput;
class QMediaPlayer;
class QSoundEffect;

// Plays the alert sounds asynchronously: WAV files with one sound effect,
// so a new sound cuts off the one still playing, and the beep as a sound of
// its own beside them.
//
// The beep is the sound theme's bell where the desktop has one, else the
// short bell that comes with the program; only when neither can be played
// does it fall back to the windowing system's beep, which many desktops
// keep silent.
class SoundPlayer : public QObject, public SoundOutput {
    Q_OBJECT
public:
    enum class Bell { None, Theme, Own, System };

    explicit SoundPlayer(QObject *parent = nullptr);
    void beep() override;
    void playFile(const QString &path) override;
    QString lastFile() const { return m_lastFile; }
    // For checks: what the last beep went to, and the theme sound it used.
    Bell lastBell() const { return m_lastBell; }
    QString themeSound() const { return m_themeSound; }

signals:
    // The file could not be loaded or played (not a WAV file, no audio).
    void playFailed(const QString &path);

private:
    void playOwnBell();
    void systemBeep();

    QSoundEffect *m_effect = nullptr;
    QSoundEffect *m_ownBell = nullptr;
    QMediaPlayer *m_themePlayer = nullptr;
    QAudioOutput *m_themeOutput = nullptr;
    QString m_lastFile;
    QString m_themeSound;
    Bell m_lastBell = Bell::None;
};
