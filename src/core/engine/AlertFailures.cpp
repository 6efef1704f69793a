#include "AlertFailures.h"

#include "base/Subs.h"

namespace {
// Entries and the summary are one line each part: a server reply or a
// system message must not break the error log's layout.
QString oneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    constexpr qsizetype MaxDetail = 1024;
    if (text.size() > MaxDetail)
        text = text.left(MaxDetail) + QStringLiteral("...");
    return text.trimmed();
}

const char *const Headings[] = {"alert e-mail not sent", "alert program not started", "alert sound not played"};
const char *const Labels[] = {"Alert e-mail failed", "Alert program failed", "Alert sound failed"};
} // namespace

AlertFailures::AlertFailures(QString errorLogPath, std::function<QString()> stamp, QObject *parent)
    : QObject(parent), m_errorLog(std::move(errorLogPath)), m_stamp(std::move(stamp))
{
}

void AlertFailures::failed(Kind kind, const QString &serviceName, const QString &which, const QString &detail)
{
    const auto k = size_t(kind);
    const QString service = oneLine(serviceName);
    const QString why = oneLine(detail);
    AppendLine(m_errorLog, m_stamp() + QStringLiteral(": ") + QLatin1String(Headings[k]) + QStringLiteral(" for ") +
                               service + QStringLiteral(" (") + which + QStringLiteral(")\r\n") + why +
                               QStringLiteral("\r\n"));
    const QString shown = QLatin1String(Labels[k]) + QStringLiteral(": ") + service + QStringLiteral(" (") + why +
                          QLatin1Char(')');
    if (shown != m_shown[k]) {
        m_shown[k] = shown;
        emit changed();
    }
}

void AlertFailures::succeeded(Kind kind)
{
    QString &shown = m_shown[size_t(kind)];
    if (shown.isEmpty())
        return;
    shown.clear();
    emit changed();
}

QString AlertFailures::summary() const
{
    QStringList parts;
    for (const QString &shown : m_shown)
        if (!shown.isEmpty())
            parts << shown;
    return parts.join(QStringLiteral("; "));
}
