#include "stats/StampReader.h"

#include "stats/TDTCalc.h"
#include "base/TimeStamp.h"

#include <QDateTime>

#include <limits>

namespace {

// Distinct dates remembered at most; a log covers far fewer, and the memory
// stays bounded whatever the input.
constexpr qsizetype MaxCachedDates = 4096;
// Remembered for a date on which the clocks change: its stamps go to the
// general parser, which knows which times of that day do not exist.
constexpr qint64 ClockChangeDate = std::numeric_limits<qint64>::min();

bool isAsciiDigit(QChar c)
{
    return c.unicode() >= '0' && c.unicode() <= '9';
}

// text.mid(pos).startsWith(prefix), without making the view and the general
// comparison for the one or two characters of a literal.
bool hasAt(QStringView text, qsizetype pos, QStringView prefix)
{
    if (text.size() - pos < prefix.size())
        return false;
    for (qsizetype i = 0; i < prefix.size(); ++i) {
        if (text[pos + i] != prefix[i])
            return false;
    }
    return true;
}

char16_t asciiLower(char16_t c)
{
    return c >= 'A' && c <= 'Z' ? char16_t(c - 'A' + 'a') : c;
}

// startsWith(prefix, Qt::CaseInsensitive); where both sides are ASCII the
// folding is done here, anything else goes to Qt's own.
bool startsWithNoCase(QStringView text, QStringView prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (qsizetype i = 0; i < prefix.size(); ++i) {
        const char16_t a = text[i].unicode();
        const char16_t b = prefix[i].unicode();
        if (a >= 0x80 || b >= 0x80)
            return text.startsWith(prefix, Qt::CaseInsensitive);
        if (asciiLower(a) != asciiLower(b))
            return false;
    }
    return true;
}

} // namespace

StampReader::StampReader(const QLocale &locale)
    : m_locale(locale), m_dateFormat(TimeStamp::dateFormat(locale))
{
    m_fast = buildTimeParser();
}

bool StampReader::buildTimeParser()
{
    const QString format = TimeStamp::timeFormat(m_locale);
    bool hasAmPm = false;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format.at(i);
        if (c == QLatin1Char('\'')) {
            // Quoted literal; '' stands for one quote, inside or outside.
            QString text;
            qsizetype j = i + 1;
            if (j < format.size() && format.at(j) == QLatin1Char('\'')) {
                text = QStringLiteral("'");
                j += 1;
            } else {
                while (j < format.size()) {
                    if (format.at(j) == QLatin1Char('\'')) {
                        if (j + 1 < format.size() && format.at(j + 1) == QLatin1Char('\'')) {
                            text += QLatin1Char('\'');
                            j += 2;
                            continue;
                        }
                        break;
                    }
                    text += format.at(j++);
                }
                if (j >= format.size())
                    return false; // unterminated: leave it to the general parser
                j += 1;
            }
            m_time.append({Token::Literal, 0, text});
            i = j;
            continue;
        }
        if (!c.isLetter()) {
            m_time.append({Token::Literal, 0, QString(c)});
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < format.size() && format.at(end) == c)
            ++end;
        const qsizetype run = end - i;
        const char16_t letter = c.unicode();
        if ((letter == 'H' || letter == 'h') && run <= 2)
            m_time.append({Token::Hour, int(run), {}});
        else if (letter == 'm' && run <= 2)
            m_time.append({Token::Minute, int(run), {}});
        else if (letter == 's' && run <= 2)
            m_time.append({Token::Second, int(run), {}});
        else if ((letter == 'A' || letter == 'a') && run == 1) {
            m_time.append({Token::AmPm, 0, {}});
            hasAmPm = true;
            // "AP" and "ap" are one field.
            if (end < format.size() &&
                (format.at(end) == QLatin1Char('P') || format.at(end) == QLatin1Char('p')))
                ++end;
        } else {
            return false; // milliseconds, names or anything unusual
        }
        i = end;
    }
    // "h" counts to 12 only with an AM/PM field, wherever that stands.
    m_twelveHour = hasAmPm;
    m_am = m_locale.amText();
    m_pm = m_locale.pmText();
    if (hasAmPm &&
        (m_am.isEmpty() || m_pm.isEmpty() || m_am.compare(m_pm, Qt::CaseInsensitive) == 0))
        return false;

    // The split between date and time is found by counting blanks from the
    // end, which works only when every time part holds the same number.
    const auto blanks = [this, &format](int hour) {
        return int(m_locale.toString(QTime(hour, 0, 0), format).count(QLatin1Char(' ')));
    };
    m_timeBlanks = blanks(1);
    return blanks(13) == m_timeBlanks;
}

std::optional<int> StampReader::readTime(QStringView text) const
{
    int hour = -1;
    int minute = -1;
    int second = -1;
    int half = -1; // 0 am, 1 pm
    qsizetype pos = 0;
    for (const Token &token : m_time) {
        if (token.kind == Token::Literal) {
            if (!hasAt(text, pos, token.text))
                return std::nullopt;
            pos += token.text.size();
            continue;
        }
        if (token.kind == Token::AmPm) {
            // The longer text first, in case one begins with the other.
            const QStringView rest = text.mid(pos);
            const bool pmFirst = m_pm.size() > m_am.size();
            const QString &first = pmFirst ? m_pm : m_am;
            const QString &second = pmFirst ? m_am : m_pm;
            if (startsWithNoCase(rest, first)) {
                half = pmFirst ? 1 : 0;
                pos += first.size();
            } else if (startsWithNoCase(rest, second)) {
                half = pmFirst ? 0 : 1;
                pos += second.size();
            } else {
                return std::nullopt;
            }
            continue;
        }
        // Two digits for a doubled letter; one or two without a leading
        // zero for a single letter, as the writer produces them.
        int digits = 0;
        while (pos + digits < text.size() && digits < 2 && isAsciiDigit(text.at(pos + digits)))
            ++digits;
        if (digits == 0 || (token.width == 2 && digits != 2) ||
            (token.width == 1 && digits == 2 && text.at(pos) == QLatin1Char('0')))
            return std::nullopt;
        int value = text.at(pos).unicode() - '0';
        if (digits == 2)
            value = value * 10 + (text.at(pos + 1).unicode() - '0');
        pos += digits;
        int &field = token.kind == Token::Hour     ? hour
                     : token.kind == Token::Minute ? minute
                                                   : second;
        if (field >= 0)
            return std::nullopt;
        field = value;
    }
    if (pos != text.size() || hour < 0 || minute < 0 || second < 0 || minute > 59 || second > 59)
        return std::nullopt;
    if (m_twelveHour) {
        if (half < 0 || hour < 1 || hour > 12)
            return std::nullopt;
        hour = hour % 12 + (half == 1 ? 12 : 0);
    } else if (hour > 23) {
        return std::nullopt;
    }
    return ((hour * 60 + minute) * 60 + second) * 1000;
}

std::optional<qint64> StampReader::readDate(QStringView text)
{
    // Lines of one day follow each other: most stamps repeat the last date.
    if (m_lastDateMs && text == m_lastDate)
        return m_lastDateMs;
    const QString key = text.toString();
    const auto found = m_dates.constFind(key);
    if (found != m_dates.constEnd()) {
        if (*found == ClockChangeDate)
            return std::nullopt;
        m_lastDate = key;
        m_lastDateMs = *found;
        return *found;
    }
    // Only a date written exactly as the writer writes it is remembered;
    // anything else goes to the general parser with the whole stamp.
    const QDate date = m_locale.toDate(key, m_dateFormat);
    if (!date.isValid() || m_locale.toString(date, m_dateFormat) != key)
        return std::nullopt;
    if (m_dates.size() >= MaxCachedDates)
        m_dates.clear();
    // A time in the hour the clocks skip reads as no time at all; this
    // reader cannot tell, so the whole day is left to the general parser.
    if (QDateTime(date, QTime(0, 0)).offsetFromUtc() !=
        QDateTime(date.addDays(1), QTime(0, 0)).offsetFromUtc()) {
        m_dates.insert(key, ClockChangeDate);
        return std::nullopt;
    }
    const qint64 ms = TDTCalc::wallClockMs(date, QTime(0, 0));
    m_dates.insert(key, ms);
    m_lastDate = key;
    m_lastDateMs = ms;
    return ms;
}

std::optional<qint64> StampReader::readSlowly(QStringView stamp) const
{
    const auto when = TimeStamp::parse(stamp.toString(), m_locale);
    if (!when)
        return std::nullopt;
    return TDTCalc::wallClockMs(*when);
}

std::optional<qint64> StampReader::read(QStringView stamp)
{
    if (m_fast && !stamp.isEmpty() && !stamp.front().isSpace() && !stamp.back().isSpace()) {
        // The date ends at the blank before the time part's own blanks.
        qsizetype split = stamp.size();
        int seen = 0;
        while (split > 0) {
            --split;
            if (stamp.at(split) == QLatin1Char(' ') && ++seen > m_timeBlanks)
                break;
        }
        if (seen > m_timeBlanks && split > 0) {
            const auto time = readTime(stamp.mid(split + 1));
            if (time) {
                const auto date = readDate(stamp.left(split));
                // Midnight is written as the date alone, so a time part of
                // 00:00:00 is not what the writer produces: ask the general
                // parser about it.
                if (date && *time != 0)
                    return *date + *time;
            }
        }
    }
    return readSlowly(stamp);
}
