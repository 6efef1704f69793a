// The SMTP client's reply reader over a stream of server bytes: reply after
// reply, the bytes arriving in pieces as they would from the socket.
//
// Input: one byte telling how the bytes arrive (see piecesOf; with its two
// high bits set the stream is repeated to beyond the reply size bound and
// arrives in larger pieces), then the server's bytes.

#include "FuzzSupport.h"

#include "alerts/SmtpReplyBuffer.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    QByteArray stream(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1);
    const bool flood = (data[0] & 0xc0) == 0xc0 && !stream.isEmpty();
    if (flood) {
        const QByteArray once = stream;
        while (stream.size() <= SmtpReplyBuffer::Limit)
            stream += once;
    }
    const QList<qsizetype> pieces = pieceSizes(stream.size(), data[0], flood ? 256 : 1);

    qsizetype arrived = 0; // bytes the socket has received
    qsizetype consumed = 0;
    qsizetype nextPiece = 0;
    bool closed = false;
    // A dialogue has a reply per command: a few dozen at most.
    for (int replies = 0; replies < 64 && !closed; ++replies) {
        SmtpReplyBuffer reply;
        const qsizetype start = consumed;
        for (;;) {
            // One look at what the socket holds, then line after line.
            const QByteArrayView ahead = QByteArrayView(stream).sliced(
                consumed, qMin(arrived - consumed, SmtpReplyBuffer::Limit - reply.size()));
            qsizetype taken = 0;
            while (taken < ahead.size() && !reply.complete() && !reply.full()) {
                const qsizetype more = reply.take(ahead.sliced(taken));
                FUZZ_CHECK(more > 0 && more <= ahead.size() - taken);
                taken += more;
            }
            consumed += taken;
            if (reply.complete() || reply.full())
                break;
            if (nextPiece == pieces.size()) {
                closed = true; // the server closed; what came is the reply
                break;
            }
            arrived += pieces.at(nextPiece++);
        }
        // Not a byte lost or taken twice, and nothing beyond the bound.
        FUZZ_CHECK(QByteArrayView(reply.bytes()) ==
                   QByteArrayView(stream).sliced(start, consumed - start));
        FUZZ_CHECK(reply.bytes().size() <= SmtpReplyBuffer::Limit);
        if (reply.complete() || reply.full()) {
            SmtpReplyBuffer after = reply;
            FUZZ_CHECK(after.take(QByteArrayLiteral("250 x\r\n")) == 0);
        }

        const QByteArray last = reply.lastLineBytes();
        FUZZ_CHECK(!last.contains('\r') && !last.contains('\n'));
        if (reply.complete()) {
            FUZZ_CHECK(reply.bytes().endsWith("\r\n"));
            FUZZ_CHECK(last.size() >= 4 && last.at(3) == ' ' && last.left(3).indexOf(' ') < 0);
        }
        (void)reply.lastLine();
        if (consumed == stream.size() && nextPiece == pieces.size())
            break;
    }
    FUZZ_CHECK(consumed <= stream.size());
    return 0;
}
