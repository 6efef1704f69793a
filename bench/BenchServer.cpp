#include "BenchServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <unordered_map>

namespace {

// A request or greeting dialogue larger than this is not ours; drop it.
constexpr qsizetype MaxRequest = 64 * 1024;

QByteArray httpAnswer(bool withBody)
{
    const QByteArray body = BenchServer::bodyText();
    QByteArray answer = "HTTP/1.1 200 OK\r\nServer: bench\r\nContent-Type: text/html\r\n"
                        "Content-Length: " +
                        QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
    if (withBody)
        answer += body;
    return answer;
}

void sendAll(int fd, const QByteArray &bytes)
{
    qsizetype sent = 0;
    // Answers are a few hundred bytes: they fit the socket buffer at once.
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0)
            return;
        sent += n;
    }
}

} // namespace

BenchServer::BenchServer(Mode mode) : m_mode(mode) {}

BenchServer::~BenchServer()
{
    stop();
}

QByteArray BenchServer::bodyText()
{
    return "<html><head><title>Bench</title></head><body><p>Welcome to the loopback bench "
           "page.</p><p>Nothing else here.</p></body></html>\r\n";
}

bool BenchServer::start(const QList<QByteArray> &addresses, QString *error)
{
    const auto failed = [error](const QString &what) {
        if (error)
            *error = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    };
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_epoll < 0 || m_wake < 0)
        return failed(QStringLiteral("epoll"));
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = m_wake;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &wake);

    for (const QByteArray &address : addresses) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return failed(QStringLiteral("socket"));
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(m_port);
        if (::inet_pton(AF_INET, address.constData(), &sa.sin_addr) != 1 ||
            (ntohl(sa.sin_addr.s_addr) >> 24) != 127) {
            ::close(fd);
            if (error)
                *error = QStringLiteral("not a loopback address: ") + QString::fromLatin1(address);
            return false;
        }
        if (::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 ||
            ::listen(fd, 1024) != 0) {
            ::close(fd);
            return failed(QStringLiteral("listen on ") + QString::fromLatin1(address));
        }
        if (m_port == 0) {
            socklen_t len = sizeof sa;
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len);
            m_port = ntohs(sa.sin_port);
        }
        m_listeners.append(fd);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev);
    }
    m_thread = std::thread([this] { loop(); });
    return true;
}

void BenchServer::stop()
{
    if (m_thread.joinable()) {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof one);
        m_thread.join();
    }
    for (int fd : std::as_const(m_listeners))
        ::close(fd);
    m_listeners.clear();
    if (m_epoll >= 0)
        ::close(m_epoll);
    if (m_wake >= 0)
        ::close(m_wake);
    m_epoll = m_wake = -1;
}

void BenchServer::loop()
{
    const QByteArray headAnswer = httpAnswer(false);
    const QByteArray getAnswer = httpAnswer(true);
    const QByteArray greeting = "220 bench ready\r\n";
    std::unordered_map<int, QByteArray> received;

    const auto closeConnection = [this, &received](int fd) {
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
        ::close(fd);
        received.erase(fd);
    };

    epoll_event events[64];
    for (;;) {
        const int n = ::epoll_wait(m_epoll, events, 64, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd == m_wake) {
                for (const auto &[open, bytes] : received)
                    ::close(open);
                return;
            }
            if (m_listeners.contains(fd)) {
                for (;;) {
                    const int client =
                        ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                    if (client < 0)
                        break;
                    const int on = 1;
                    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                    received[client];
                    epoll_event ev{};
                    ev.events = EPOLLIN | EPOLLRDHUP;
                    ev.data.fd = client;
                    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, client, &ev);
                    if (m_mode == Mode::Greeting) {
                        sendAll(client, greeting);
                        ++m_served;
                    }
                }
                continue;
            }
            auto it = received.find(fd);
            if (it == received.end())
                continue;
            char buffer[4096];
            bool closed = false;
            for (;;) {
                const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
                if (got > 0) {
                    it->second.append(buffer, got);
                    continue;
                }
                closed = got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
                break;
            }
            QByteArray &bytes = it->second;
            if (m_mode == Mode::Http) {
                if (bytes.contains("\r\n\r\n")) {
                    sendAll(fd, bytes.startsWith("GET ") ? getAnswer : headAnswer);
                    ++m_served;
                    closed = true;
                }
            } else if (bytes.contains("QUIT\r\n")) {
                closed = true;
            }
            if (closed || bytes.size() > MaxRequest)
                closeConnection(fd);
        }
    }
}
