#pragma once

#include <QByteArray>
#include <QList>

// What a server offers in its EHLO reply: one extension on each line after
// the code, "250-STARTTLS", "250 AUTH LOGIN PLAIN" and the like.
class SmtpEhloReply {
public:
    // All the reply's lines, as they came.
    explicit SmtpEhloReply(const QByteArray &reply);

    // The keyword (in any letter case) begins one of the lines.
    bool offers(const QByteArray &keyword) const;

    // The login mechanisms the AUTH lines name, in capitals, each once, in
    // the order given: "250-AUTH LOGIN PLAIN" and the older
    // "250-AUTH=LOGIN PLAIN" alike, in any letter case. Anything that is no
    // mechanism name is passed over; at most MechanismsKept are kept.
    QList<QByteArray> logins() const;

    static constexpr qsizetype MechanismsKept = 16;

private:
    QList<QByteArray> m_lines; // each line's text after the code
};
