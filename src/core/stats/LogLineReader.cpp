#include "stats/LogLineReader.h"

LogLineReader::LogLineReader(qsizetype maxLineLength) : m_maxLineLength(maxLineLength)
{
    // Room for the longest allowed line, its CR LF, one byte to tell "too
    // long" from "exactly at the limit" and the terminating zero.
    m_buffer.resize(maxLineLength + 4);
}

bool LogLineReader::open(const QString &path, QString *error)
{
    m_file.setFileName(path);
    m_lineNumber = 0;
    if (!m_file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Cannot open file \"%1\". %2").arg(path, m_file.errorString());
        return false;
    }
    return true;
}

LogLineReader::Result LogLineReader::next(QString &line, QString *error)
{
    if (!m_file.isOpen() || m_file.atEnd())
        return AtEnd;
    const qint64 read = m_file.readLine(m_buffer.data(), m_buffer.size());
    // Every line read holds at least its line end or one byte of text.
    if (read <= 0) {
        if (error)
            *error = QStringLiteral("Cannot read file \"%1\". %2")
                         .arg(m_file.fileName(), m_file.errorString());
        return Failed;
    }
    ++m_lineNumber;
    const char *bytes = m_buffer.constData();
    qint64 size = read;
    if (bytes[size - 1] == '\n') {
        --size;
        if (size > 0 && bytes[size - 1] == '\r')
            --size;
    }
    if (size > m_maxLineLength) {
        if (error)
            *error = QStringLiteral("Line %1 of \"%2\" is longer than %3 bytes.")
                         .arg(m_lineNumber)
                         .arg(m_file.fileName())
                         .arg(m_maxLineLength);
        return Failed;
    }
    if (m_lineNumber == 1 && size >= 3 && bytes[0] == '\xEF' && bytes[1] == '\xBB' &&
        bytes[2] == '\xBF') {
        bytes += 3;
        size -= 3;
    }
    line = QString::fromUtf8(bytes, size);
    return GotLine;
}
