#include "stats/LogLineReader.h"

#include <cstring>

namespace {

// Bytes asked of the file at a time.
constexpr qsizetype ReadSize = 64 * 1024;

} // namespace

LogLineReader::LogLineReader(qsizetype maxLineLength) : m_maxLineLength(maxLineLength)
{
    // Room for the longest allowed line, its CR LF and one byte to tell
    // "too long" from "exactly at the limit", plus a piece to read into.
    m_buffer.resize(maxLineLength + 3 + ReadSize);
}

bool LogLineReader::open(const QString &path, QString *error)
{
    m_file.close();
    m_file.setFileName(path);
    m_lineNumber = 0;
    m_pos = m_end = 0;
    m_eof = false;
    if (!m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        if (error)
            *error = QStringLiteral("Cannot open file \"%1\". %2").arg(path, m_file.errorString());
        return false;
    }
    return true;
}

LogLineReader::Result LogLineReader::next(QString &line, QString *error)
{
    if (!m_file.isOpen())
        return AtEnd;
    // This many bytes without a line feed are a line over the limit,
    // whatever line end may follow them.
    const qsizetype tooLong = m_maxLineLength + 3;
    qsizetype searched = m_pos;
    const char *feed = nullptr;
    for (;;) {
        feed = static_cast<const char *>(
            std::memchr(m_buffer.constData() + searched, '\n', size_t(m_end - searched)));
        if (feed || m_end - m_pos >= tooLong || m_eof)
            break;
        searched = m_end;
        if (m_pos > 0) {
            std::memmove(m_buffer.data(), m_buffer.constData() + m_pos, size_t(m_end - m_pos));
            searched -= m_pos;
            m_end -= m_pos;
            m_pos = 0;
        }
        if (!fill(error))
            return Failed;
    }
    if (!feed && m_pos == m_end)
        return AtEnd;

    ++m_lineNumber;
    const char *bytes = m_buffer.constData() + m_pos;
    qint64 size;
    if (feed) {
        size = feed - bytes;
        m_pos += size + 1;
        if (size > 0 && bytes[size - 1] == '\r')
            --size;
    } else {
        // The last line without a line end, or the start of an overlong one.
        size = m_end - m_pos;
        m_pos = m_end;
    }
    if (size > m_maxLineLength) {
        if (error)
            *error = QStringLiteral("Line %1 of \"%2\" is longer than %3 bytes.")
                         .arg(m_lineNumber)
                         .arg(m_file.fileName())
                         .arg(m_maxLineLength);
        if (!feed && !skipRestOfLine(error))
            return Failed;
        return TooLong;
    }
    if (m_lineNumber == 1 && size >= 3 && bytes[0] == '\xEF' && bytes[1] == '\xBB' &&
        bytes[2] == '\xBF') {
        bytes += 3;
        size -= 3;
    }
    // Plain ASCII, nearly every log line, is widened into the caller's
    // string, whose buffer is used again; anything else is decoded.
    line.resize(size);
    char16_t *out = reinterpret_cast<char16_t *>(line.data());
    for (qint64 i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x80) {
            line = QString::fromUtf8(bytes, size);
            break;
        }
        out[i] = c;
    }
    return GotLine;
}

// Reads more of the file behind the bytes in the buffer.
bool LogLineReader::fill(QString *error)
{
    const qint64 got = m_file.read(m_buffer.data() + m_end, m_buffer.size() - m_end);
    if (got < 0) {
        if (error)
            *error = QStringLiteral("Cannot read file \"%1\". %2")
                         .arg(m_file.fileName(), m_file.errorString());
        return false;
    }
    if (got == 0)
        m_eof = true;
    m_end += got;
    return true;
}

// Passes over the bytes of an overlong line not yet read, up to and
// including its line feed, a piece at a time.
bool LogLineReader::skipRestOfLine(QString *error)
{
    for (;;) {
        const char *start = m_buffer.constData() + m_pos;
        const auto *feed =
            static_cast<const char *>(std::memchr(start, '\n', size_t(m_end - m_pos)));
        if (feed) {
            m_pos += feed - start + 1;
            return true;
        }
        m_pos = m_end = 0;
        if (m_eof)
            return true;
        if (!fill(error))
            return false;
    }
}
