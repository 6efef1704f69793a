#include "ProbeRules.h"

#include "config/ProgramContext.h"

#include <QStringList>

namespace {

// Lines end at CR LF, at LF or at CR; a final line break does not start
// another, empty line.
QList<QByteArray> splitLines(const QByteArray &text)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        const char c = text.at(i);
        if (c == '\r' || c == '\n') {
            lines.append(text.mid(start, i - start));
            if (c == '\r' && i + 1 < n && text.at(i + 1) == '\n')
                ++i;
            start = i + 1;
        }
        ++i;
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}

// Everything after the first empty line, each line ended by CR LF; empty
// when there is no empty line.
QByteArray bodyAfterHeaders(const QByteArray &answer)
{
    const QList<QByteArray> lines = splitLines(answer);
    qsizetype first = 0;
    while (first < lines.size() && !lines.at(first).isEmpty())
        ++first;
    QByteArray body;
    for (qsizetype i = first + 1; i < lines.size(); ++i)
        body += lines.at(i) + "\r\n";
    return body;
}

} // namespace

QString makerHost()
{
    return QStringLiteral("www.kestrin.example");
}

QString userAgentText()
{
    return ProgramContext::applicationTitle() + QLatin1Char('/') + ProgramContext::buildVersion() +
           QStringLiteral(" (") + makerHost() + QLatin1Char(')');
}

QByteArray buildHttpRequest(const ServiceTarget &target, bool withPattern, bool viaProxy,
                            const QString &userAgent, const QString &makerHostName)
{
    const QString method = withPattern ? QStringLiteral("GET ") : QStringLiteral("HEAD ");
    const QString uri =
        viaProxy ? QStringLiteral("http://") + target.host + target.portSuffix + target.path
                 : target.path;
    const QStringList lines = {
        method + uri + QStringLiteral(" HTTP/1.1"),
        QStringLiteral("Host: ") + target.host + target.portSuffix,
        QStringLiteral("Cache-Control: no-cache"),
        QStringLiteral("Pragma: no-cache"),
        QStringLiteral("User-Agent: ") + userAgent,
        QStringLiteral("Referer: http://") + makerHostName + QStringLiteral("/quellmark"),
    };
    QByteArray request;
    for (const QString &line : lines)
        request += line.toUtf8() + "\r\n";
    request += "\r\n";
    return request;
}

Judgement judgeHttp(const QByteArray &answer, const QString &pattern)
{
    Judgement j;
    const qsizetype blank = answer.indexOf(' ');
    j.resultCode = QString::fromUtf8(blank < 0 ? answer.left(3) : answer.mid(blank + 1, 3));

    if (!answer.startsWith("HTTP/") || blank < 0 || blank + 1 >= answer.size())
        return j;
    const char klass = answer.at(blank + 1);
    if (klass < '1' || klass > '4')
        return j;

    if (pattern.isEmpty()) {
        j.success = true;
        return j;
    }
    const QString body = QString::fromUtf8(bodyAfterHeaders(answer)).toLower();
    if (!body.isEmpty() && body.contains(pattern.toLower())) {
        j.success = true;
    } else {
        j.resultCode = QStringLiteral("pattern fail");
    }
    return j;
}

Judgement judgeGreeting(const QString &protocol, const QByteArray &answer)
{
    Judgement j;
    j.resultCode = QString::fromUtf8(answer.left(3));
    if (protocol == QLatin1String("ftp") || protocol == QLatin1String("smtp"))
        j.success = j.resultCode == QLatin1String("220");
    else if (protocol == QLatin1String("pop3"))
        j.success = j.resultCode == QLatin1String("+OK");
    return j;
}

bool judgeSlowAnswer(ProbeResult &result, int slowAfterMs)
{
    const qint64 tookUs = result.timing.answerUs;
    if (!result.connected || !result.success || slowAfterMs <= 0 || tookUs < 0 ||
        tookUs <= qint64(slowAfterMs) * 1000)
        return false;
    // Rounded up, so the time told is always above the limit.
    const qint64 tookMs = (tookUs + 999) / 1000;
    result.success = false;
    result.resultCode = QStringLiteral("slow");
    result.response.prepend(QStringLiteral("slow: the answer took %1 ms, more than the %2 ms allowed\r\n")
                                .arg(tookMs)
                                .arg(slowAfterMs)
                                .toUtf8());
    return true;
}
