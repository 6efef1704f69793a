#pragma once

#include <QByteArray>
#include <QList>

#include <cstdio>
#include <cstdlib>

// Shared by the fuzz targets: a broken property is reported like a crash,
// so libFuzzer keeps the input that shows it.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "fuzz property broken at %s:%d: %s\n", __FILE__, __LINE__,        \
                         #condition);                                                              \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// The input's first byte tells how the bytes after it arrive: 0 all at once,
// otherwise in pieces of 1 to n*n bytes (n = the byte's low 4 bits), times
// scale, whose sizes follow from the byte, so every input always arrives the
// same way. The sizes of the pieces of `total` bytes:
inline QList<qsizetype> pieceSizes(qsizetype total, unsigned char how, int scale = 1)
{
    const unsigned spread = how & 0x0f;
    if (spread == 0 || total == 0)
        return {total};
    QList<qsizetype> sizes;
    unsigned state = how * 2654435761u + 1;
    for (qsizetype at = 0; at < total;) {
        state = state * 1103515245u + 12345u;
        const qsizetype size =
            qMin(total - at, 1 + qsizetype((state >> 16) % (spread * spread * unsigned(scale))));
        sizes.append(size);
        at += size;
    }
    return sizes;
}

// The pieces themselves.
inline QList<QByteArray> piecesOf(const QByteArray &bytes, unsigned char how, int scale = 1)
{
    QList<QByteArray> pieces;
    qsizetype at = 0;
    for (const qsizetype size : pieceSizes(bytes.size(), how, scale)) {
        pieces.append(bytes.mid(at, size));
        at += size;
    }
    return pieces;
}

// The input without its first byte, cut at the first LF: the text before it
// and the bytes after it (the whole rest when there is no LF).
inline void splitFirstLine(const uint8_t *data, size_t size, QByteArray &first, QByteArray &rest)
{
    const QByteArray all =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype lf = all.indexOf('\n', 1);
    if (lf < 0) {
        first.clear();
        rest = all.mid(1);
    } else {
        first = all.mid(1, lf - 1);
        rest = all.mid(lf + 1);
    }
}
