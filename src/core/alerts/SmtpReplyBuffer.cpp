#include "alerts/SmtpReplyBuffer.h"

qsizetype SmtpReplyBuffer::take(QByteArrayView ahead)
{
    if (complete() || full())
        return 0;
    const QByteArrayView room = ahead.first(qMin(ahead.size(), Limit - m_bytes.size()));
    const qsizetype lineEnd = room.indexOf('\n');
    const qsizetype count = lineEnd >= 0 ? lineEnd + 1 : room.size();
    m_bytes += room.first(count);
    return count;
}

bool SmtpReplyBuffer::complete() const
{
    return m_bytes.endsWith("\r\n") && lastLineBytes().indexOf(' ') == 3;
}

QByteArray SmtpReplyBuffer::lastLineBytes() const
{
    qsizetype end = m_bytes.size();
    if (m_bytes.endsWith("\r\n"))
        end -= 2;
    else if (m_bytes.endsWith('\n') || m_bytes.endsWith('\r'))
        end -= 1;
    qsizetype start = end;
    while (start > 0 && m_bytes.at(start - 1) != '\n' && m_bytes.at(start - 1) != '\r')
        --start;
    return m_bytes.mid(start, end - start);
}
