#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <optional>

// The time stamp that begins every status line, log record and stored
// failure or recovery time: the locale's short date with a four-digit year,
// one blank and the locale's time with seconds but without a zone name; at
// midnight to the second only the date. Writer and reader use the same
// formats, so every stamp written reads back to the same second.
class TimeStamp {
public:
    // Local date and time of `when` as a stamp; empty for an invalid moment.
    static QString format(const QDateTime &when, const QLocale &locale = QLocale());

    // The local date and time a stamp stands for; a date alone is midnight.
    // The whole text must be a stamp: no surrounding blanks, nothing after.
    static std::optional<QDateTime> parse(const QString &text, const QLocale &locale = QLocale());

    // The locale's short date format with every year field made four digits.
    static QString dateFormat(const QLocale &locale = QLocale());
    // The locale's long time format without its zone field.
    static QString timeFormat(const QLocale &locale = QLocale());

    // Used instead of the locale's formats in the unlikely case that they
    // would produce ": ", which readers take as the end of the stamp.
    static QString fallbackDateFormat() { return QStringLiteral("yyyy-MM-dd"); }
    static QString fallbackTimeFormat() { return QStringLiteral("HH:mm:ss"); }
};
