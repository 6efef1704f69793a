#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class SmtpEhloReply;

// The login of the mail client, chosen from what the EHLO reply offers:
// AUTH LOGIN (user name, then password, each in Base64) when the server
// offers it or names no mechanism at all, else AUTH PLAIN (RFC 4616) with
// the credentials as its initial response. A server that offers neither
// gets no credentials.
class SmtpLogin {
public:
    // Sends one command line (without CR LF) and reads the reply into
    // `reply`; true when the reply is complete and begins with `code`.
    using Command = std::function<bool(const QByteArray &line, const char *code, QString &reply)>;

    // SMTP's longest command line, CR LF included. An AUTH PLAIN whose
    // initial response would make it longer sends the response after a 334.
    static constexpr qsizetype CommandLineLimit = 512;

    SmtpLogin(const QString &user, const QString &password) : m_user(user), m_password(password) {}

    // True when the server took the credentials. When it offers no login
    // this client can use, nothing is sent and `reply` names what it offers.
    bool run(const SmtpEhloReply &offer, const Command &command, QString &reply) const;

private:
    QString m_user;
    QString m_password;
};
