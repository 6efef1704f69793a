#include "TKEsmtp.h"

#include "alerts/SmtpEhloReply.h"
#include "alerts/SmtpLogin.h"
#include "alerts/SmtpReplyBuffer.h"
#include "engine/net/ClientConnection.h"
#include "engine/SystemHostResolver.h"

#include <QDeadlineTimer>
#include <QHostInfo>
#include <QScopeGuard>

namespace {

const QByteArray Crlf("\r\n");

// Message lines are sent in pieces of about this size, so a broken
// connection shows up while the message is still going out.
constexpr qsizetype SendPieceSize = 16 * 1024;

bool holdsLineBreakOrNul(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) ||
           text.contains(QChar(0));
}

QDeadlineTimer sooner(QDeadlineTimer deadline, int ms)
{
    const QDeadlineTimer other(qMax(ms, 0));
    return other < deadline ? other : deadline;
}

} // namespace

TKEsmtp::TKEsmtp(HostResolver *resolver, QObject *parent) : QObject(parent)
{
    if (!resolver) {
        m_ownResolver = std::make_unique<SystemHostResolver>();
        resolver = m_ownResolver.get();
    }
    m_connection = std::make_unique<ClientConnection>(*resolver, QStringLiteral("SMTP server"));
}

TKEsmtp::~TKEsmtp() = default;

QStringList TKEsmtp::OutMessage() const
{
    QStringList lines;
    lines.reserve(m_outMessage.size());
    for (const QByteArray &line : m_outMessage)
        lines.append(QString::fromUtf8(line));
    return lines;
}

void TKEsmtp::setOutMessage(const QStringList &lines)
{
    m_outMessage.clear();
    m_outMessage.reserve(lines.size());
    for (const QString &line : lines)
        m_outMessage.append(line.toUtf8());
}

QString TKEsmtp::LocalHostName()
{
    return QHostInfo::localHostName();
}

QString TKEsmtp::refusedValue() const
{
    const QString tail = QStringLiteral(" holds a carriage return, line feed or NUL character; "
                                        "nothing was sent.");
    if (holdsLineBreakOrNul(m_from))
        return QStringLiteral("The sender address") + tail;
    for (qsizetype i = 0; i < m_sendTo.size(); ++i) {
        if (holdsLineBreakOrNul(m_sendTo.at(i)))
            return QStringLiteral("Recipient %1").arg(i + 1) + tail;
    }
    if (m_requireAuthentication) {
        if (holdsLineBreakOrNul(m_user))
            return QStringLiteral("The user name") + tail;
        if (holdsLineBreakOrNul(m_password))
            return QStringLiteral("The password") + tail;
    }
    const QString helo = m_heloName.isEmpty() ? LocalHostName() : m_heloName;
    if (holdsLineBreakOrNul(helo))
        return QStringLiteral("The local host name") + tail;
    for (qsizetype i = 0; i < m_outMessage.size(); ++i) {
        const QByteArray &line = m_outMessage.at(i);
        if (line.contains('\r') || line.contains('\n'))
            return QStringLiteral("Message line %1 holds a carriage return or line feed; "
                                  "nothing was sent.")
                .arg(i + 1);
    }
    return QString();
}

void TKEsmtp::sendBytes(const QByteArray &bytes)
{
    const QString failure = m_connection->send(bytes, m_waits.sendMs);
    if (!failure.isEmpty())
        throw SmtpError(failure);
}

QString TKEsmtp::ReadReply()
{
    m_replyComplete = false;
    m_replyBytes.clear();
    ClientConnection &connection = *m_connection;
    if (!connection.made())
        return QString();
    const QDeadlineTimer total(m_waits.replyTotalMs);
    if (!connection.waitForInput(sooner(total, m_waits.firstDataMs))) {
        // One more chance; whatever comes now is not a reply we can use.
        if (connection.waitForInput(sooner(total, m_waits.extraTryMs)) &&
            connection.bytesAvailable() > 0)
            connection.read(2);
        else
            connection.abort();
        return QString();
    }

    SmtpReplyBuffer reply;
    const auto keepLines = qScopeGuard([&] { m_replyBytes = reply.bytes(); });
    for (;;) {
        // Only the bytes the reply takes are consumed; what follows it stays
        // for the next one.
        if (connection.readInto(reply)) {
            m_replyComplete = reply.complete();
            return reply.lastLine();
        }
        // The server's orderly close leaves what it sent; any other socket
        // error leaves nothing usable.
        if (!connection.isConnected())
            return connection.endedInOrder() ? reply.lastLine() : QString();
        if (!connection.waitForInput(sooner(total, m_waits.readMs)))
            return reply.lastLine();
    }
}

bool TKEsmtp::command(const QByteArray &line, const char *code, QString &reply)
{
    sendBytes(line + Crlf);
    reply = ReadReply();
    return m_replyComplete && reply.left(3) == QLatin1String(code);
}

void TKEsmtp::sendMessage()
{
    QByteArray piece;
    for (const QByteArray &line : std::as_const(m_outMessage)) {
        if (line.startsWith('.'))
            piece += '.';
        piece += line;
        piece += Crlf;
        if (piece.size() >= SendPieceSize) {
            sendBytes(piece);
            piece.clear();
        }
    }
    if (!piece.isEmpty())
        sendBytes(piece);
}

// Sends nothing once the connection is closed.
void TKEsmtp::quit()
{
    // The server may be gone already; the connection is closed anyway.
    m_connection->send(QByteArray("QUIT") + Crlf, m_waits.sendMs);
    m_connection->close();
}

bool TKEsmtp::logIn(QString &reply)
{
    const SmtpLogin login(m_user, m_password);
    return login.run(
        SmtpEhloReply(m_replyBytes),
        [this](const QByteArray &line, const char *code, QString &answer) {
            return command(line, code, answer);
        },
        reply);
}

// In clear: EHLO, which must offer STARTTLS, and STARTTLS, which must get a
// 220 and nothing after it; then the handshake. False, with `reply` saying
// why, when the dialogue cannot go on inside TLS.
bool TKEsmtp::startTlsDialogue(const QByteArray &helo, QString &reply)
{
    if (!command("EHLO " + helo, "250", reply))
        return false;
    if (!SmtpEhloReply(m_replyBytes).offers("STARTTLS")) {
        reply = QStringLiteral("The SMTP server does not offer STARTTLS; the message was not sent.");
        return false;
    }
    if (!command("STARTTLS", "220", reply)) {
        if (m_replyComplete)
            reply = QStringLiteral("The SMTP server refused STARTTLS: ") + reply;
        return false;
    }
    if (m_connection->bytesAvailable() > 0) {
        // Bytes sent in clear after the 220 would be taken for the first
        // reply inside TLS.
        reply = QStringLiteral("The SMTP server sent more after its STARTTLS answer; the "
                               "message was not sent.");
        m_connection->abort();
        return false;
    }
    if (m_connection->startTls(m_waits.connectMs))
        return true;
    reply = m_connection->failure();
    return false;
}

// The greeting, then HELO, or EHLO and the login.
bool TKEsmtp::greet(const QByteArray &helo, QString &reply)
{
    reply = ReadReply();
    if (!m_replyComplete || reply.left(3) != QLatin1String("220"))
        return false;
    if (m_security == SecurityStartTls) {
        // What the server offered in clear no longer counts: the login is
        // chosen from the EHLO reply inside TLS.
        return startTlsDialogue(helo, reply) && command("EHLO " + helo, "250", reply) &&
               (!m_requireAuthentication || logIn(reply));
    }
    if (m_requireAuthentication)
        return command("EHLO " + helo, "250", reply) && logIn(reply);
    return command("HELO " + helo, "250", reply);
}

bool TKEsmtp::dialogue(const QByteArray &helo, QString &reply)
{
    bool ok = greet(helo, reply) && command("MAIL FROM:<" + m_from.toUtf8() + '>', "250", reply);
    for (qsizetype i = 0; ok && i < m_sendTo.size(); ++i)
        ok = command("RCPT TO:<" + m_sendTo.at(i).toUtf8() + '>', "250", reply);
    if (!ok || !command("DATA", "354", reply))
        return false;
    sendMessage();
    return command(".", "250", reply);
}

bool TKEsmtp::SendMail(QString &reply)
{
    const QString refused = refusedValue();
    if (!refused.isEmpty()) {
        reply = refused;
        return false;
    }
    if (m_security != SecurityNone && m_security != SecurityStartTls &&
        m_security != SecuritySslTls) {
        // Falling back to the plain dialogue could send the password in clear.
        reply =
            QStringLiteral("Unknown SMTP security setting %1; nothing was sent.").arg(m_security);
        return false;
    }
    const ClientConnection::Tls tls = m_security == SecurityNone ? ClientConnection::Tls::Never
                                      : m_security == SecurityStartTls
                                          ? ClientConnection::Tls::Later
                                          : ClientConnection::Tls::AtOnce;
    if (!m_connection->open(m_hostAddress, m_port, DottedIPv4::Decimal, tls, m_waits.connectMs)) {
        // No connection: `reply` is left as it was; a failed handshake says so.
        if (!m_connection->failure().isEmpty())
            reply = m_connection->failure();
        return false;
    }

    const QByteArray helo = (m_heloName.isEmpty() ? LocalHostName() : m_heloName).toUtf8();
    bool accepted = false;
    try {
        accepted = dialogue(helo, reply);
    } catch (const SmtpError &) {
        m_connection->abort();
        throw;
    }
    // After a failed handshake or a STARTTLS refusal the connection is
    // closed already and this sends nothing.
    quit();
    return accepted;
}
