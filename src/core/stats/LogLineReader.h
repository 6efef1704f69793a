#pragma once

#include "stats/LogRecord.h"

#include <QByteArray>
#include <QFile>
#include <QString>

// Reads a service log one line at a time, by the same rules as readLogLines
// (UTF-8, lines end in CR LF or LF, a final line without a line end counts,
// a leading byte order mark is dropped), so a report over a large log needs
// no more memory than one line. Where readLogLines refuses a line longer
// than the limit, this reader tells of it and goes on after it.
class LogLineReader {
public:
    // TooLong: the line was longer than the limit; its bytes are passed
    // over unread and the next call returns the line after it.
    enum Result { GotLine, AtEnd, TooLong, Failed };

    explicit LogLineReader(qsizetype maxLineLength = MaxLogLineLength);

    // False with a message in *error when the file cannot be opened.
    bool open(const QString &path, QString *error = nullptr);
    // The next line without its line end. A message in *error for TooLong
    // and Failed.
    Result next(QString &line, QString *error = nullptr);
    // 1-based number of the line last returned.
    qint64 lineNumber() const { return m_lineNumber; }

private:
    bool fill(QString *error);
    bool skipRestOfLine(QString *error);

    QFile m_file;
    // Read in large pieces; lines are cut from them here rather than one
    // buffered read each, which is half the cost of a report.
    QByteArray m_buffer;
    qsizetype m_pos = 0; // first byte not yet returned
    qsizetype m_end = 0; // end of the bytes read into m_buffer
    bool m_eof = false;
    qsizetype m_maxLineLength;
    qint64 m_lineNumber = 0;
};
