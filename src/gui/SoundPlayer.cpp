#include "SoundPlayer.h"

#include "platform/BellSound.h"

#include <QApplication>
#include <QAudioDevice>
#include <QAudioOutput>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QSoundEffect>
#include <QStandardPaths>
#include <QUrl>

SoundPlayer::SoundPlayer(QObject *parent) : QObject(parent) {}

void SoundPlayer::beep()
{
    // Without an audio output nothing can be heard but the system's beep.
    if (QMediaDevices::audioOutputs().isEmpty()) {
        systemBeep();
        return;
    }
    m_themeSound = themeBellSound(QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation));
    if (m_themeSound.isEmpty()) {
        playOwnBell();
        return;
    }
    // Theme sounds are Ogg files, which the media player decodes.
    if (!m_themePlayer) {
        m_themePlayer = new QMediaPlayer(this);
        m_themeOutput = new QAudioOutput(this);
        m_themePlayer->setAudioOutput(m_themeOutput);
        connect(m_themePlayer, &QMediaPlayer::errorOccurred, this, [this] {
            if (m_lastBell == Bell::Theme)
                playOwnBell();
        });
    }
    m_lastBell = Bell::Theme;
    m_themePlayer->stop();
    m_themePlayer->setSource(QUrl::fromLocalFile(m_themeSound));
    m_themePlayer->play();
}

void SoundPlayer::playOwnBell()
{
    if (!m_ownBell) {
        m_ownBell = new QSoundEffect(this);
        connect(m_ownBell, &QSoundEffect::statusChanged, this, [this] {
            if (m_ownBell->status() == QSoundEffect::Error && m_lastBell == Bell::Own)
                systemBeep();
        });
        m_ownBell->setSource(QUrl(QStringLiteral("qrc:/sounds/bell.wav")));
    }
    m_lastBell = Bell::Own;
    m_ownBell->stop();
    m_ownBell->play();
}

void SoundPlayer::systemBeep()
{
    m_lastBell = Bell::System;
    QApplication::beep();
}

void SoundPlayer::playFile(const QString &path)
{
    m_lastFile = path;
    // Created on first use: a desktop without audio costs nothing until a
    // sound is really wanted.
    if (!m_effect) {
        m_effect = new QSoundEffect(this);
        connect(m_effect, &QSoundEffect::statusChanged, this, [this] {
            if (m_effect->status() == QSoundEffect::Error)
                emit playFailed(m_lastFile);
        });
    }
    m_effect->stop();
    m_effect->setSource(QUrl::fromLocalFile(path));
    m_effect->play();
}
