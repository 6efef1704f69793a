#include "ProxyTunnel.h"

#include "engine/ProbeConnection.h"

#include <algorithm>

namespace {

qsizetype answerEnd(const QByteArray &answer)
{
    const qsizetype crlf = answer.indexOf("\r\n\r\n");
    const qsizetype lf = answer.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf < lf))
        return crlf + 4;
    return lf >= 0 ? lf + 2 : -1;
}

// "HTTP/1.x 2xx ...": the tunnel stands.
bool agreed(const QByteArray &statusLine)
{
    const qsizetype blank = statusLine.indexOf(' ');
    return statusLine.startsWith("HTTP/") && blank > 0 && blank + 1 < statusLine.size() &&
           statusLine.at(blank + 1) == '2';
}

QByteArray firstLine(const QByteArray &text)
{
    qsizetype end = text.indexOf('\n');
    QByteArray line = end < 0 ? text : text.left(end);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

} // namespace

QByteArray ProxyTunnel::request() const
{
    return QStringLiteral("CONNECT %1 HTTP/1.1\r\nHost: %1\r\n\r\n").arg(m_hostPort).toUtf8();
}

void ProxyTunnel::take(ProbeConnection &connection)
{
    while (connection.bytesAvailable() > 0 && answerEnd(m_answer) < 0 &&
           m_answer.size() < AnswerLimit) {
        const QByteArray line =
            connection.readLine(std::max<qint64>(2, AnswerLimit - m_answer.size()));
        if (line.isEmpty())
            break;
        m_answer += line;
    }
}

bool ProxyTunnel::over() const
{
    return answerEnd(m_answer) >= 0 || m_closed || m_answer.size() >= AnswerLimit;
}

bool ProxyTunnel::agreedTo() const
{
    return answerEnd(m_answer) >= 0 && agreed(firstLine(m_answer));
}

QString ProxyTunnel::failure(bool timedOut, const QString &waited, bool bytesWaiting) const
{
    const QByteArray status = firstLine(m_answer);
    if (answerEnd(m_answer) < 0) {
        if (timedOut)
            return QStringLiteral("The proxy did not answer the tunnel request to %1 within %2")
                .arg(m_hostPort, waited);
        return QStringLiteral("The proxy gave no complete answer to the tunnel request to %1")
                   .arg(m_hostPort) +
               (status.isEmpty() ? QString() : QStringLiteral(": ") + QString::fromUtf8(status));
    }
    if (!agreed(status))
        return QStringLiteral("The proxy refused the tunnel to %1: %2")
            .arg(m_hostPort, QString::fromUtf8(status));
    if (bytesWaiting || m_closed)
        return QStringLiteral("The proxy's tunnel to %1 did not stay open for TLS").arg(m_hostPort);
    return QString();
}
