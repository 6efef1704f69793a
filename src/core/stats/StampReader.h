#pragma once

#include <QHash>
#include <QList>
#include <QLocale>
#include <QString>
#include <QStringView>

#include <optional>

// Reads time stamps back as wall-clock milliseconds (the TDTCalc scale),
// for readers that go through every line of large logs. The general parser
// (TimeStamp::parse) costs several microseconds a stamp; this one reads the
// time part with a small parser built from the locale's time format and
// remembers the dates it has seen, and hands anything it is not sure of to
// the general parser, so it never reads a stamp differently from it.
class StampReader {
public:
    explicit StampReader(const QLocale &locale = QLocale());

    // nullopt when the text is no time stamp for the locale.
    std::optional<qint64> read(QStringView stamp);

private:
    struct Token {
        enum Kind { Literal, Hour, Minute, Second, AmPm };
        Kind kind = Literal;
        int width = 0; // digits of a field: 1 (one or two digits) or 2
        QString text;  // literal text
    };

    bool buildTimeParser();
    std::optional<int> readTime(QStringView text) const; // milliseconds of the day
    std::optional<qint64> readDate(QStringView text);
    std::optional<qint64> readSlowly(QStringView stamp) const;

    QLocale m_locale;
    QString m_dateFormat;
    bool m_fast = false;
    bool m_twelveHour = false;
    int m_timeBlanks = 0; // blanks inside every time part the locale writes
    QList<Token> m_time;
    QString m_am;
    QString m_pm;
    QHash<QString, qint64> m_dates; // date text -> wall-clock ms of its midnight
    QString m_lastDate;
    std::optional<qint64> m_lastDateMs;
};
