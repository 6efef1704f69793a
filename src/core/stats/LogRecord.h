#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <optional>

// One line of a service log as the statistics read it.
struct LogRecord {
    enum Kind { Start, WentOnError, CameOffError };
    Kind kind = Start;
    QDateTime when;
};

// Service log lines are a few dozen bytes; anything near this is not a log.
constexpr qsizetype MaxLogLineLength = 4096;

// The stamp is the text before the line's first ": ". After it, "on error"
// marks a went-on-error record and "off error" a came-off-error record; any
// other line only carries its stamp. nullopt, with a message naming the
// stamp in *error, when the stamp cannot be read.
std::optional<LogRecord> parseLogLine(const QString &line, const QLocale &locale = QLocale(),
                                      QString *error = nullptr);

// Reads a log's lines (UTF-8, split at CR LF or LF, a final line without a
// line end included, a leading byte order mark dropped). Refuses a line
// longer than maxLineLength bytes instead of reading without bound. On
// failure returns false with a message in *error.
bool readLogLines(const QString &path, QStringList &lines, QString *error = nullptr,
                  qsizetype maxLineLength = MaxLogLineLength);
