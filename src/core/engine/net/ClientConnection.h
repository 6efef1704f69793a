#pragma once

#include "engine/net/EventWait.h"
#include "engine/net/HostLookup.h"
#include "engine/net/InputBounds.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <functional>
#include <memory>

class BoundedReader;
class HostResolver;
class QTcpSocket;

// The connection of a client that talks to one server in a dialogue on the
// caller's thread, as the mail client does: the name looked up through the
// host resolver, each address tried in turn, TLS from the connect or begun
// later, writes and reads that wait with a deadline. Every wait runs the
// event loop (EventWait), so the windows stay responsive, and ends early
// when the abort check says so.
//
// The failure texts name the server as the caller calls it ("SMTP server").
class ClientConnection {
public:
    // Whether the connection can turn to TLS, and when it does.
    enum class Tls { Never, Later, AtOnce };

    // Received bytes held before the reader takes them; reading from the
    // network pauses beyond this.
    static constexpr qsizetype InputLimit = InputBounds::ConnectionBuffer;

    ClientConnection(HostResolver &resolver, const QString &peer);
    ~ClientConnection();
    ClientConnection(const ClientConnection &) = delete;
    ClientConnection &operator=(const ClientConnection &) = delete;

    // Looked at whenever a wait wakes, and at least every AbortCheckMs;
    // true ends the wait as a failure, and wasAborted() says so.
    void setAbortCheck(std::function<bool()> aborted);
    static constexpr int AbortCheckMs = 50;

    // Drops the connection there was, finds the addresses of `host` and
    // connects to each in turn until one takes the connection, all within
    // `connectMs`. With Tls::AtOnce the handshake follows, within a new
    // `connectMs`. False when no connection stands; failure() is empty when
    // none was made and gives the reason when the handshake failed.
    bool open(const QString &host, int port, DottedIPv4 reading, Tls tls, int connectMs);

    // Turns the open connection to TLS, verified against the trust store
    // with the host's name for SNI, within `ms`. On failure the connection
    // is dropped and failure() says why.
    bool startTls(int ms);

    // Sends all of `bytes` and waits until they left, at most `ms`. Empty
    // when they did; else why not, and the connection is of no more use.
    QString send(const QByteArray &bytes, int ms);

    // Waits until bytes are there to read or the connection ended. False
    // when the deadline passed or the abort check ended the wait first.
    bool waitForInput(QDeadlineTimer deadline);
    // Hands what arrived to `reader`, which consumes only what it takes.
    // True when the reader is over.
    bool readInto(BoundedReader &reader);
    QByteArray read(qint64 maxSize);
    qint64 bytesAvailable() const;

    // A connection was made by the last open(); it may have ended since.
    bool made() const { return m_socket != nullptr; }
    bool isConnected() const;
    // The connection ended because the server closed it, not by an error.
    bool endedInOrder() const;
    // The abort check ended the last wait.
    bool wasAborted() const { return m_wasAborted; }
    // Why the last open() or startTls() failed.
    QString failure() const { return m_failure; }

    // Ends the connection politely, then for good.
    void close();
    // Ends the connection at once; what is unsent is dropped.
    void abort();

private:
    bool connectTo(const QHostAddress &address, quint16 port, QDeadlineTimer deadline);
    void watchSocket();
    bool waitFor(const std::function<bool()> &ready, QDeadlineTimer deadline);
    bool checkAbort();
    QString handshakeFailure(bool finished, bool closedByPeer, const QString &reason, int ms) const;

    HostResolver &m_resolver;
    const QString m_peer;
    std::function<bool()> m_aborted;
    EventWait m_wait;
    QString m_host;
    Tls m_tls = Tls::Never;
    qint64 m_unwritten = 0;
    bool m_wasAborted = false;
    QString m_failure;
    // Last, so it goes first: what it signals on its way out touches the rest.
    std::unique_ptr<QTcpSocket> m_socket;
};
