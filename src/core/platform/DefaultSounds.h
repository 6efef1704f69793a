#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The default alert sounds are made by the program itself, so a fresh
// installation has "OnError.wav" and "OffError.wav" in its folder.

// A 16-bit mono PCM WAV file of the given tones (Hz), each `toneMs` long,
// with short fades so they do not click.
QByteArray makeToneWav(const QList<int> &frequencies, int toneMs);

// Writes OnError.wav (falling tones) and OffError.wav (rising tones) into the
// folder where they are missing; existing files, perhaps the user's own, stay.
void writeDefaultSounds(const QString &folder);
