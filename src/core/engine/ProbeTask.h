#pragma once

#include "engine/AnswerReader.h"
#include "engine/net/HostLookup.h"
#include "engine/Prober.h"
#include "engine/ServiceTarget.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class HostResolver;
class ProbeConnection;
class ProxyTunnel;
class TlsConnection;
class TlsHandshake;

// One probe of one service, driven by events: the name look-up, the connect
// to each address in turn, for https the proxy's tunnel and the TLS
// handshake, then the exchange and the judgement. A tcp probe ends once the
// connection (through the proxy: its tunnel) stands, within the connection
// time-out from the connect's start, and closes it at once. Each phase's
// time is kept in the result's timing, on the monotonic clock. It never waits itself:
// its events call `changed`, and whoever runs it calls advance() to let it
// move on, looks after aborts and waits between (see Prober).
class ProbeTask {
public:
    ProbeTask(const ServiceTarget &target, const QString &pattern, const ProbeSettings &settings,
              int silenceLimitMs, HostResolver &resolver, std::function<void()> changed);
    ~ProbeTask();
    ProbeTask(const ProbeTask &) = delete;
    ProbeTask &operator=(const ProbeTask &) = delete;

    // Takes the next step when it can. True when it moved on (look again
    // before waiting); false when it waits for an event or a time limit.
    bool advance();
    bool done() const { return m_phase == Phase::Done; }
    // Ended before a connection was made, the target not refused.
    bool connectFailed() const { return done() && m_tried && !m_result.connected; }
    // Ends the probe at once.
    void abort();
    ProbeResult result() const { return m_result; }

    // The connection to wait on; null while the name is looked up.
    ProbeConnection *waitingOn() const;
    // Longest wait before the next time limit; -1 before the connection
    // stands (only the platform's connect time-out applies then).
    qint64 waitLimitMs() const;

private:
    enum class Phase { Resolving, Connecting, ProxyAnswer, Handshake, Exchange, Done };

    void setUpConnection();
    // Microseconds since the task began.
    qint64 elapsedUs() const { return m_sinceStart.nsecsElapsed() / 1000; }
    void startTunnel();
    void tcpTunnelOver();
    void tcpUp();
    bool connectNext();
    void beginAfterConnect();
    void startHandshake();
    void sendRequest(bool viaProxy);
    bool timedOut() const;
    void judge();
    void tlsFailure(const QString &reason);
    void finish();
    void drain();
    void noteAnswerDone();
    // When the connect was seen to succeed (now when it was not seen).
    qint64 connectedUs() const { return m_connectedUs >= 0 ? m_connectedUs : elapsedUs(); }
    void closedByPeer();
    QString waitedText() const;

    const ServiceTarget m_target;
    const QString m_pattern;
    const ProbeSettings m_settings;
    const int m_silenceLimitMs;
    HostResolver &m_resolver;
    std::function<void()> m_changed;
    bool m_https = false;
    bool m_http = false;
    bool m_greeting = false;
    bool m_tcp = false;
    bool m_viaProxy = false;
    QString m_connectHost;
    int m_connectPort = 0;

    Phase m_phase = Phase::Resolving;
    ProbeResult m_result;
    bool m_tried = false; // got past the target checks
    AnswerReader m_reader;
    LookupToken m_lookup;
    std::optional<QList<QHostAddress>> m_addresses;
    qsizetype m_nextAddress = 0;
    bool m_connecting = false;
    bool m_connected = false;
    bool m_connectFailed = false;
    QDeadlineTimer m_connectionDeadline;
    QDeadlineTimer m_silenceDeadline;
    QElapsedTimer m_sinceConnect;
    QElapsedTimer m_sinceStart;
    qint64 m_connectStartUs = -1;
    qint64 m_handshakeStartUs = -1;
    qint64 m_connectedUs = -1;
    qint64 m_answerDoneUs = -1;
    std::unique_ptr<ProxyTunnel> m_tunnel;
    bool m_tlsFailed = false; // closed or failed before the handshake ended
    // Declared last so they go first, before the state their handlers touch;
    // the handshake watches the connection, so it goes before that.
    std::unique_ptr<ProbeConnection> m_connection;
    TlsConnection *m_tls = nullptr; // the same connection, for an https probe
    std::unique_ptr<TlsHandshake> m_handshake;
};
