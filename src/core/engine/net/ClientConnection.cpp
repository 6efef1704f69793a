#include "ClientConnection.h"

#include "engine/net/BoundedReader.h"
#include "engine/net/TlsHandshake.h"
#include "platform/TlsTrust.h"

#include <QSslSocket>
#include <QTcpSocket>

ClientConnection::ClientConnection(HostResolver &resolver, const QString &peer)
    : m_resolver(resolver), m_peer(peer)
{
}

ClientConnection::~ClientConnection() = default;

void ClientConnection::setAbortCheck(std::function<bool()> aborted)
{
    m_aborted = std::move(aborted);
    // Without a check every wake comes from the socket or the deadline.
    m_wait.setCheckEveryMs(m_aborted ? AbortCheckMs : -1);
}

bool ClientConnection::waitFor(const std::function<bool()> &ready, QDeadlineTimer deadline)
{
    return m_wait.until(ready, deadline, [this] { return checkAbort(); }) == EventWait::End::Ready;
}

bool ClientConnection::checkAbort()
{
    m_wasAborted = m_aborted && m_aborted();
    return m_wasAborted;
}

bool ClientConnection::open(const QString &host, int port, DottedIPv4 reading, Tls tls,
                            int connectMs)
{
    m_failure.clear();
    m_wasAborted = false;
    m_socket.reset();
    m_host = host;
    m_tls = tls;
    if (port < 1 || port > 65535)
        return false;
    const QDeadlineTimer deadline(connectMs);
    const auto addresses =
        lookUpHost(m_resolver, host, reading, m_wait, deadline, [this] { return checkAbort(); });
    if (!addresses)
        return false;
    const bool connected = connectToEach(*addresses, [&](const QHostAddress &address) {
        if (connectTo(address, quint16(port), deadline))
            return ConnectAttempt::Connected;
        return deadline.hasExpired() || m_wasAborted ? ConnectAttempt::GiveUp
                                                     : ConnectAttempt::Failed;
    });
    if (!connected) {
        m_socket.reset();
        return false;
    }
    return tls != Tls::AtOnce || startTls(connectMs);
}

bool ClientConnection::connectTo(const QHostAddress &address, quint16 port,
                                 QDeadlineTimer deadline)
{
    // A connection that may turn to TLS needs a socket that can; a plain
    // one keeps the plain socket.
    if (m_tls == Tls::Never)
        m_socket = std::make_unique<QTcpSocket>();
    else
        m_socket = std::make_unique<QSslSocket>();
    m_socket->setReadBufferSize(InputLimit);
    watchSocket();
    m_socket->connectToHost(address, port);
    waitFor(
        [this] {
            const auto state = m_socket->state();
            return state == QAbstractSocket::ConnectedState ||
                   state == QAbstractSocket::UnconnectedState;
        },
        deadline);
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        return true;
    m_socket->abort();
    return false;
}

// Every change of the socket may be what a wait waits for.
void ClientConnection::watchSocket()
{
    QTcpSocket *socket = m_socket.get();
    const auto wake = [this] { m_wait.wake(); };
    QObject::connect(socket, &QIODevice::bytesWritten, socket, [this](qint64 written) {
        m_unwritten -= written;
        m_wait.wake();
    });
    QObject::connect(socket, &QIODevice::readyRead, socket, wake);
    QObject::connect(socket, &QAbstractSocket::stateChanged, socket, wake);
    QObject::connect(socket, &QAbstractSocket::errorOccurred, socket, wake);
    if (auto *ssl = qobject_cast<QSslSocket *>(socket))
        QObject::connect(ssl, &QSslSocket::encrypted, socket, wake);
}

// On failure the connection is dropped (it is no longer usable).
bool ClientConnection::startTls(int ms)
{
    m_failure.clear();
    m_wasAborted = false;
    auto *ssl = qobject_cast<QSslSocket *>(m_socket.get());
    if (!ssl || !TlsTrust::available()) {
        m_failure = handshakeFailure(true, false, TlsTrust::unavailableText(), ms);
        abort();
        return false;
    }
    const TlsHandshake handshake(*ssl, m_host, [this] { m_wait.wake(); });
    const bool finished = waitFor(
        [&] { return handshake.encrypted() || ssl->state() != QAbstractSocket::ConnectedState; },
        QDeadlineTimer(ms));
    if (handshake.encrypted())
        return true;
    if (!m_wasAborted)
        m_failure = handshakeFailure(finished, handshake.closedByPeer(),
                                     finished ? handshake.failureReason() : QString(), ms);
    abort();
    return false;
}

QString ClientConnection::handshakeFailure(bool finished, bool closedByPeer, const QString &reason,
                                           int ms) const
{
    const QString prefix = QStringLiteral("TLS failure with the %1: ").arg(m_peer);
    if (!finished)
        return prefix + QStringLiteral("the TLS handshake did not finish within %1 s")
                            .arg((ms + 500) / 1000);
    if (closedByPeer)
        return prefix +
               QStringLiteral("the server closed the connection during the TLS handshake");
    return prefix + reason;
}

QString ClientConnection::send(const QByteArray &bytes, int ms)
{
    m_wasAborted = false;
    if (!isConnected())
        return QStringLiteral("The connection to the %1 is closed.").arg(m_peer);
    m_unwritten = bytes.size();
    if (m_socket->write(bytes) != bytes.size())
        return QStringLiteral("Sending to the %1 failed: %2").arg(m_peer, m_socket->errorString());
    const bool sent = waitFor(
        [this] { return m_unwritten <= 0 || !isConnected(); }, QDeadlineTimer(ms));
    if (m_unwritten <= 0)
        return QString();
    if (m_wasAborted)
        return QStringLiteral("Sending to the %1 was stopped.").arg(m_peer);
    if (!sent)
        return QStringLiteral("The %1 does not take what is sent to it.").arg(m_peer);
    return QStringLiteral("The connection to the %1 broke: %2")
        .arg(m_peer, m_socket->errorString());
}

bool ClientConnection::waitForInput(QDeadlineTimer deadline)
{
    m_wasAborted = false;
    if (!m_socket)
        return true;
    return waitFor([this] { return m_socket->bytesAvailable() > 0 || !isConnected(); },
                   deadline);
}

bool ClientConnection::readInto(BoundedReader &reader)
{
    while (m_socket && !reader.over() && m_socket->bytesAvailable() > 0) {
        const QByteArray ahead = m_socket->peek(qMin(m_socket->bytesAvailable(), reader.room()));
        qsizetype taken = 0;
        while (taken < ahead.size() && !reader.over()) {
            const qsizetype more = reader.take(QByteArrayView(ahead).sliced(taken));
            if (more <= 0)
                break;
            taken += more;
        }
        m_socket->skip(taken);
        if (taken == 0)
            break;
    }
    return reader.over();
}

QByteArray ClientConnection::read(qint64 maxSize)
{
    return m_socket ? m_socket->read(maxSize) : QByteArray();
}

qint64 ClientConnection::bytesAvailable() const
{
    return m_socket ? m_socket->bytesAvailable() : 0;
}

bool ClientConnection::isConnected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

bool ClientConnection::endedInOrder() const
{
    if (!m_socket)
        return false;
    const auto error = m_socket->error();
    return error == QAbstractSocket::RemoteHostClosedError ||
           error == QAbstractSocket::UnknownSocketError;
}

void ClientConnection::close()
{
    if (!m_socket)
        return;
    m_socket->disconnectFromHost();
    m_socket->abort();
}

void ClientConnection::abort()
{
    if (m_socket)
        m_socket->abort();
}
