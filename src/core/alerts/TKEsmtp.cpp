#include "TKEsmtp.h"

#include "alerts/SmtpReplyBuffer.h"
#include "alerts/TBase64.h"
#include "base/Subs.h"
#include "engine/HostResolver.h"
#include "engine/net/HostLookup.h"
#include "engine/net/TlsHandshake.h"
#include "engine/SystemHostResolver.h"
#include "platform/TlsTrust.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QScopeGuard>
#include <QSslSocket>
#include <QTcpSocket>

namespace {

const QByteArray Crlf("\r\n");

// Message lines are sent in pieces of about this size, so a broken
// connection shows up while the message is still going out.
constexpr qsizetype SendPieceSize = 16 * 1024;

// SMTP's longest command line, CR LF included. An AUTH command whose initial
// response would make it longer sends the response after a 334 instead.
constexpr qsizetype CommandLineLimit = 512;

// At most this many login mechanisms of an EHLO reply are looked at.
constexpr qsizetype MechanismsKept = 16;

// A SASL mechanism name: 1 to 20 letters, digits, "-" or "_".
bool isMechanismName(const QByteArray &name)
{
    if (name.isEmpty() || name.size() > 20)
        return false;
    for (const char c : name) {
        if (!(c >= 'A' && c <= 'Z') && !(c >= 'a' && c <= 'z') && !(c >= '0' && c <= '9') &&
            c != '-' && c != '_')
            return false;
    }
    return true;
}

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

TKEsmtp::TKEsmtp(HostResolver *resolver, QObject *parent) : QObject(parent), m_resolver(resolver)
{
    if (!m_resolver) {
        m_ownResolver = std::make_unique<SystemHostResolver>();
        m_resolver = m_ownResolver.get();
    }
}

TKEsmtp::~TKEsmtp()
{
    delete m_socket;
}

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

bool TKEsmtp::waitFor(const std::function<bool()> &ready, QDeadlineTimer deadline)
{
    return m_wait.until(ready, deadline) == EventWait::End::Ready;
}

bool TKEsmtp::openConnection()
{
    if (m_port < 1 || m_port > 65535)
        return false;
    const QDeadlineTimer deadline(m_waits.connectMs);
    const auto addresses =
        lookUpHost(*m_resolver, m_hostAddress, DottedIPv4::Decimal, m_wait, deadline);
    if (!addresses)
        return false;
    const bool connected = connectToEach(*addresses, [&](const QHostAddress &address) {
        delete m_socket;
        // A secure mode needs a socket that can turn to TLS; the plain
        // dialogue keeps the plain socket it always had.
        m_socket = m_security == SecurityNone ? new QTcpSocket(this) : new QSslSocket(this);
        watchSocket();
        m_socket->connectToHost(address, quint16(m_port));
        waitFor(
            [this] {
                const auto state = m_socket->state();
                return state == QAbstractSocket::ConnectedState ||
                       state == QAbstractSocket::UnconnectedState;
            },
            deadline);
        if (m_socket->state() == QAbstractSocket::ConnectedState)
            return ConnectAttempt::Connected;
        m_socket->abort();
        return deadline.hasExpired() ? ConnectAttempt::GiveUp : ConnectAttempt::Failed;
    });
    if (connected)
        return true;
    delete m_socket;
    m_socket = nullptr;
    return false;
}

// Every change of the socket may be what a wait waits for.
void TKEsmtp::watchSocket()
{
    const auto wake = [this] { m_wait.wake(); };
    connect(m_socket, &QIODevice::bytesWritten, this, [this](qint64 written) {
        m_unwritten -= written;
        m_wait.wake();
    });
    connect(m_socket, &QIODevice::readyRead, this, wake);
    connect(m_socket, &QAbstractSocket::stateChanged, this, wake);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, wake);
    if (auto *ssl = qobject_cast<QSslSocket *>(m_socket))
        connect(ssl, &QSslSocket::encrypted, this, wake);
}

void TKEsmtp::sendBytes(const QByteArray &bytes)
{
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        throw SmtpError(QStringLiteral("The connection to the SMTP server is closed."));
    m_unwritten = bytes.size();
    if (m_socket->write(bytes) != bytes.size())
        throw SmtpError(
            QStringLiteral("Sending to the SMTP server failed: %1").arg(m_socket->errorString()));
    const bool sent = waitFor(
        [this] { return m_unwritten <= 0 || m_socket->state() != QAbstractSocket::ConnectedState; },
        QDeadlineTimer(m_waits.sendMs));
    if (m_unwritten <= 0)
        return;
    if (!sent)
        throw SmtpError(QStringLiteral("The SMTP server does not take what is sent to it."));
    throw SmtpError(
        QStringLiteral("The connection to the SMTP server broke: %1").arg(m_socket->errorString()));
}

QString TKEsmtp::ReadReply()
{
    m_replyComplete = false;
    m_replyBytes.clear();
    if (!m_socket)
        return QString();
    const QDeadlineTimer total(m_waits.replyTotalMs);
    const auto input = [this] {
        return m_socket->bytesAvailable() > 0 ||
               m_socket->state() != QAbstractSocket::ConnectedState;
    };

    if (!waitFor(input, sooner(total, m_waits.firstDataMs))) {
        // One more chance; whatever comes now is not a reply we can use.
        if (waitFor(input, sooner(total, m_waits.extraTryMs)) && m_socket->bytesAvailable() > 0)
            m_socket->read(2);
        else
            m_socket->abort();
        return QString();
    }

    SmtpReplyBuffer reply;
    const auto keepLines = qScopeGuard([&] { m_replyBytes = reply.bytes(); });
    for (;;) {
        // Only the bytes the reply takes are consumed; what follows it stays
        // for the next one.
        while (m_socket->bytesAvailable() > 0) {
            const QByteArray ahead = m_socket->peek(
                qMin(m_socket->bytesAvailable(), SmtpReplyBuffer::Limit - reply.size()));
            qsizetype taken = 0;
            while (taken < ahead.size() && !reply.complete() && !reply.full())
                taken += reply.take(QByteArrayView(ahead).sliced(taken));
            m_socket->skip(taken);
            if (reply.complete()) {
                m_replyComplete = true;
                return reply.lastLine();
            }
            if (reply.full())
                return reply.lastLine();
        }
        if (m_socket->state() != QAbstractSocket::ConnectedState) {
            // The server's orderly close leaves what it sent; any other
            // socket error leaves nothing usable.
            if (m_socket->error() != QAbstractSocket::RemoteHostClosedError &&
                m_socket->error() != QAbstractSocket::UnknownSocketError)
                return QString();
            return reply.lastLine();
        }
        if (!waitFor(input, sooner(total, m_waits.readMs)))
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

void TKEsmtp::quit()
{
    try {
        sendBytes(QByteArray("QUIT") + Crlf);
    } catch (const SmtpError &) {
        // The server may be gone already; the connection is closed anyway.
    }
    if (m_socket) {
        m_socket->disconnectFromHost();
        m_socket->abort();
    }
}

// The handshake on the open connection, verified against TlsTrust with the
// server's name as SNI. On failure the connection is dropped (no QUIT: it
// is no longer usable) and `reply` says why.
bool TKEsmtp::startTls(QString &reply)
{
    const QString prefix = QStringLiteral("TLS failure with the SMTP server: ");
    auto *ssl = qobject_cast<QSslSocket *>(m_socket);
    if (!ssl || !TlsTrust::available()) {
        reply = prefix + TlsTrust::unavailableText();
        m_socket->abort();
        return false;
    }
    const TlsHandshake handshake(*ssl, m_hostAddress, [this] { m_wait.wake(); });
    const bool done = waitFor(
        [&] { return handshake.encrypted() || ssl->state() != QAbstractSocket::ConnectedState; },
        QDeadlineTimer(m_waits.connectMs));
    if (handshake.encrypted())
        return true;
    if (!done)
        reply = prefix + QStringLiteral("the TLS handshake did not finish within %1 s")
                             .arg((m_waits.connectMs + 500) / 1000);
    else if (handshake.closedByPeer())
        reply =
            prefix + QStringLiteral("the server closed the connection during the TLS handshake");
    else
        reply = prefix + handshake.failureReason();
    m_socket->abort();
    return false;
}

// "STARTTLS" among the keywords of the last (EHLO) reply.
bool TKEsmtp::offersStartTls() const
{
    for (QByteArray line : m_replyBytes.split('\n')) {
        line = line.trimmed();
        if (line.size() < 4 || (line.at(3) != '-' && line.at(3) != ' '))
            continue;
        const QByteArray keyword = line.mid(4).trimmed().split(' ').value(0);
        if (keyword.compare("STARTTLS", Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// The login mechanisms that the AUTH keywords of the last (EHLO) reply name,
// in capitals, each once, in the order given: "250-AUTH LOGIN PLAIN" and the
// older "250-AUTH=LOGIN PLAIN" alike, in any letter case. Anything that is no
// mechanism name is passed over.
QList<QByteArray> TKEsmtp::offeredLogins() const
{
    QList<QByteArray> names;
    for (QByteArray line : m_replyBytes.split('\n')) {
        line = line.trimmed();
        if (line.size() < 4 || (line.at(3) != '-' && line.at(3) != ' '))
            continue;
        const QByteArray text = line.mid(4).simplified();
        if (text.size() < 5 || (text.at(4) != ' ' && text.at(4) != '=') ||
            text.first(4).compare("AUTH", Qt::CaseInsensitive) != 0)
            continue;
        for (const QByteArray &name : text.mid(5).split(' ')) {
            const QByteArray upper = name.toUpper();
            if (isMechanismName(upper) && !names.contains(upper) && names.size() < MechanismsKept)
                names.append(upper);
        }
    }
    return names;
}

// AUTH LOGIN when the server offers it or names no mechanism at all, else
// AUTH PLAIN (RFC 4616) with the credentials as its initial response.
// Neither: nothing is sent and `reply` names what the server offers.
bool TKEsmtp::authenticate(QString &reply)
{
    const QList<QByteArray> offered = offeredLogins();
    if (offered.isEmpty() || offered.contains("LOGIN"))
        return command("AUTH LOGIN", "334", reply) &&
               command(TBase64::encoded(m_user.toUtf8()), "334", reply) &&
               command(TBase64::encoded(m_password.toUtf8()), "235", reply);
    if (offered.contains("PLAIN")) {
        const QByteArray response =
            TBase64::encoded('\0' + m_user.toUtf8() + '\0' + m_password.toUtf8());
        const QByteArray line = "AUTH PLAIN " + response;
        if (line.size() + Crlf.size() <= CommandLineLimit)
            return command(line, "235", reply);
        return command("AUTH PLAIN", "334", reply) && command(response, "235", reply);
    }
    reply = QStringLiteral("The SMTP server offers no login this program can use (it offers: "
                           "%1); the message was not sent.")
                .arg(QString::fromLatin1(offered.join(' ')));
    return false;
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
    if (!openConnection())
        return false;
    if (m_security == SecuritySslTls && !startTls(reply))
        return false;

    const QByteArray helo = (m_heloName.isEmpty() ? LocalHostName() : m_heloName).toUtf8();
    bool accepted = false;
    try {
        reply = ReadReply();
        bool ok = m_replyComplete && reply.left(3) == QLatin1String("220");
        if (ok && m_security == SecurityStartTls) {
            ok = command("EHLO " + helo, "250", reply);
            if (ok && !offersStartTls()) {
                reply = QStringLiteral(
                    "The SMTP server does not offer STARTTLS; the message was not sent.");
                quit();
                return false;
            }
            if (ok && !command("STARTTLS", "220", reply)) {
                if (m_replyComplete)
                    reply = QStringLiteral("The SMTP server refused STARTTLS: ") + reply;
                quit();
                return false;
            }
            if (ok && m_socket->bytesAvailable() > 0) {
                // Bytes sent in clear after the 220 would be taken for the
                // first reply inside TLS.
                reply = QStringLiteral("The SMTP server sent more after its STARTTLS answer; the "
                                       "message was not sent.");
                m_socket->abort();
                return false;
            }
            if (ok && !startTls(reply))
                return false;
            // What the server offered in clear no longer counts: the login
            // is chosen from the EHLO reply inside TLS.
            ok = ok && command("EHLO " + helo, "250", reply);
            if (ok && m_requireAuthentication)
                ok = authenticate(reply);
        } else if (ok && m_requireAuthentication) {
            ok = command("EHLO " + helo, "250", reply) && authenticate(reply);
        } else if (ok) {
            ok = command("HELO " + helo, "250", reply);
        }
        ok = ok && command("MAIL FROM:<" + m_from.toUtf8() + '>', "250", reply);
        for (qsizetype i = 0; ok && i < m_sendTo.size(); ++i)
            ok = command("RCPT TO:<" + m_sendTo.at(i).toUtf8() + '>', "250", reply);
        ok = ok && command("DATA", "354", reply);
        if (ok) {
            sendMessage();
            accepted = command(".", "250", reply);
        }
    } catch (const SmtpError &) {
        m_socket->abort();
        throw;
    }
    quit();
    return accepted;
}
