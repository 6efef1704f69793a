#include "MessageTemplate.h"

#include "base/FileError.h"
#include "base/Subs.h"

#include <QFile>

namespace {

void checkMessageSize(qsizetype size)
{
    if (size > MaxMessageSize)
        throw FileError(
            QStringLiteral("The message would be larger than %1 bytes.").arg(MaxMessageSize));
}

QByteArray replaceEvery(const QByteArray &text, const QByteArray &name, const QByteArray &value)
{
    QByteArray result;
    qsizetype from = 0;
    qsizetype hit;
    while ((hit = text.indexOf(name, from)) >= 0) {
        result += QByteArrayView(text).sliced(from, hit - from);
        result += value;
        checkMessageSize(result.size());
        from = hit + name.size();
    }
    result += QByteArrayView(text).sliced(from);
    checkMessageSize(result.size());
    return result;
}

QString twoDigits(int number)
{
    return QStringLiteral("%1").arg(number, 2, 10, QLatin1Char('0'));
}

} // namespace

QStringList TemplateVariableNames()
{
    return {QStringLiteral("{SiteURL}"), QStringLiteral("{NumberOfFailures}"),
            QStringLiteral("{FailureTime}"), QStringLiteral("{RecoveryTime}"),
            QStringLiteral("{TimeNow}"), QStringLiteral("{Downtime}"),
            QStringLiteral("{CertExpiry}")};
}

QString DowntimeText(qint64 seconds)
{
    if (seconds < 0)
        return {};
    constexpr qint64 Minute = 60;
    constexpr qint64 Hour = 60 * Minute;
    constexpr qint64 Day = 24 * Hour;
    if (seconds < Minute)
        return QStringLiteral("under 1 min");
    if (seconds < Hour)
        return QStringLiteral("%1 min").arg(seconds / Minute);
    if (seconds < Day)
        return QStringLiteral("%1 h %2 min").arg(seconds / Hour).arg((seconds % Hour) / Minute, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 d %2 h").arg(seconds / Day).arg((seconds % Day) / Hour);
}

QList<QByteArray> SplitTextLines(const QByteArray &text)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char c = text.at(i);
        if (c != '\r' && c != '\n')
            continue;
        lines.append(text.mid(start, i - start));
        if (c == '\r' && i + 1 < size && text.at(i + 1) == '\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines.append(text.mid(start));
    return lines;
}

QByteArray JoinTextLines(const QList<QByteArray> &lines)
{
    QByteArray text;
    for (const QByteArray &line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

QList<QByteArray> LoadTemplateLines(const QString &filePath)
{
    const auto fail = [&](const QString &reason) {
        throw FileError(QStringLiteral("Cannot open file \"%1\". %2").arg(filePath, reason));
    };
    if (filePath.isEmpty())
        fail(QStringLiteral("No file name specified"));
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        fail(file.errorString());
    if (file.size() > MaxTemplateSize)
        fail(QStringLiteral("The file is larger than %1 bytes.").arg(MaxTemplateSize));
    // Read one byte more than allowed, in case the size was not known.
    const QByteArray text = file.read(MaxTemplateSize + 1);
    if (file.error() != QFileDevice::NoError)
        fail(file.errorString());
    if (text.size() > MaxTemplateSize)
        fail(QStringLiteral("The file is larger than %1 bytes.").arg(MaxTemplateSize));
    return SplitTextLines(text);
}

QList<QByteArray> ReplaceTemplateVariables(const QList<QByteArray> &lines,
                                           const TemplateValues &values)
{
    const QStringList names = TemplateVariableNames();
    const QStringList texts = {values.siteUrl, values.numberOfFailures, values.failureTime,
                               values.recoveryTime, values.timeNow, values.downtime,
                               values.certExpiry};
    QList<QByteArray> result = lines;
    for (qsizetype i = 0; i < names.size(); ++i)
        result = SplitTextLines(
            replaceEvery(JoinTextLines(result), names.at(i).toUtf8(), texts.at(i).toUtf8()));
    return result;
}

bool AddDateHeader(QList<QByteArray> &lines, const QString &dateText)
{
    for (const QByteArray &line : std::as_const(lines)) {
        if (line.toLower().startsWith("date:"))
            return false;
        if (line.isEmpty()) {
            lines.prepend("Date: " + dateText.toUtf8());
            return true;
        }
    }
    return false;
}

QStringList SplitRecipients(const QString &text)
{
    QStringList recipients;
    SplitToList(text, QLatin1Char(','), recipients);
    return recipients;
}

QString BuildSiteUrl(const QString &serviceName)
{
    if (serviceName.isEmpty())
        return QString();
    const QStringList fields = serviceName.split(QLatin1Char(' '));
    if (fields.size() == 1)
        return QStringLiteral("http://") + fields.at(0);
    const QString scheme = fields.at(0).toLower() + QStringLiteral("://");
    QString host = fields.at(1);
    if (fields.size() < 3)
        return scheme + host;
    const QString &port = fields.at(2);
    const qsizetype slash = host.indexOf(QLatin1Char('/'));
    if (slash >= 0)
        return scheme + host.insert(slash, QLatin1Char(':') + port);
    return scheme + host + QLatin1Char(':') + port;
}

QString Rfc822Date(const QDateTime &moment)
{
    static const char *const Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (!moment.isValid())
        return QString();
    const QDate date = moment.date();
    const QTime time = moment.time();
    // Qt counts Monday as 1 and Sunday as 7.
    return QStringLiteral("%1, %2 %3 %4 %5:%6:%7 %8")
        .arg(QLatin1String(Days[date.dayOfWeek() % 7]))
        .arg(date.day())
        .arg(QLatin1String(Months[date.month() - 1]))
        .arg(date.year())
        .arg(twoDigits(time.hour()), twoDigits(time.minute()), twoDigits(time.second()),
             ZoneOffsetText(moment));
}

QString ZoneOffsetText(const QDateTime &moment)
{
    const int minutes = moment.offsetFromUtc() / 60;
    if (minutes == 0)
        return QStringLiteral("GMT");
    const int magnitude = qAbs(minutes);
    return (minutes > 0 ? QStringLiteral("+") : QStringLiteral("-")) + twoDigits(magnitude / 60) +
           twoDigits(magnitude % 60);
}
