#include "ProbeTask.h"

#include "engine/net/ProxyTunnel.h"
#include "engine/net/TlsConnection.h"
#include "engine/net/TlsHandshake.h"
#include "engine/CertificateWatch.h"
#include "engine/PlainConnection.h"
#include "engine/ProbeRules.h"
#include "platform/TlsTrust.h"

#include <algorithm>

namespace {

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

} // namespace

ProbeTask::ProbeTask(const ServiceTarget &target, const QString &pattern,
                     const ProbeSettings &settings, int silenceLimitMs, HostResolver &resolver,
                     std::function<void()> changed)
    : m_target(target), m_pattern(pattern), m_settings(settings), m_silenceLimitMs(silenceLimitMs),
      m_resolver(resolver), m_changed(std::move(changed)),
      m_https(target.protocol == QLatin1String("https")),
      m_http(m_https || target.protocol == QLatin1String("http")),
      m_greeting(isGreetingProtocol(target.protocol)),
      m_tcp(target.protocol == QLatin1String("tcp")),
      m_reader(m_http ? AnswerReader::Mode::Http : AnswerReader::Mode::Greeting, pattern.isEmpty())
{
    m_sinceStart.start();
    const ProxySettings &proxy = settings.proxy;
    m_viaProxy = (m_http || m_tcp) && proxy.use && !proxy.host.trimmed().isEmpty() && proxy.port != 0;
    m_connectHost = m_viaProxy ? proxy.host.trimmed() : target.host;
    m_connectPort = m_viaProxy ? proxy.port : target.port;

    // Control characters would let a name smuggle extra lines into the
    // request; such a target is never put on the wire.
    if (hasControlCharacters(target.host) || hasControlCharacters(target.path) ||
        hasControlCharacters(m_connectHost)) {
        m_phase = Phase::Done;
        return;
    }
    m_tried = true;
    setUpConnection();
    if (m_connectHost.isEmpty() || m_connectPort < 1 || m_connectPort > 65535) {
        finish();
        return;
    }
    m_lookup = startHostLookup(m_resolver, m_connectHost, DottedIPv4::SocketLibrary,
                               [this](QList<QHostAddress> found) {
                                   m_result.timing.lookupUs = elapsedUs();
                                   m_addresses = std::move(found);
                                   m_changed();
                               });
}

ProbeTask::~ProbeTask() = default;

// Plain protocols keep a plain socket; an https one starts plain too and is
// encrypted once connected (after the proxy's tunnel, if any).
void ProbeTask::setUpConnection()
{
    if (m_https) {
        auto tls = std::make_unique<TlsConnection>();
        m_tls = tls.get();
        m_connection = std::move(tls);
    } else {
        m_connection = std::make_unique<PlainConnection>();
    }
    ProbeConnection::Events events;
    events.connected = [this] {
        m_connected = true;
        m_connectedUs = elapsedUs();
        m_changed();
    };
    events.dataArrived = [this] {
        drain();
        m_changed();
    };
    events.peerClosed = [this] {
        closedByPeer();
        m_changed();
    };
    events.failed = [this] {
        if (m_connected)
            closedByPeer();
        else
            m_connectFailed = true;
        m_changed();
    };
    m_connection->setEvents(std::move(events));
}

void ProbeTask::drain()
{
    if (!m_connected)
        return;
    if (m_phase == Phase::ProxyAnswer)
        m_tunnel->take(*m_connection); // only up to the empty line: the rest is TLS
    else if (m_phase == Phase::Exchange)
        m_reader.feed(m_connection->readAll());
    noteAnswerDone();
}

// The moment the answer was complete, as it arrived: whoever runs the
// probe may look at it a while later (several probes at once).
void ProbeTask::noteAnswerDone()
{
    if (m_answerDoneUs < 0 && m_phase == Phase::Exchange && m_reader.done())
        m_answerDoneUs = elapsedUs();
}

void ProbeTask::closedByPeer()
{
    if (!m_connected)
        return;
    drain();
    switch (m_phase) {
    case Phase::ProxyAnswer:
        m_tunnel->peerClosed();
        break;
    case Phase::Handshake:
        if (!(m_handshake && m_handshake->encrypted()))
            m_tlsFailed = true;
        break;
    case Phase::Exchange:
        m_reader.peerClosed();
        noteAnswerDone();
        break;
    default:
        break;
    }
}

ProbeConnection *ProbeTask::waitingOn() const
{
    return m_phase == Phase::Resolving || m_phase == Phase::Done ? nullptr : m_connection.get();
}

qint64 ProbeTask::waitLimitMs() const
{
    if (m_phase == Phase::Resolving)
        return -1;
    if (m_phase == Phase::Connecting)
        return m_tcp ? m_connectionDeadline.remainingTime() : -1;
    qint64 remaining = m_connectionDeadline.remainingTime();
    if (m_reader.receivedBytes() == 0)
        remaining = std::min(remaining, m_silenceDeadline.remainingTime());
    return remaining;
}

// The connection time-out, or the silence limit while nothing came back for
// the exchange.
bool ProbeTask::timedOut() const
{
    if (m_connectionDeadline.hasExpired())
        return true;
    return m_reader.receivedBytes() == 0 && m_silenceDeadline.hasExpired();
}

QString ProbeTask::waitedText() const
{
    return QString::number((m_sinceConnect.elapsed() + 500) / 1000) + QStringLiteral(" s");
}

bool ProbeTask::advance()
{
    switch (m_phase) {
    case Phase::Resolving:
        if (!m_addresses)
            return false;
        m_phase = Phase::Connecting;
        return true;
    case Phase::Connecting:
        return connectNext();
    case Phase::ProxyAnswer: {
        if (!m_tunnel->over() && !timedOut())
            return false;
        if (m_tcp) {
            tcpTunnelOver();
            return true;
        }
        const QString refused =
            m_tunnel->failure(!m_tunnel->over(), waitedText(), m_connection->bytesAvailable() > 0);
        if (refused.isEmpty()) {
            m_result.timing.connectUs = elapsedUs() - m_connectStartUs;
            startHandshake();
        } else {
            tlsFailure(refused);
        }
        return true;
    }
    case Phase::Handshake: {
        const bool over = m_handshake->encrypted() || m_handshake->rejected() || m_tlsFailed;
        if (!over && !timedOut())
            return false;
        if (m_handshake->encrypted()) {
            m_result.timing.tlsUs = elapsedUs() - m_handshakeStartUs;
            // Kept whatever the answer: its expiry is watched on its own.
            m_result.certificate = CertificateWatch::describe(m_tls->socket().peerCertificate());
            m_phase = Phase::Exchange;
            sendRequest(false); // inside the tunnel the request names the path alone
        } else if (!over) {
            tlsFailure(QStringLiteral("The TLS handshake with %1 did not finish within %2")
                           .arg(m_target.host + QLatin1Char(':') + QString::number(m_target.port),
                                waitedText()));
        } else if (m_handshake->closedByPeer()) {
            tlsFailure(QStringLiteral("The server closed the connection during the TLS handshake"));
        } else {
            tlsFailure(m_handshake->failureReason());
        }
        return true;
    }
    case Phase::Exchange:
        if ((m_http || m_greeting) && !m_reader.done() && !timedOut())
            return false;
        judge();
        return true;
    case Phase::Done:
        return false;
    }
    return false;
}

// Each address in turn; the platform's own connect time-out applies, but
// for tcp, whose answer is the connect, the connection time-out does.
bool ProbeTask::connectNext()
{
    if (m_connectStartUs < 0) {
        m_connectStartUs = elapsedUs();
        if (m_tcp)
            m_connectionDeadline = QDeadlineTimer(
                qint64(std::max(0, m_settings.connectionTimeoutSecs)) * 1000, Qt::PreciseTimer);
    }
    if (!m_connecting) {
        if (m_nextAddress >= m_addresses->size()) {
            finish();
            return true;
        }
        m_connectFailed = false;
        m_connecting = true;
        m_connection->connectToHost(m_addresses->at(m_nextAddress++), quint16(m_connectPort));
    }
    if (m_connected) {
        m_connecting = false;
        // Through a proxy's tunnel the connect lasts until the tunnel stands.
        if (!(m_viaProxy && (m_https || m_tcp)))
            m_result.timing.connectUs = connectedUs() - m_connectStartUs;
        beginAfterConnect();
        return true;
    }
    if (m_connectFailed) {
        m_connecting = false;
        m_connection->abort();
        return true;
    }
    if (m_tcp && m_connectionDeadline.hasExpired()) {
        // Not accepted in time: as unreachable as a refusal.
        m_connecting = false;
        finish();
        return true;
    }
    return false;
}

void ProbeTask::beginAfterConnect()
{
    m_result.connected = true;
    // A tcp probe's time-out runs on from the connect's start.
    if (!m_tcp)
        m_connectionDeadline = QDeadlineTimer(
            qint64(std::max(0, m_settings.connectionTimeoutSecs)) * 1000, Qt::PreciseTimer);
    m_silenceDeadline = QDeadlineTimer(std::max(0, m_silenceLimitMs), Qt::PreciseTimer);
    m_sinceConnect.start();
    if (m_tcp) {
        if (m_viaProxy)
            startTunnel();
        else
            tcpUp();
        return;
    }
    if (!m_https) {
        m_phase = Phase::Exchange;
        if (m_http)
            sendRequest(m_viaProxy);
        return;
    }
    if (!TlsTrust::available()) {
        tlsFailure(TlsTrust::unavailableText());
        return;
    }
    if (m_viaProxy) {
        startTunnel();
        return;
    }
    startHandshake();
}

void ProbeTask::startTunnel()
{
    m_tunnel = std::make_unique<ProxyTunnel>(m_target.host + QLatin1Char(':') +
                                             QString::number(m_target.port));
    m_phase = Phase::ProxyAnswer;
    m_connection->write(m_tunnel->request());
}

// The proxy's tunnel stands: the target accepted. Anything else is judged
// like the proxy's http answer: its status code, or "timeout" without one.
void ProbeTask::tcpTunnelOver()
{
    if (m_tunnel->agreedTo()) {
        m_result.timing.connectUs = elapsedUs() - m_connectStartUs;
        tcpUp();
        return;
    }
    m_result.response = m_tunnel->answer();
    if (m_tunnel->over())
        m_result.resultCode = judgeHttp(m_result.response, QString()).resultCode;
    if (m_result.resultCode.isEmpty())
        m_result.resultCode = QStringLiteral("timeout");
    finish();
}

void ProbeTask::tcpUp()
{
    // Straight to the target, the answer is the connect itself.
    m_result.timing.answerUs = m_viaProxy ? elapsedUs() : connectedUs();
    m_result.success = true;
    m_result.resultCode = QStringLiteral("connected");
    finish(); // closed at once
}

void ProbeTask::startHandshake()
{
    m_handshakeStartUs = elapsedUs();
    m_phase = Phase::Handshake;
    m_handshake = std::make_unique<TlsHandshake>(m_tls->socket(), m_target.host, m_changed);
}

void ProbeTask::sendRequest(bool viaProxy)
{
    m_connection->write(
        buildHttpRequest(m_target, !m_pattern.isEmpty(), viaProxy, userAgentText(), makerHost()));
}

void ProbeTask::judge()
{
    // The answer is complete, or cut short by the time-out: what came is
    // what is judged. Nothing at all is no answer.
    if (m_reader.receivedBytes() > 0)
        m_result.timing.answerUs = m_answerDoneUs >= 0 ? m_answerDoneUs : elapsedUs();
    m_result.response = m_reader.answer();
    Judgement judgement;
    if (m_http) {
        judgement = judgeHttp(m_result.response, m_pattern);
    } else if (m_greeting) {
        judgement = judgeGreeting(m_target.protocol, m_result.response);
        if (m_connection->isConnected()) {
            m_connection->write("QUIT\r\n");
            m_connection->flush();
        }
    }
    m_result.success = judgement.success;
    m_result.resultCode =
        judgement.resultCode.isEmpty() ? QStringLiteral("timeout") : judgement.resultCode;
    finish();
}

// Any TLS trouble, the proxy's refusal included, ends the probe here.
void ProbeTask::tlsFailure(const QString &reason)
{
    m_result.resultCode = QStringLiteral("tls");
    m_result.response =
        (QStringLiteral("TLS failure: ") + reason + QStringLiteral("\r\n")).toUtf8();
    finish();
}

void ProbeTask::abort()
{
    if (done())
        return;
    m_result.aborted = true;
    m_result.response = m_reader.answer();
    finish();
}

void ProbeTask::finish()
{
    m_lookup.reset();
    if (m_connection) {
        m_connection->setEvents({});
        m_connection->abort();
    }
    m_phase = Phase::Done;
}
