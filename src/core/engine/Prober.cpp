#include "Prober.h"

#include "base/Subs.h"
#include "engine/AnswerReader.h"
#include "engine/HostResolver.h"
#include "engine/net/HostLookup.h"
#include "engine/net/ProxyTunnel.h"
#include "engine/net/TlsHandshake.h"
#include "engine/PlainConnection.h"
#include "engine/ProbeRules.h"
#include "engine/SystemHostResolver.h"
#include "platform/TlsTrust.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QScopeGuard>
#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>
#include <optional>

namespace {

// Longest sleep between looks at the caller's abort predicate.
constexpr qint64 AbortCheckMs = 50;

// How long a probe waits on its socket alone before it waits in the event
// loop: about what a server on the same network takes to answer.
constexpr int QuickWaitUs = 1000;

// Longest time a probe goes without running the event loop.
constexpr qint64 EventLoopEveryMs = 10;

bool hasControlCharacters(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

bool isGreetingProtocol(const QString &protocol)
{
    return protocol == QLatin1String("ftp") || protocol == QLatin1String("smtp") ||
           protocol == QLatin1String("pop3");
}

// The connection of an https probe: Qt's TLS socket, which starts plain and
// is encrypted once connected.
class TlsConnection final : public ProbeConnection {
public:
    TlsConnection()
    {
        m_socket.setProxy(QNetworkProxy::NoProxy); // a proxy is our own business
        QObject::connect(&m_socket, &QTcpSocket::connected, [this] {
            if (!m_muted)
                emitConnected();
        });
        QObject::connect(&m_socket, &QTcpSocket::readyRead, [this] {
            if (!m_muted)
                emitDataArrived();
        });
        const auto closed = [this] {
            if (!m_muted)
                emitPeerClosed();
        };
        QObject::connect(&m_socket, &QTcpSocket::readChannelFinished, closed);
        QObject::connect(&m_socket, &QTcpSocket::disconnected, closed);
        QObject::connect(&m_socket, &QTcpSocket::errorOccurred, [this] {
            if (!m_muted)
                emitFailed();
        });
    }
    ~TlsConnection() override { abort(); }

    QSslSocket &socket() { return m_socket; }

    void connectToHost(const QHostAddress &address, quint16 port) override
    {
        m_socket.connectToHost(address, port);
    }
    bool isConnected() const override
    {
        return m_socket.state() == QAbstractSocket::ConnectedState;
    }
    void write(const QByteArray &bytes) override { m_socket.write(bytes); }
    qint64 bytesAvailable() const override { return m_socket.bytesAvailable(); }
    QByteArray readAll() override { return m_socket.readAll(); }
    QByteArray readLine(qint64 maxSize) override { return m_socket.readLine(maxSize); }
    void flush() override { m_socket.flush(); }
    void abort() override
    {
        // What the close itself signals is not news to the probe.
        m_muted = true;
        m_socket.abort();
        m_muted = false;
    }

private:
    QSslSocket m_socket;
    bool m_muted = false;
};

} // namespace

struct Prober::Attempt {
    // What the bytes that arrive are for.
    enum class Phase { Connecting, ProxyAnswer, Handshake, Exchange };

    explicit Attempt(AnswerReader::Mode mode, bool head) : reader(mode, head) {}

    AnswerReader reader;
    Phase phase = Phase::Connecting;
    bool connected = false;
    bool connectFailed = false;
    // The proxy's answer to CONNECT, up to its empty line.
    std::optional<ProxyTunnel> tunnel;
    // TLS handshake.
    const TlsHandshake *handshake = nullptr; // while it runs
    bool tlsFailed = false;                  // closed or failed before it ended
    // Declared last so it goes first, before the state its handlers touch.
    std::unique_ptr<ProbeConnection> connection;
    TlsConnection *tls = nullptr; // the same connection, for an https probe
};

Prober::Prober(HostResolver *resolver, QObject *parent) : QObject(parent), m_resolver(resolver)
{
    m_wait.setCheckEveryMs(int(AbortCheckMs));
    if (!m_resolver) {
        m_ownResolver = std::make_unique<SystemHostResolver>();
        m_resolver = m_ownResolver.get();
    }
}

Prober::~Prober() = default;

void Prober::abort()
{
    if (!m_busy)
        return;
    m_abort = true;
    wake();
}

void Prober::wake()
{
    m_wait.wake();
}

bool Prober::abortSeen(const std::function<bool()> &abortRequested) const
{
    return m_abort || (abortRequested && abortRequested());
}

void Prober::awaitProgress(ProbeConnection &connection, qint64 maxMs)
{
    // Progress is taken without the event loop when the connection has it or
    // gets it within a moment; but a server that sends a little every
    // fraction of a millisecond must not keep the window and Abort waiting:
    // the event loop gets its turn at least every EventLoopEveryMs.
    const bool loopDue = m_wait.msSinceLoop() >= EventLoopEveryMs;
    if (!loopDue && (connection.pollNow() || connection.waitBriefly(QuickWaitUs)))
        return;
    connection.prepareWait();
    sleepUntilWoken(maxMs);
}

// Runs the event loop until something wakes the probe or maxMs pass.
void Prober::sleepUntilWoken(qint64 maxMs)
{
    m_wait.sleep(maxMs);
}

// Resolves (unless the host is a dotted IPv4 address) and connects, trying
// each address in turn. The platform's own connect time-out applies; only
// an abort cuts it short.
bool Prober::connectTo(Attempt &a, const QString &host, int port,
                       const std::function<bool()> &abortRequested)
{
    if (host.isEmpty() || port < 1 || port > 65535)
        return false;

    const auto addresses = lookUpHost(*m_resolver, host, DottedIPv4::SocketLibrary, m_wait,
                                      QDeadlineTimer(QDeadlineTimer::Forever),
                                      [&] { return abortSeen(abortRequested); });
    if (!addresses)
        return false;
    return connectToEach(*addresses, [&](const QHostAddress &address) {
        if (abortSeen(abortRequested))
            return ConnectAttempt::GiveUp;
        a.connectFailed = false;
        a.connection->connectToHost(address, quint16(port));
        while (!a.connected && !a.connectFailed) {
            if (abortSeen(abortRequested))
                return ConnectAttempt::GiveUp;
            awaitProgress(*a.connection, AbortCheckMs);
        }
        if (a.connected)
            return ConnectAttempt::Connected;
        a.connection->abort();
        return ConnectAttempt::Failed;
    });
}

ProbeResult Prober::run(const ServiceTarget &target, const QString &pattern,
                        const ProbeSettings &settings, std::function<bool()> abortRequested)
{
    ProbeResult result;
    if (m_busy)
        return result;
    m_busy = true;
    m_abort = false;
    m_wait.noteLoopRan();
    struct BusyReset {
        bool &busy;
        ~BusyReset() { busy = false; }
    } busyReset{m_busy};

    const bool https = target.protocol == QLatin1String("https");
    const bool http = https || target.protocol == QLatin1String("http");
    const bool greeting = isGreetingProtocol(target.protocol);
    const ProxySettings &proxy = settings.proxy;
    const bool viaProxy = http && proxy.use && !proxy.host.trimmed().isEmpty() && proxy.port != 0;
    const QString connectHost = viaProxy ? proxy.host.trimmed() : target.host;
    const int connectPort = viaProxy ? proxy.port : target.port;

    // Control characters would let a name smuggle extra lines into the
    // request; such a target is never put on the wire.
    if (hasControlCharacters(target.host) || hasControlCharacters(target.path) ||
        hasControlCharacters(connectHost))
        return result;

    Attempt a(http ? AnswerReader::Mode::Http : AnswerReader::Mode::Greeting, pattern.isEmpty());
    // Plain protocols keep a plain socket; an https one starts plain too and
    // is encrypted once connected (after the proxy's tunnel, if any).
    if (https) {
        auto tls = std::make_unique<TlsConnection>();
        a.tls = tls.get();
        a.connection = std::move(tls);
    } else {
        a.connection = std::make_unique<PlainConnection>();
    }
    ProbeConnection *socket = a.connection.get();
    const auto drain = [&a, socket] {
        if (!a.connected)
            return;
        if (a.phase == Attempt::Phase::ProxyAnswer) {
            // Only up to the empty line: what follows belongs to TLS.
            a.tunnel->take(*socket);
        } else if (a.phase == Attempt::Phase::Exchange) {
            a.reader.feed(socket->readAll());
        }
    };
    const auto closedByPeer = [&a, drain] {
        if (!a.connected)
            return;
        drain();
        switch (a.phase) {
        case Attempt::Phase::Connecting:
            break;
        case Attempt::Phase::ProxyAnswer:
            a.tunnel->peerClosed();
            break;
        case Attempt::Phase::Handshake:
            if (!(a.handshake && a.handshake->encrypted()))
                a.tlsFailed = true;
            break;
        case Attempt::Phase::Exchange:
            a.reader.peerClosed();
            break;
        }
    };
    ProbeConnection::Events events;
    events.connected = [this, &a] {
        a.connected = true;
        wake();
    };
    events.dataArrived = [this, drain] {
        drain();
        wake();
    };
    events.peerClosed = [this, closedByPeer] {
        closedByPeer();
        wake();
    };
    events.failed = [this, &a, closedByPeer] {
        if (a.connected)
            closedByPeer();
        else
            a.connectFailed = true;
        wake();
    };
    socket->setEvents(std::move(events));

    const auto finish = [socket] {
        socket->setEvents({});
        socket->abort();
    };

    if (!connectTo(a, connectHost, connectPort, abortRequested)) {
        result.aborted = m_abort || (abortRequested && abortRequested());
        finish();
        return result;
    }
    result.connected = true;

    const QDeadlineTimer connectionDeadline(
        qint64(std::max(0, settings.connectionTimeoutSecs)) * 1000, Qt::PreciseTimer);
    const QDeadlineTimer silenceDeadline(std::max(0, m_silenceLimitMs), Qt::PreciseTimer);
    // Waits until `ready`, an abort or the end of either limit. The silence
    // limit counts while nothing came back for the exchange.
    enum class Wait { Ready, Aborted, TimedOut };
    const auto waitUntil = [&](const std::function<bool()> &ready) {
        for (;;) {
            if (abortSeen(abortRequested))
                return Wait::Aborted;
            if (ready())
                return Wait::Ready;
            if (connectionDeadline.hasExpired())
                return Wait::TimedOut;
            const bool silent = a.reader.receivedBytes() == 0;
            if (silent && silenceDeadline.hasExpired())
                return Wait::TimedOut;
            qint64 remaining = connectionDeadline.remainingTime();
            if (silent)
                remaining = std::min(remaining, silenceDeadline.remainingTime());
            awaitProgress(*a.connection, remaining);
        }
    };
    const auto abortedResult = [&] {
        result.aborted = true;
        result.response = a.reader.answer();
        finish();
        return result;
    };
    // Any TLS trouble, the proxy's refusal included, ends the probe here.
    const auto tlsFailure = [&](const QString &reason) {
        result.resultCode = QStringLiteral("tls");
        result.response =
            (QStringLiteral("TLS failure: ") + reason + QStringLiteral("\r\n")).toUtf8();
        finish();
        return result;
    };
    const QString hostPort = target.host + QLatin1Char(':') + QString::number(target.port);
    QElapsedTimer sinceConnect;
    sinceConnect.start();
    const auto waitedText = [&sinceConnect] {
        return QString::number((sinceConnect.elapsed() + 500) / 1000) + QStringLiteral(" s");
    };

    if (https) {
        if (!TlsTrust::available())
            return tlsFailure(TlsTrust::unavailableText());
        if (viaProxy) {
            a.tunnel.emplace(hostPort);
            a.phase = Attempt::Phase::ProxyAnswer;
            socket->write(a.tunnel->request());
            const Wait w = waitUntil([&a] { return a.tunnel->over(); });
            if (w == Wait::Aborted)
                return abortedResult();
            const QString refused =
                a.tunnel->failure(w == Wait::TimedOut, waitedText(), socket->bytesAvailable() > 0);
            if (!refused.isEmpty())
                return tlsFailure(refused);
        }

        a.phase = Attempt::Phase::Handshake;
        const TlsHandshake handshake(a.tls->socket(), target.host, [this] { wake(); });
        a.handshake = &handshake;
        const auto handshakeGone = qScopeGuard([&a] { a.handshake = nullptr; });
        const Wait w =
            waitUntil([&] { return handshake.encrypted() || handshake.rejected() || a.tlsFailed; });
        if (w == Wait::Aborted)
            return abortedResult();
        if (!handshake.encrypted()) {
            if (w == Wait::TimedOut && !a.tlsFailed && !handshake.rejected())
                return tlsFailure(
                    QStringLiteral("The TLS handshake with %1 did not finish within %2")
                        .arg(hostPort, waitedText()));
            if (handshake.closedByPeer())
                return tlsFailure(
                    QStringLiteral("The server closed the connection during the TLS handshake"));
            return tlsFailure(handshake.failureReason());
        }
        a.phase = Attempt::Phase::Exchange;
        // Inside the tunnel the request names the path alone.
        socket->write(
            buildHttpRequest(target, !pattern.isEmpty(), false, userAgentText(), makerHost()));
    } else {
        a.phase = Attempt::Phase::Exchange;
        if (http)
            socket->write(buildHttpRequest(target, !pattern.isEmpty(), viaProxy, userAgentText(),
                                           makerHost()));
    }

    if (http || greeting) {
        if (waitUntil([&a] { return a.reader.done(); }) == Wait::Aborted)
            return abortedResult();
    }

    result.response = a.reader.answer();
    Judgement judgement;
    if (http) {
        judgement = judgeHttp(result.response, pattern);
    } else if (greeting) {
        judgement = judgeGreeting(target.protocol, result.response);
        if (socket->isConnected()) {
            socket->write("QUIT\r\n");
            socket->flush();
        }
    }
    result.success = judgement.success;
    result.resultCode =
        judgement.resultCode.isEmpty() ? QStringLiteral("timeout") : judgement.resultCode;
    finish();
    return result;
}
