#pragma once

#include <QByteArray>

// Base64 as AUTH LOGIN expects it: the standard alphabet with "=" padding and
// no line breaks, however long the input. Bytes are encoded as they are, with
// no character set conversion.
class TBase64 {
public:
    // Puts the encoding of `in` into `out` and returns 0 (done).
    int Encode(const QByteArray &in, QByteArray &out);

    static QByteArray encoded(const QByteArray &in);
};
