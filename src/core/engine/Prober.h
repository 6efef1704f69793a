#pragma once

#include "engine/net/EventWait.h"
#include "engine/ServiceTarget.h"

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class HostResolver;
class ProbeConnection;

struct ProxySettings {
    bool use = false;
    QString host;
    int port = 0;
};

struct ProbeSettings {
    int connectionTimeoutSecs = 60; // limit for reading the answer, from its start
    ProxySettings proxy;
};

// How long each phase of a probe took, in microseconds on a monotonic
// clock; -1 for a phase the probe did not reach or does not have.
struct ProbeTiming {
    qint64 lookupUs = -1;  // name look-up
    qint64 connectUs = -1; // the TCP connect (to the proxy, tunnel included, when one is used)
    qint64 tlsUs = -1;     // the TLS handshake of an https probe
    qint64 answerUs = -1;  // from the probe's start to the complete answer
};

// The leaf certificate an https probe's successful handshake presented.
struct PeerCertificate {
    QString subject;
    QString issuer;
    QDateTime notBefore; // UTC
    QDateTime notAfter;  // UTC
    QByteArray digest;   // SHA-256 of the DER form: tells one certificate from its successor
};

struct ProbeResult {
    bool connected = false;
    bool success = false;
    // Status or greeting code, "pattern fail", "timeout", or "tls" when an
    // https probe's TLS failed (the response then says why); "connected"
    // when a tcp probe's connection was accepted. The poll cycle makes a
    // success that took too long the failure "slow".
    QString resultCode;
    QByteArray response;
    bool aborted = false;
    ProbeTiming timing;
    std::optional<PeerCertificate> certificate;
};

// Runs one probe at a time. Each probe is a task of its own (ProbeTask)
// with its own socket and answer buffer, created and destroyed within
// run(), so nothing of a finished or abandoned probe can leak into the next
// one. run() returns to its caller
// only when the probe is over, but keeps the event loop running meanwhile:
// it wakes for every socket event, for abort() and for its time-outs.
//
// An https probe connects (to the proxy, which is asked to CONNECT to the
// host and port, when one is used), performs the TLS handshake with the
// host name as SNI and verifies the certificate against TlsTrust, then does
// the http exchange inside, the request naming the path alone. Everything
// after the connect, the tunnel and the handshake included, is bounded by
// the connection time-out. Any failure before the exchange - no TLS
// backend, the proxy's refusal, a handshake or certificate error - gives
// the result code "tls" with the reason as the response.
class Prober : public QObject {
    Q_OBJECT
public:
    // Nothing arrived at all for this long: the server is taken as silent
    // even when the connection time-out is longer.
    static constexpr int DefaultSilenceLimitMs = 65000;

    // A null resolver means the platform's own name resolution.
    explicit Prober(HostResolver *resolver = nullptr, QObject *parent = nullptr);
    ~Prober() override;

    // Not connected (empty result code and response): the name is not
    // found, the connection is refused or fails, the port is outside
    // 1..65535, or the host or path holds a control character (never put on
    // the wire). An aborted probe is not judged and sends no QUIT.
    // abortRequested is looked at whenever the probe wakes (at least every
    // 50 ms); it may be empty. Must not be called while a probe runs: such a
    // nested call returns an unconnected result at once. The prober must not
    // be destroyed from inside its own run().
    ProbeResult run(const ServiceTarget &target, const QString &pattern,
                    const ProbeSettings &settings, std::function<bool()> abortRequested);

    bool isBusy() const { return m_busy; }

    // For tests: shorter silence limit.
    void setSilenceLimitMs(int ms) { m_silenceLimitMs = ms; }
    int silenceLimitMs() const { return m_silenceLimitMs; }

public slots:
    // Ends the running probe at once; it returns with aborted set.
    void abort();

private:
    bool abortSeen(const std::function<bool()> &abortRequested) const;
    void wake();
    // Waits, at most maxMs, until the connection makes progress: first on
    // the connection alone for a moment, then in the event loop.
    void awaitProgress(ProbeConnection &connection, qint64 maxMs);

    HostResolver *m_resolver = nullptr;
    std::unique_ptr<HostResolver> m_ownResolver;
    EventWait m_wait;
    bool m_busy = false;
    bool m_abort = false;
    int m_silenceLimitMs = DefaultSilenceLimitMs;
};
