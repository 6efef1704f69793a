#include "Prober.h"

#include "config/Subs.h"
#include "engine/AnswerReader.h"
#include "engine/HostResolver.h"
#include "engine/ProbeRules.h"
#include "engine/SystemHostResolver.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <optional>

namespace {

// Longest sleep between looks at the caller's abort predicate.
constexpr qint64 AbortCheckMs = 50;

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

struct Prober::Attempt {
    explicit Attempt(AnswerReader::Mode mode, bool head) : reader(mode, head) {}

    AnswerReader reader;
    bool connected = false;
    bool connectFailed = false;
    // Declared last so it goes first, before the state its handlers touch.
    std::unique_ptr<QTcpSocket> socket;
};

Prober::Prober(HostResolver *resolver, QObject *parent) : QObject(parent), m_resolver(resolver)
{
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
    if (m_loop)
        m_loop->quit();
}

bool Prober::abortSeen(const std::function<bool()> &abortRequested) const
{
    return m_abort || (abortRequested && abortRequested());
}

// Runs the event loop until something wakes the probe or maxMs pass.
void Prober::sleepUntilWoken(qint64 maxMs)
{
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(int(std::clamp<qint64>(maxMs, 0, AbortCheckMs)));
    m_loop = &loop;
    loop.exec();
    m_loop = nullptr;
}

// Resolves (unless the host is a dotted IPv4 address) and connects, trying
// each address in turn. The platform's own connect time-out applies; only
// an abort cuts it short.
bool Prober::connectTo(Attempt &a, const QString &host, int port,
                       const std::function<bool()> &abortRequested)
{
    if (host.isEmpty() || port < 1 || port > 65535)
        return false;

    QList<QHostAddress> addresses;
    if (IsDottedIPv4(host)) {
        addresses.append(QHostAddress(host));
    } else {
        // A late answer (after an abort) finds the slot gone and is dropped.
        auto answer = std::make_shared<std::optional<QList<QHostAddress>>>();
        std::weak_ptr<std::optional<QList<QHostAddress>>> slot = answer;
        m_resolver->lookup(host, [this, slot](QList<QHostAddress> found) {
            if (auto s = slot.lock()) {
                *s = std::move(found);
                wake();
            }
        });
        while (!answer->has_value()) {
            if (abortSeen(abortRequested))
                return false;
            sleepUntilWoken(AbortCheckMs);
        }
        addresses = answer->value();
    }

    for (const QHostAddress &address : std::as_const(addresses)) {
        if (abortSeen(abortRequested))
            return false;
        a.connectFailed = false;
        a.socket->connectToHost(address, quint16(port));
        while (!a.connected && !a.connectFailed) {
            if (abortSeen(abortRequested))
                return false;
            sleepUntilWoken(AbortCheckMs);
        }
        if (a.connected)
            return true;
        a.socket->abort();
    }
    return false;
}

ProbeResult Prober::run(const ServiceTarget &target, const QString &pattern,
                        const ProbeSettings &settings, std::function<bool()> abortRequested)
{
    ProbeResult result;
    if (m_busy)
        return result;
    m_busy = true;
    m_abort = false;
    struct BusyReset {
        bool &busy;
        ~BusyReset() { busy = false; }
    } busyReset{m_busy};

    const bool http = target.protocol == QLatin1String("http");
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
    a.socket = std::make_unique<QTcpSocket>();
    QTcpSocket *socket = a.socket.get();
    socket->setProxy(QNetworkProxy::NoProxy); // a proxy is our own business
    const auto drain = [&a, socket] {
        if (a.connected)
            a.reader.feed(socket->readAll());
    };
    const auto closedByPeer = [&a, drain] {
        if (!a.connected)
            return;
        drain();
        a.reader.peerClosed();
    };
    connect(socket, &QTcpSocket::connected, this, [this, &a] {
        a.connected = true;
        wake();
    });
    connect(socket, &QTcpSocket::readyRead, this, [this, drain] {
        drain();
        wake();
    });
    connect(socket, &QTcpSocket::readChannelFinished, this, [this, closedByPeer] {
        closedByPeer();
        wake();
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, closedByPeer] {
        closedByPeer();
        wake();
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, &a, closedByPeer] {
        if (a.connected)
            closedByPeer();
        else
            a.connectFailed = true;
        wake();
    });

    const auto finish = [socket] {
        socket->disconnect();
        socket->abort();
    };

    if (!connectTo(a, connectHost, connectPort, abortRequested)) {
        result.aborted = m_abort || (abortRequested && abortRequested());
        finish();
        return result;
    }
    result.connected = true;

    if (http || greeting) {
        if (http)
            socket->write(buildHttpRequest(target, !pattern.isEmpty(), viaProxy, userAgentText(),
                                           makerHost()));
        const QDeadlineTimer connectionDeadline(
            qint64(std::max(0, settings.connectionTimeoutSecs)) * 1000, Qt::PreciseTimer);
        const QDeadlineTimer silenceDeadline(std::max(0, m_silenceLimitMs), Qt::PreciseTimer);
        for (;;) {
            if (abortSeen(abortRequested)) {
                result.aborted = true;
                result.response = a.reader.answer();
                finish();
                return result;
            }
            if (a.reader.done() || connectionDeadline.hasExpired())
                break;
            const bool silent = a.reader.receivedBytes() == 0;
            if (silent && silenceDeadline.hasExpired())
                break;
            qint64 remaining = connectionDeadline.remainingTime();
            if (silent)
                remaining = std::min(remaining, silenceDeadline.remainingTime());
            sleepUntilWoken(remaining);
        }
    }

    result.response = a.reader.answer();
    Judgement judgement;
    if (http) {
        judgement = judgeHttp(result.response, pattern);
    } else if (greeting) {
        judgement = judgeGreeting(target.protocol, result.response);
        if (socket->state() == QAbstractSocket::ConnectedState) {
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
