#include "DefaultSounds.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <cmath>
#include <numbers>

namespace {
constexpr int SampleRate = 22050;

void putLe32(QByteArray &out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

void putLe16(QByteArray &out, quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}
} // namespace

QByteArray makeToneWav(const QList<int> &frequencies, int toneMs)
{
    const int perTone = SampleRate * toneMs / 1000;
    const int fade = SampleRate / 200; // 5 ms
    QByteArray pcm;
    pcm.reserve(perTone * frequencies.size() * 2);
    for (const int frequency : frequencies) {
        for (int i = 0; i < perTone; ++i) {
            double gain = 0.45;
            if (i < fade)
                gain *= double(i) / fade;
            else if (i > perTone - fade)
                gain *= double(perTone - i) / fade;
            const double sample =
                gain * std::sin(2.0 * std::numbers::pi * frequency * double(i) / SampleRate);
            putLe16(pcm, static_cast<quint16>(static_cast<qint16>(sample * 32767.0)));
        }
    }

    QByteArray wav;
    wav += "RIFF";
    putLe32(wav, 36 + pcm.size());
    wav += "WAVEfmt ";
    putLe32(wav, 16);
    putLe16(wav, 1); // PCM
    putLe16(wav, 1); // mono
    putLe32(wav, SampleRate);
    putLe32(wav, SampleRate * 2);
    putLe16(wav, 2);
    putLe16(wav, 16);
    wav += "data";
    putLe32(wav, pcm.size());
    wav += pcm;
    return wav;
}

void writeDefaultSounds(const QString &folder)
{
    const struct {
        const char *name;
        QList<int> tones;
    } sounds[] = {
        {"OnError.wav", {988, 784, 659}},
        {"OffError.wav", {659, 784, 988}},
    };
    for (const auto &sound : sounds) {
        const QString path = folder + QLatin1String(sound.name);
        if (QFileInfo::exists(path))
            continue;
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(makeToneWav(sound.tones, 180));
            file.commit();
        }
    }
}
