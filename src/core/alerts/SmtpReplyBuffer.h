#pragma once

#include "engine/net/BoundedReader.h"
#include "engine/net/InputBounds.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Gathers one SMTP reply from the bytes as they arrive. It takes the input a
// line at a time, so a complete reply never swallows bytes that follow it,
// and never holds more than Limit bytes. No I/O: the connection hands it
// what arrived (ClientConnection::readInto), and only what it took is
// consumed.
class SmtpReplyBuffer final : public BoundedReader {
public:
    // A reply that grows beyond this is cut off and taken as unusable.
    static constexpr qsizetype Limit = InputBounds::SmtpReply;

    // Appends the front of `ahead` up to and including its first LF (all of
    // it when there is none), bounded by the room left. Returns the number of
    // bytes appended. Takes nothing once the reply is complete or full.
    qsizetype take(QByteArrayView ahead) override;
    bool over() const override { return complete() || full(); }
    qsizetype room() const override { return Limit - m_bytes.size(); }

    // The last line ends in CR LF and is a final line: its first blank is
    // the 4th character. A continuation line ("250-...") keeps it open.
    bool complete() const;
    bool full() const { return m_bytes.size() >= Limit; }
    QByteArray bytes() const { return m_bytes; }
    qsizetype size() const { return m_bytes.size(); }

    // The last line as a text list sees it: CR LF, a lone LF and a lone CR
    // each end a line, and a break at the very end adds no empty line.
    QByteArray lastLineBytes() const;
    QString lastLine() const { return QString::fromUtf8(lastLineBytes()); }

private:
    QByteArray m_bytes;
};
