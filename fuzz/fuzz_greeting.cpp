// A server's greeting as the prober reads it and judges it.
//
// Input: one byte telling how the greeting arrives (see piecesOf), the
// protocol up to the first LF ("ftp", "smtp", "pop3", anything else), then
// the greeting's bytes.

#include "FuzzSupport.h"

#include "engine/AnswerReader.h"
#include "engine/ProbeRules.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    QByteArray protocolBytes, greeting;
    splitFirstLine(data, size, protocolBytes, greeting);
    const QString protocol = QString::fromUtf8(protocolBytes);

    AnswerReader reader(AnswerReader::Mode::Greeting);
    qsizetype fed = 0;
    for (const QByteArray &piece : piecesOf(greeting, data[0])) {
        if (reader.done())
            break;
        reader.feed(piece);
        fed += piece.size();
        // It stops exactly when what came so far ends in CR LF.
        FUZZ_CHECK(reader.done() == greeting.left(fed).endsWith("\r\n"));
    }
    if (!reader.done())
        reader.peerClosed();

    const QByteArray answer = reader.answer();
    FUZZ_CHECK(!answer.contains('\0'));
    FUZZ_CHECK(answer.size() <= reader.receivedBytes());
    FUZZ_CHECK(reader.receivedBytes() <= AnswerReader::GreetingLimit);

    const Judgement judgement = judgeGreeting(protocol, answer);
    FUZZ_CHECK(judgement.resultCode.size() <= 3);
    if (judgement.success) {
        if (protocol == QLatin1String("pop3"))
            FUZZ_CHECK(answer.startsWith("+OK"));
        else
            FUZZ_CHECK(answer.startsWith("220") &&
                       (protocol == QLatin1String("ftp") || protocol == QLatin1String("smtp")));
    }
    return 0;
}
