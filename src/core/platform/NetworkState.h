#pragma once

#include <QHostAddress>
#include <QList>
#include <QNetworkInterface>

#include <functional>

// What the connection check needs to know of one network interface.
struct NetworkInterfaceState {
    QNetworkInterface::InterfaceFlags flags;
    QList<QHostAddress> addresses;
};

// True when some interface other than loopback is up, running and has an
// address that can reach beyond the local link.
bool anyInterfaceConnected(const QList<NetworkInterfaceState> &interfaces);

// The system's interfaces as the check sees them.
QList<NetworkInterfaceState> currentInterfaceStates();

// Whether the computer has a network connection that may reach the internet.
bool InternetConnected();

// The same answer, reused for a moment: reading the interfaces is a round
// trip to the kernel, and a poll cycle asks before every service. A change
// of the connection is seen at most reuseMs late.
class RecentInternetCheck {
public:
    static constexpr qint64 DefaultReuseMs = 500;

    // check and clock (milliseconds, steady) are for tests; by default the
    // system's interfaces and a steady clock.
    explicit RecentInternetCheck(qint64 reuseMs = DefaultReuseMs,
                                 std::function<bool()> check = {},
                                 std::function<qint64()> clockMs = {});

    bool operator()();

private:
    qint64 m_reuseMs;
    std::function<bool()> m_check;
    std::function<qint64()> m_clockMs;
    qint64 m_checkedAt = 0;
    bool m_checked = false;
    bool m_connected = false;
};
