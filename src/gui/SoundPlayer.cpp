#include "SoundPlayer.h"

#include <QApplication>
#include <QSoundEffect>
#include <QUrl>

SoundPlayer::SoundPlayer(QObject *parent) : QObject(parent) {}

void SoundPlayer::beep()
{
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
