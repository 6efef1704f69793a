#include "engine/PlainConnection.h"

#include <QSocketNotifier>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>

#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool toSocketAddress(const QHostAddress &address, quint16 port, sockaddr_storage &storage,
                     socklen_t &length)
{
    std::memset(&storage, 0, sizeof storage);
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto *in = reinterpret_cast<sockaddr_in *>(&storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof *in;
        return true;
    }
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(in6->sin6_addr.s6_addr, bytes.c, 16);
        const QString scope = address.scopeId();
        if (!scope.isEmpty()) {
            bool numeric = false;
            const uint index = scope.toUInt(&numeric);
            in6->sin6_scope_id = numeric ? index : ::if_nametoindex(scope.toLatin1().constData());
        }
        length = sizeof *in6;
        return true;
    }
    return false;
}

} // namespace

PlainConnection::PlainConnection() = default;

PlainConnection::~PlainConnection()
{
    closeSocket();
}

void PlainConnection::connectToHost(const QHostAddress &address, quint16 port)
{
    closeSocket();
    // Notifiers of an earlier attempt watched another descriptor.
    m_readNotifier.reset();
    m_writeNotifier.reset();
    m_in.clear();
    m_out.clear();
    m_state = State::Connecting;

    sockaddr_storage storage;
    socklen_t length = 0;
    if (!toSocketAddress(address, port, storage, length)) {
        failNow();
        return;
    }
    m_fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        failNow();
        return;
    }
    if (::connect(m_fd, reinterpret_cast<const sockaddr *>(&storage), length) == 0) {
        becomeConnected();
        return;
    }
    // Interrupted, the connect goes on in the background like one in progress.
    if (errno != EINPROGRESS && errno != EINTR) {
        failNow();
        return;
    }
    if (!finishConnect(false))
        watchWrite(true);
}

// Looks whether the connect in progress has ended; true when it has (either
// way). knownWritable: the notifier said so, no need to ask.
bool PlainConnection::finishConnect(bool knownWritable)
{
    if (!knownWritable) {
        pollfd p{m_fd, POLLOUT, 0};
        if (::poll(&p, 1, 0) != 1)
            return false;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    if (error == EINPROGRESS || error == EALREADY || error == EINTR)
        return false;
    if (error != 0) {
        failNow();
        return true;
    }
    becomeConnected();
    return true;
}

void PlainConnection::becomeConnected()
{
    m_state = State::Connected;
    watchWrite(false);
    emitConnected();
    if (m_state != State::Connected)
        return; // aborted by the handler
    sendQueued();
    if (m_state == State::Connected)
        watchRead(true);
}

void PlainConnection::write(const QByteArray &bytes)
{
    if (m_state != State::Connected && m_state != State::Connecting)
        return;
    m_out += bytes;
    if (m_state == State::Connected)
        sendQueued();
}

void PlainConnection::sendQueued()
{
    qsizetype sent = 0;
    while (sent < m_out.size()) {
        const ssize_t n = ::send(m_fd, m_out.constData() + sent, size_t(m_out.size() - sent),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        // The peer reset the connection or went away.
        m_out.clear();
        failNow();
        return;
    }
    m_out.remove(0, sent);
    watchWrite(!m_out.isEmpty());
}

void PlainConnection::flush()
{
    if (m_state == State::Connected && !m_out.isEmpty())
        sendQueued();
}

// Takes what the socket holds now. True when anything happened: data, the
// end of the stream or a failure.
bool PlainConnection::readSome()
{
    if (m_state != State::Connected)
        return false;
    bool arrived = false;
    bool ended = false;
    bool failed = false;
    char buffer[16384];
    // A few rounds at most, so a fast sender cannot hold the caller here.
    for (int round = 0; round < 8 && m_in.size() < InputLimit; ++round) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            m_in.append(buffer, n);
            arrived = true;
            if (size_t(n) < sizeof buffer)
                break;
            continue;
        }
        if (n == 0) {
            ended = true;
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            failed = true;
        break;
    }
    // Full: wait until the reader takes some.
    watchRead(!ended && !failed && m_in.size() < InputLimit);
    if (arrived) {
        emitDataArrived();
        if (m_state != State::Connected)
            return true;
    }
    if (ended) {
        closeSocket();
        emitPeerClosed();
    } else if (failed) {
        failNow();
    }
    return arrived || ended || failed;
}

QByteArray PlainConnection::readAll()
{
    QByteArray taken;
    taken.swap(m_in);
    if (m_state == State::Connected)
        watchRead(true);
    return taken;
}

QByteArray PlainConnection::readLine(qint64 maxSize)
{
    if (maxSize <= 0)
        return {};
    const qsizetype feed = m_in.indexOf('\n');
    qsizetype length = feed < 0 ? m_in.size() : feed + 1;
    length = qsizetype(std::min<qint64>(length, maxSize));
    const QByteArray line = m_in.left(length);
    m_in.remove(0, length);
    if (m_state == State::Connected)
        watchRead(true);
    return line;
}

bool PlainConnection::pollNow()
{
    if (m_state == State::Connecting)
        return finishConnect(false);
    return readSome();
}

bool PlainConnection::waitBriefly(int microseconds)
{
    if (m_fd < 0 || microseconds <= 0 ||
        (m_state != State::Connecting && m_state != State::Connected))
        return false;
    pollfd p{m_fd, short(m_state == State::Connecting ? POLLOUT : POLLIN), 0};
    // The first few microseconds are spent looking rather than sleeping: a
    // server on this machine answers within them, and a thread that went to
    // sleep can take longer than that to be woken again (much longer on a
    // virtual machine). Looking costs no more CPU than the wait it saves.
    const auto spinUntil = std::chrono::steady_clock::now() +
                           std::chrono::microseconds(std::min(microseconds, SpinUs));
    do {
        if (::poll(&p, 1, 0) == 1)
            return m_state == State::Connecting ? finishConnect(true) : readSome();
    } while (std::chrono::steady_clock::now() < spinUntil);
    if (microseconds <= SpinUs)
        return false;
    const timespec limit{0, long(std::min(microseconds - SpinUs, 999999)) * 1000};
    if (::ppoll(&p, 1, &limit, nullptr) != 1)
        return false;
    return m_state == State::Connecting ? finishConnect(true) : readSome();
}

void PlainConnection::abort()
{
    closeSocket();
    m_in.clear();
    m_out.clear();
}

void PlainConnection::failNow()
{
    closeSocket();
    emitFailed();
}

void PlainConnection::closeSocket()
{
    // Disabled, not deleted: this may run inside a notifier's own signal.
    watchRead(false);
    watchWrite(false);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (m_state != State::Idle)
        m_state = State::Closed;
}

void PlainConnection::watchRead(bool on)
{
    m_wantRead = on;
    if (m_readNotifier)
        m_readNotifier->setEnabled(on);
}

void PlainConnection::watchWrite(bool on)
{
    m_wantWrite = on;
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(on);
}

void PlainConnection::prepareWait()
{
    if (m_fd < 0)
        return;
    if (m_wantRead && !m_readNotifier) {
        m_readNotifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        QObject::connect(m_readNotifier.get(), &QSocketNotifier::activated,
                         m_readNotifier.get(), [this] { readSome(); });
    }
    if (m_wantWrite && !m_writeNotifier) {
        m_writeNotifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Write);
        QObject::connect(m_writeNotifier.get(), &QSocketNotifier::activated,
                         m_writeNotifier.get(), [this] {
                             if (m_state == State::Connecting)
                                 finishConnect(true);
                             else
                                 sendQueued();
                         });
    }
}
