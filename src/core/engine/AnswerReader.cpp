#include "AnswerReader.h"

#include <QList>

#include <algorithm>

namespace {

constexpr qsizetype HttpPiece = 10;
constexpr qsizetype GreetingPiece = 200;

QByteArray withoutCR(const QByteArray &line)
{
    return line.endsWith('\r') ? line.chopped(1) : line;
}

// The token of a Transfer-Encoding list that decides the framing.
bool lastCodingIsChunked(const QByteArray &value)
{
    const QList<QByteArray> codings = value.split(',');
    return !codings.isEmpty() && codings.last().trimmed().toLower() == "chunked";
}

bool parseDecimal(const QByteArray &text, qint64 &value)
{
    const QByteArray t = text.trimmed();
    if (t.isEmpty() || t.size() > 18)
        return false;
    value = 0;
    for (const char c : t) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

bool parseChunkSize(const QByteArray &line, qint64 &value)
{
    QByteArray t = withoutCR(line);
    const qsizetype semicolon = t.indexOf(';');
    if (semicolon >= 0)
        t.truncate(semicolon);
    t = t.trimmed();
    if (t.isEmpty() || t.size() > 15)
        return false;
    value = 0;
    for (const char c : t) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        value = value * 16 + digit;
    }
    return true;
}

} // namespace

AnswerReader::AnswerReader(Mode mode, bool headRequest) : m_mode(mode), m_head(headRequest) {}

void AnswerReader::feed(const QByteArray &chunk)
{
    if (m_done || chunk.isEmpty())
        return;
    const qsizetype limit = m_mode == Mode::Http ? HttpLimit : GreetingLimit;
    const QByteArray accepted = chunk.left(limit - m_raw.size());
    store(accepted);
    m_raw += accepted;

    if (m_mode == Mode::Greeting) {
        if (m_raw.endsWith("\r\n"))
            m_done = true;
    } else {
        advanceHttp();
    }
    if (!m_done && m_raw.size() >= limit) {
        m_reachedLimit = true;
        m_done = true;
    }
}

void AnswerReader::peerClosed()
{
    m_done = true;
}

void AnswerReader::store(const QByteArray &bytes)
{
    const qsizetype pieceSize = m_mode == Mode::Http ? HttpPiece : GreetingPiece;
    const qsizetype base = m_raw.size();
    if (!bytes.contains('\0') && m_zeroPiece < base / pieceSize) {
        m_answer += bytes;
        return;
    }
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const qsizetype piece = (base + i) / pieceSize;
        if (piece == m_zeroPiece)
            continue;
        if (bytes.at(i) == '\0') {
            m_zeroPiece = piece;
            continue;
        }
        m_answer += bytes.at(i);
    }
}

void AnswerReader::advanceHttp()
{
    if (m_body == Body::Unknown) {
        // Not worth waiting for more once the answer cannot be a status line.
        static const QByteArray prefix("HTTP/");
        const qsizetype n = std::min(m_raw.size(), prefix.size());
        if (m_raw.left(n) != prefix.left(n)) {
            m_done = true;
            return;
        }
        if (!scanHeaders())
            return;
    }
    switch (m_body) {
    case Body::Unknown:
    case Body::UntilClose:
        break;
    case Body::None:
        m_done = true;
        break;
    case Body::Length:
        if (m_raw.size() - m_bodyStart >= m_contentLength)
            m_done = true;
        break;
    case Body::Chunked:
        if (advanceChunked())
            m_done = true;
        break;
    }
}

// Looks for the empty line that ends the header block and, once found,
// decides how the body is framed. Only bytes not yet searched are searched.
bool AnswerReader::scanHeaders()
{
    for (;;) {
        const qsizetype lf = m_raw.indexOf('\n', std::max(m_lineStart, m_scanPos));
        if (lf < 0) {
            m_scanPos = m_raw.size();
            return false;
        }
        const bool emptyLine = withoutCR(m_raw.mid(m_lineStart, lf - m_lineStart)).isEmpty();
        m_lineStart = lf + 1;
        m_scanPos = m_lineStart;
        if (emptyLine) {
            m_bodyStart = m_lineStart;
            break;
        }
    }

    const QList<QByteArray> lines = m_raw.left(m_bodyStart).split('\n');
    const QByteArray statusLine = withoutCR(lines.value(0));
    const qsizetype blank = statusLine.indexOf(' ');
    const QByteArray status = blank < 0 ? QByteArray() : statusLine.mid(blank + 1, 3);

    bool chunked = false;
    bool haveLength = false;
    qint64 length = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = withoutCR(lines.at(i));
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1);
        if (name == "transfer-encoding") {
            chunked = lastCodingIsChunked(value);
        } else if (name == "content-length") {
            qint64 v = 0;
            // Differing lengths leave the body to the peer's close.
            if (parseDecimal(value, v) && (!haveLength || v == length)) {
                haveLength = true;
                length = v;
            } else {
                haveLength = false;
                length = -1;
            }
        }
    }

    if (m_head || status.startsWith('1') || status == "204" || status == "304") {
        m_body = Body::None;
    } else if (chunked) {
        m_body = Body::Chunked;
        m_chunkPos = m_bodyStart;
    } else if (haveLength && length >= 0) {
        m_body = Body::Length;
        m_contentLength = length;
    } else {
        m_body = Body::UntilClose;
    }
    return true;
}

// True once the last chunk and its trailer are in. A malformed chunk size
// ends the read too: nothing more can be framed.
bool AnswerReader::advanceChunked()
{
    for (;;) {
        if (m_chunkState == Chunk::Data) {
            const qint64 take = std::min<qint64>(m_chunkLeft, m_raw.size() - m_chunkPos);
            m_chunkPos += take;
            m_chunkLeft -= take;
            if (m_chunkLeft > 0)
                return false;
            m_chunkState = Chunk::DataEnd;
            continue;
        }
        const qsizetype lf = m_raw.indexOf('\n', std::max(m_chunkPos, m_scanPos));
        if (lf < 0) {
            m_scanPos = m_raw.size();
            return false;
        }
        const QByteArray line = m_raw.mid(m_chunkPos, lf - m_chunkPos);
        m_chunkPos = lf + 1;
        m_scanPos = m_chunkPos;
        switch (m_chunkState) {
        case Chunk::Size: {
            qint64 size = 0;
            if (!parseChunkSize(line, size))
                return true;
            if (size == 0) {
                m_chunkState = Chunk::Trailer;
            } else {
                m_chunkState = Chunk::Data;
                m_chunkLeft = size;
            }
            break;
        }
        case Chunk::DataEnd:
            m_chunkState = Chunk::Size;
            break;
        case Chunk::Trailer:
            if (withoutCR(line).isEmpty())
                return true;
            break;
        case Chunk::Data:
            break;
        }
    }
}
