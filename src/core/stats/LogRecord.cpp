#include "stats/LogRecord.h"

#include "base/TimeStamp.h"

#include <QFile>

namespace {

// Keeps an error message readable when the stamp is a whole line of junk.
QString shown(const QString &text)
{
    constexpr qsizetype Max = 80;
    return text.size() <= Max ? text : text.left(Max) + QStringLiteral("...");
}

void setError(QString *error, const QString &message)
{
    if (error)
        *error = message;
}

} // namespace

std::optional<LogRecord> parseLogLine(const QString &line, const QLocale &locale, QString *error)
{
    const qsizetype end = line.indexOf(QLatin1String(": "));
    const QString stamp = end < 0 ? line : line.left(end);
    const auto when = end < 0 ? std::nullopt : TimeStamp::parse(stamp, locale);
    if (!when) {
        setError(error, QStringLiteral("Cannot read the time stamp \"%1\".").arg(shown(stamp)));
        return std::nullopt;
    }
    // Only the text after the stamp is looked at, so a month or day-period
    // name can never be taken for a record kind.
    const QStringView rest = QStringView(line).mid(end + 2);
    LogRecord record;
    record.when = *when;
    if (rest.contains(QLatin1String("on error")))
        record.kind = LogRecord::WentOnError;
    else if (rest.contains(QLatin1String("off error")))
        record.kind = LogRecord::CameOffError;
    return record;
}

bool readLogLines(const QString &path, QStringList &lines, QString *error, qsizetype maxLineLength)
{
    lines.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error,
                 QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
        return false;
    }
    // Room for the longest allowed line, its CR LF and one byte to tell
    // "too long" from "exactly at the limit".
    const qint64 chunk = maxLineLength + 3;
    while (!file.atEnd()) {
        QByteArray bytes = file.readLine(chunk);
        // Every line read holds at least its line end or one byte of text.
        if (bytes.isEmpty()) {
            lines.clear();
            setError(error,
                     QStringLiteral("Cannot read file \"%1\". %2").arg(path, file.errorString()));
            return false;
        }
        if (bytes.endsWith('\n'))
            bytes.chop(bytes.endsWith("\r\n") ? 2 : 1);
        if (bytes.size() > maxLineLength) {
            const qsizetype number = lines.size() + 1;
            lines.clear();
            setError(error, QStringLiteral("Line %1 of \"%2\" is longer than %3 bytes.")
                                .arg(number)
                                .arg(path)
                                .arg(maxLineLength));
            return false;
        }
        if (lines.isEmpty() && bytes.startsWith("\xEF\xBB\xBF"))
            bytes.remove(0, 3);
        lines.append(QString::fromUtf8(bytes));
    }
    return true;
}
