#include "base/TimeStamp.h"

#include <QTime>

namespace {

const QChar Quote = QLatin1Char('\'');
const QChar Blank = QLatin1Char(' ');

// Start and length of every run of `field` outside quoted literals.
QList<std::pair<qsizetype, qsizetype>> unquotedRuns(const QString &format, QChar field)
{
    QList<std::pair<qsizetype, qsizetype>> runs;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format.at(i);
        if (c == Quote) {
            quoted = !quoted; // '' inside or outside a literal toggles twice
            ++i;
            continue;
        }
        if (!quoted && c == field) {
            qsizetype end = i;
            while (end < format.size() && format.at(end) == field)
                ++end;
            runs.append({i, end - i});
            i = end;
            continue;
        }
        ++i;
    }
    return runs;
}

bool hasUnquoted(const QString &format, QChar field)
{
    return !unquotedRuns(format, field).isEmpty();
}

// Removes the zone field together with the blanks, the comma or the brackets
// that only exist to set it off, e.g. "h:mm:ss AP t", "H:mm:ss (t)",
// "t HH:mm:ss", "h:mm:ss AP, t".
QString withoutZone(QString format)
{
    for (;;) {
        const auto runs = unquotedRuns(format, QLatin1Char('t'));
        if (runs.isEmpty())
            return format;
        qsizetype left = runs.first().first;
        qsizetype right = left + runs.first().second;
        const auto skipBlanks = [&] {
            while (left > 0 && format.at(left - 1) == Blank)
                --left;
            while (right < format.size() && format.at(right) == Blank)
                ++right;
        };
        skipBlanks();
        if (left > 0 && right < format.size()) {
            const QChar open = format.at(left - 1);
            const QChar close = format.at(right);
            if ((open == QLatin1Char('(') && close == QLatin1Char(')')) ||
                (open == QLatin1Char('[') && close == QLatin1Char(']'))) {
                --left;
                ++right;
                skipBlanks();
            }
        }
        if (left > 0 && format.at(left - 1) == QLatin1Char(',')) {
            --left;
            skipBlanks();
        }
        // Something on both sides keeps one blank between them.
        const bool between = left > 0 && right < format.size();
        format.replace(left, right - left, between ? QString(Blank) : QString());
    }
}

QDateTime atSeconds(const QDateTime &when)
{
    const QTime t = when.time();
    return QDateTime(when.date(), QTime(t.hour(), t.minute(), t.second()));
}

std::optional<QDateTime> parseWith(const QString &text, const QString &dateFormat,
                                   const QString &timeFormat, const QLocale &locale)
{
    const QDateTime full = locale.toDateTime(text, dateFormat + Blank + timeFormat);
    if (full.isValid())
        return full;
    const QDate date = locale.toDate(text, dateFormat);
    if (date.isValid()) {
        const QDateTime midnight(date, QTime(0, 0));
        if (midnight.isValid())
            return midnight;
    }
    return std::nullopt;
}

} // namespace

QString TimeStamp::dateFormat(const QLocale &locale)
{
    QString format = locale.dateFormat(QLocale::ShortFormat);
    // Two-digit years would read back in the wrong century. Replace from the
    // end so earlier positions stay valid.
    const auto runs = unquotedRuns(format, QLatin1Char('y'));
    for (auto it = runs.crbegin(); it != runs.crend(); ++it) {
        if (it->second != 4)
            format.replace(it->first, it->second, QStringLiteral("yyyy"));
    }
    if (format.trimmed().isEmpty() || !hasUnquoted(format, QLatin1Char('d')))
        return fallbackDateFormat();
    return format;
}

QString TimeStamp::timeFormat(const QLocale &locale)
{
    const QString format = withoutZone(locale.timeFormat(QLocale::LongFormat));
    // A stamp without seconds would not read back to the second.
    if (!hasUnquoted(format, QLatin1Char('s')) || !hasUnquoted(format, QLatin1Char('m')))
        return fallbackTimeFormat();
    return format;
}

QString TimeStamp::format(const QDateTime &when, const QLocale &locale)
{
    if (!when.isValid())
        return QString();
    const QDateTime local = when.toLocalTime();
    const bool midnight =
        local.time().hour() == 0 && local.time().minute() == 0 && local.time().second() == 0;
    const auto render = [&](const QString &date, const QString &time) {
        return midnight ? locale.toString(local.date(), date)
                        : locale.toString(local, date + Blank + time);
    };
    const QString text = render(dateFormat(locale), timeFormat(locale));
    if (!text.contains(QLatin1String(": ")))
        return text;
    return render(fallbackDateFormat(), fallbackTimeFormat());
}

std::optional<QDateTime> TimeStamp::parse(const QString &text, const QLocale &locale)
{
    // Surrounding blanks are refused: the stamp must be exactly what was written.
    if (text.isEmpty() || text.front().isSpace() || text.back().isSpace())
        return std::nullopt;
    auto result = parseWith(text, dateFormat(locale), timeFormat(locale), locale);
    if (!result)
        result = parseWith(text, fallbackDateFormat(), fallbackTimeFormat(), locale);
    if (result)
        return atSeconds(*result);
    return std::nullopt;
}
