#pragma once

#include "alerts/SmtpReplyBuffer.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <stdexcept>

class ClientConnection;
class HostResolver;

// The connection broke while a command or the message was being sent.
// what() is UTF-8.
class SmtpError : public std::runtime_error {
public:
    explicit SmtpError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};

// Every wait of the client, in milliseconds; tests shorten them.
struct SmtpWaits {
    int connectMs = 60000;   // name lookup and connection together
    int firstDataMs = 90000; // for the first byte of a reply
    int extraTryMs = 90000;  // one more chance when the first wait saw nothing
    int readMs = 5000;       // silence after part of a reply ends that reply
    // No reply takes longer than this in all, however slowly it trickles in;
    // the default is the two 90 s waits together.
    int replyTotalMs = 180000;
    int sendMs = 60000; // for a command or a piece of the message to leave
};

// A small SMTP client that sends one finished message: greeting, HELO (or
// EHLO and a login), MAIL FROM, one RCPT TO per recipient, DATA with the
// lines dot-stuffed, the end marker and QUIT. It adds nothing to the message.
//
// The login follows the AUTH mechanisms of the EHLO reply: AUTH LOGIN (user
// name, then password, each in Base64) when the server offers it or names
// none, else AUTH PLAIN; a server that offers neither gets no credentials
// and the mail is not sent.
//
// Security: SecurityNone is the plain dialogue above. SecuritySslTls runs
// the same dialogue inside TLS begun at the connect. SecurityStartTls reads
// the greeting, sends EHLO, needs "STARTTLS" among the EHLO reply's keywords
// and a 220 to the STARTTLS command, performs the handshake and sends EHLO
// again, then the login (when required, chosen from that second EHLO reply)
// and the rest. In both secure modes the server's certificate and name are
// verified (TlsTrust) and nothing but EHLO and STARTTLS ever crosses in
// clear: no credentials, no addresses.
//
// It works on the caller's thread over a ClientConnection, whose every wait
// runs a local event loop that wakes on socket events, so the windows stay
// responsive while a message is sent. The login is SmtpLogin's.
class TKEsmtp : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString From READ From WRITE setFrom)
    Q_PROPERTY(QString HostAddress READ HostAddress WRITE setHostAddress)
    Q_PROPERTY(QStringList OutMessage READ OutMessage WRITE setOutMessage)
    Q_PROPERTY(QString Password READ Password WRITE setPassword)
    Q_PROPERTY(int Port READ Port WRITE setPort)
    Q_PROPERTY(bool RequireAuthentication READ RequireAuthentication WRITE setRequireAuthentication)
    Q_PROPERTY(int Security READ Security WRITE setSecurity)
    Q_PROPERTY(QStringList SendTo READ SendTo WRITE setSendTo)
    Q_PROPERTY(QString User READ User WRITE setUser)

public:
    static constexpr int DefaultPort = 25;
    // The values of Security, as the settings store keeps them.
    enum : int { SecurityNone = 0, SecurityStartTls = 1, SecuritySslTls = 2 };
    // A reply that grows beyond this is cut off and taken as unusable.
    static constexpr qsizetype ReplyLimit = SmtpReplyBuffer::Limit;

    // A null resolver means the platform's own name resolution.
    explicit TKEsmtp(HostResolver *resolver = nullptr, QObject *parent = nullptr);
    ~TKEsmtp() override;

    QString From() const { return m_from; }
    void setFrom(const QString &from) { m_from = from; }
    // A dotted IPv4 address is used as it is; anything else is a host name.
    QString HostAddress() const { return m_hostAddress; }
    void setHostAddress(const QString &host) { m_hostAddress = host; }
    // The message lines as UTF-8 text; the raw bytes are sent as they are.
    QStringList OutMessage() const;
    void setOutMessage(const QStringList &lines);
    QList<QByteArray> OutMessageBytes() const { return m_outMessage; }
    void setOutMessageBytes(const QList<QByteArray> &lines) { m_outMessage = lines; }
    QString Password() const { return m_password; }
    void setPassword(const QString &password) { m_password = password; }
    int Port() const { return m_port; }
    void setPort(int port) { m_port = port; }
    bool RequireAuthentication() const { return m_requireAuthentication; }
    void setRequireAuthentication(bool on) { m_requireAuthentication = on; }
    int Security() const { return m_security; }
    void setSecurity(int security) { m_security = security; }
    QStringList SendTo() const { return m_sendTo; }
    void setSendTo(const QStringList &recipients) { m_sendTo = recipients; }
    QString User() const { return m_user; }
    void setUser(const QString &user) { m_user = user; }

    // The name given with HELO/EHLO; empty means LocalHostName().
    QString heloName() const { return m_heloName; }
    void setHeloName(const QString &name) { m_heloName = name; }

    SmtpWaits waits() const { return m_waits; }
    void setWaits(const SmtpWaits &waits) { m_waits = waits; }

    // Runs the whole dialogue. True only when the server accepted the
    // message. `reply` gets the last reply line read; it is left as it was
    // when no connection could be opened. A sender, recipient, user name,
    // password, HELO name or message line that could smuggle in a command
    // (CR, LF, or NUL outside the message) is refused before connecting:
    // false, with `reply` saying which value; so is a Security value other
    // than the three known ones. In a secure mode a TLS failure gives false
    // with `reply` "TLS failure with the SMTP server: " and the reason, and a
    // server without STARTTLS gives false with a reply saying so, and so does
    // a server that offers neither AUTH LOGIN nor AUTH PLAIN. Throws
    // SmtpError when the connection breaks while sending.
    bool SendMail(QString &reply);

    // Reads one complete reply and gives back its last line; empty when
    // nothing usable arrived. Never throws.
    QString ReadReply();
    // Whether the last ReadReply saw a final line ending in CR LF.
    bool lastReplyComplete() const { return m_replyComplete; }

    // This machine's name as the system reports it; empty when unknown.
    static QString LocalHostName();

private:
    QString refusedValue() const;
    bool dialogue(const QByteArray &helo, QString &reply);
    bool greet(const QByteArray &helo, QString &reply);
    bool startTlsDialogue(const QByteArray &helo, QString &reply);
    bool logIn(QString &reply);
    void sendBytes(const QByteArray &bytes);
    bool command(const QByteArray &line, const char *code, QString &reply);
    void sendMessage();
    void quit();

    QString m_from;
    QString m_hostAddress;
    QList<QByteArray> m_outMessage;
    QString m_password;
    int m_port = DefaultPort;
    bool m_requireAuthentication = false;
    int m_security = SecurityNone;
    QStringList m_sendTo;
    QString m_user;
    QString m_heloName;
    SmtpWaits m_waits;

    std::unique_ptr<HostResolver> m_ownResolver;
    std::unique_ptr<ClientConnection> m_connection;
    bool m_replyComplete = false;
    QByteArray m_replyBytes; // every line of the last reply
};
