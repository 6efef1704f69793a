#pragma once

#include "engine/net/InputBounds.h"

#include <QByteArray>
#include <QString>

class ProbeConnection;

// Asks an HTTP proxy for a tunnel (CONNECT) to host:port and reads its
// answer only up to the empty line, so that whatever follows stays on the
// connection for TLS.
class ProxyTunnel {
public:
    // A proxy's answer ends at its empty line; nothing that long is a real one.
    static constexpr qsizetype AnswerLimit = InputBounds::ProxyAnswer;

    explicit ProxyTunnel(const QString &hostPort) : m_hostPort(hostPort) {}

    QByteArray request() const;
    // Takes what the proxy sent, up to the end of its answer.
    void take(ProbeConnection &connection);
    void peerClosed() { m_closed = true; }
    // The answer is complete, cut off by the bound, or the proxy closed.
    bool over() const;

    // The proxy's answer is complete and agrees (2xx) to the tunnel.
    bool agreedTo() const;
    // What the proxy sent, up to the end of its answer.
    QByteArray answer() const { return m_answer; }

    // Empty when the tunnel stands and is still open with nothing waiting
    // on it; else why not. `timedOut` and `waited` say whether and how long
    // the answer was waited for in vain.
    QString failure(bool timedOut, const QString &waited, bool bytesWaiting) const;

private:
    QString m_hostPort;
    QByteArray m_answer;
    bool m_closed = false;
};
