#pragma once

#include "engine/net/InputBounds.h"

#include <QByteArray>

// Reads one answer as it arrives and tells when it is complete.
//
// Greeting mode ends when the bytes received end with CR LF. Http mode ends
// when the message is complete: the header block for a HEAD request or a
// 1xx/204/304 status, otherwise the Content-Length body, the chunked body up
// to its last chunk and trailer, or the peer's close when the answer gives no
// length. Waiting for the whole message (rather than the first pause) keeps a
// server that flushes its headers before the body from looking down.
//
// In both modes the peer's close ends the read, as does the size bound, after
// which further bytes are ignored and what was read is judged. An answer that
// cannot be HTTP ends as soon as that is clear.
//
// A zero byte hides the rest of its piece: the stream is cut into pieces of
// 10 (Http) or 200 (Greeting) bytes counted from the first byte, and within a
// piece everything from the first zero byte on is left out of answer().
// Framing always looks at the raw bytes.
class AnswerReader {
public:
    enum class Mode { Greeting, Http };

    static constexpr qsizetype HttpLimit = InputBounds::HttpAnswer;
    static constexpr qsizetype GreetingLimit = InputBounds::GreetingAnswer;

    explicit AnswerReader(Mode mode, bool headRequest = false);

    void feed(const QByteArray &chunk);
    void peerClosed();

    bool done() const { return m_done; }
    // The answer as stored, zero-byte pieces cut.
    QByteArray answer() const { return m_answer; }
    // Raw bytes accepted so far (up to the bound).
    qsizetype receivedBytes() const { return m_raw.size(); }
    bool reachedLimit() const { return m_reachedLimit; }

private:
    void store(const QByteArray &bytes);
    void advanceHttp();
    bool scanHeaders();
    bool advanceChunked();

    Mode m_mode;
    bool m_head;
    bool m_done = false;
    bool m_reachedLimit = false;
    QByteArray m_raw;
    QByteArray m_answer;
    qsizetype m_zeroPiece = -1; // piece whose rest is being dropped

    // Http framing state.
    enum class Body { Unknown, None, Length, Chunked, UntilClose };
    Body m_body = Body::Unknown;
    qsizetype m_lineStart = 0;  // start of the header line being scanned
    qsizetype m_scanPos = 0;    // no line end before this in the current line
    qsizetype m_bodyStart = -1; // first byte after the header block
    qint64 m_contentLength = 0;
    // Chunked decoding: position of the next unparsed byte and what it is.
    enum class Chunk { Size, Data, DataEnd, Trailer };
    Chunk m_chunkState = Chunk::Size;
    qsizetype m_chunkPos = 0;
    qint64 m_chunkLeft = 0;
};
