// An HTTP answer as the prober reads it and judges it against a pattern.
//
// Input: one byte telling how the answer arrives (see piecesOf), the pattern
// up to the first LF, then the answer's bytes.

#include "FuzzSupport.h"

#include "engine/AnswerReader.h"
#include "engine/ProbeRules.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    QByteArray patternBytes, answerBytes;
    splitFirstLine(data, size, patternBytes, answerBytes);
    const QString pattern = QString::fromUtf8(patternBytes);
    // GET with a pattern, HEAD without, as the prober asks.
    const bool head = pattern.isEmpty();

    AnswerReader whole(AnswerReader::Mode::Http, head);
    whole.feed(answerBytes);
    AnswerReader pieces(AnswerReader::Mode::Http, head);
    for (const QByteArray &piece : piecesOf(answerBytes, data[0])) {
        if (pieces.done())
            break;
        pieces.feed(piece);
    }
    // Framing must not depend on how the bytes were cut up on the way.
    FUZZ_CHECK(pieces.done() == whole.done());
    FUZZ_CHECK(whole.answer().startsWith(pieces.answer()));
    FUZZ_CHECK(pieces.receivedBytes() <= answerBytes.size());
    if (!pieces.done())
        pieces.peerClosed();
    FUZZ_CHECK(pieces.done());

    const QByteArray answer = pieces.answer();
    FUZZ_CHECK(!answer.contains('\0'));
    FUZZ_CHECK(answer.size() <= pieces.receivedBytes());

    const Judgement judgement = judgeHttp(answer, pattern);
    if (judgement.success) {
        FUZZ_CHECK(answer.startsWith("HTTP/"));
        FUZZ_CHECK(judgement.resultCode.size() <= 3);
        const QChar klass = judgement.resultCode.isEmpty() ? QChar() : judgement.resultCode.at(0);
        FUZZ_CHECK(klass >= QLatin1Char('1') && klass <= QLatin1Char('4'));
    }
    if (judgement.resultCode == QLatin1String("pattern fail"))
        FUZZ_CHECK(!pattern.isEmpty() && !judgement.success);

    // What the prober logs for a failure must stay bounded.
    FUZZ_CHECK(judgement.resultCode.size() <= 12);
    return 0;
}
