#include "platform/ConnectionWatcher.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

ConnectionWatcher::ConnectionWatcher(std::function<bool()> check, Source source, int pollMs,
                                     QObject *parent)
    : QObject(parent), m_check(std::move(check)), m_source(source), m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, &ConnectionWatcher::check);
    if (m_source == Source::KernelNotices && listenToKernel()) {
        m_timer->setSingleShot(true);
        m_timer->setInterval(SettleMs);
        return;
    }
    m_source = Source::Polling;
    m_timer->setInterval(qMax(1, pollMs));
    m_timer->start();
}

ConnectionWatcher::~ConnectionWatcher()
{
    delete m_notifier;
    if (m_socket >= 0)
        ::close(m_socket);
}

bool ConnectionWatcher::listenToKernel()
{
    m_socket = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (m_socket < 0)
        return false;
    sockaddr_nl address = {};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE |
                        RTMGRP_IPV6_ROUTE;
    if (::bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(m_socket);
        m_socket = -1;
        return false;
    }
    m_notifier = new QSocketNotifier(m_socket, QSocketNotifier::Read);
    connect(m_notifier, &QSocketNotifier::activated, this, &ConnectionWatcher::drainNotices);
    return true;
}

void ConnectionWatcher::drainNotices()
{
    // What a notice says does not matter, only that something changed: the
    // check reads the whole state. Read a bounded number per wake; the
    // notifier calls again for the rest.
    char buffer[8192];
    for (int i = 0; i < 64; ++i) {
        const ssize_t got = ::recv(m_socket, buffer, sizeof buffer, MSG_DONTWAIT);
        // ENOBUFS: notices were lost, which still means a change.
        if (got < 0 && errno != EINTR && errno != ENOBUFS)
            break;
    }
    if (!m_timer->isActive())
        m_timer->start();
}

void ConnectionWatcher::check()
{
    if (m_check && m_check())
        emit connected();
}
