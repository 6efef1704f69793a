#include "TBase64.h"

namespace {
const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

int TBase64::Encode(const QByteArray &in, QByteArray &out)
{
    out.clear();
    out.reserve((in.size() + 2) / 3 * 4);
    const auto *bytes = reinterpret_cast<const unsigned char *>(in.constData());
    const qsizetype size = in.size();
    qsizetype i = 0;
    for (; i + 3 <= size; i += 3) {
        const unsigned group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out += Alphabet[(group >> 18) & 0x3f];
        out += Alphabet[(group >> 12) & 0x3f];
        out += Alphabet[(group >> 6) & 0x3f];
        out += Alphabet[group & 0x3f];
    }
    if (size - i == 2) {
        const unsigned group = (bytes[i] << 16) | (bytes[i + 1] << 8);
        out += Alphabet[(group >> 18) & 0x3f];
        out += Alphabet[(group >> 12) & 0x3f];
        out += Alphabet[(group >> 6) & 0x3f];
        out += '=';
    } else if (size - i == 1) {
        const unsigned group = bytes[i] << 16;
        out += Alphabet[(group >> 18) & 0x3f];
        out += Alphabet[(group >> 12) & 0x3f];
        out += "==";
    }
    return 0;
}

QByteArray TBase64::encoded(const QByteArray &in)
{
    QByteArray out;
    TBase64().Encode(in, out);
    return out;
}
