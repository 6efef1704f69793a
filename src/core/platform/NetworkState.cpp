#include "platform/NetworkState.h"

#include <QDeadlineTimer>
#include <QNetworkAddressEntry>

// Loopback and link-local addresses only reach this machine or the local link
// (an IPv6 fe80:: address exists on every up interface, even without a
// network), so they do not make a connection.
static bool isRoutable(const QHostAddress &address)
{
    return !address.isNull() && !address.isLoopback() && !address.isLinkLocal();
}

bool anyInterfaceConnected(const QList<NetworkInterfaceState> &interfaces)
{
    for (const NetworkInterfaceState &state : interfaces) {
        if (state.flags.testFlag(QNetworkInterface::IsLoopBack) ||
            !state.flags.testFlag(QNetworkInterface::IsUp) ||
            !state.flags.testFlag(QNetworkInterface::IsRunning))
            continue;
        for (const QHostAddress &address : state.addresses) {
            if (isRoutable(address))
                return true;
        }
    }
    return false;
}

QList<NetworkInterfaceState> currentInterfaceStates()
{
    QList<NetworkInterfaceState> states;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        NetworkInterfaceState state;
        state.flags = interface.flags();
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries)
            state.addresses.append(entry.ip());
        states.append(state);
    }
    return states;
}

bool InternetConnected()
{
    return anyInterfaceConnected(currentInterfaceStates());
}

RecentInternetCheck::RecentInternetCheck(qint64 reuseMs, std::function<bool()> check,
                                         std::function<qint64()> clockMs)
    : m_reuseMs(reuseMs), m_check(check ? std::move(check) : std::function<bool()>(InternetConnected)),
      m_clockMs(clockMs ? std::move(clockMs) : std::function<qint64()>([] {
          return QDeadlineTimer::current(Qt::CoarseTimer).deadline();
      }))
{
}

bool RecentInternetCheck::operator()()
{
    const qint64 now = m_clockMs();
    if (!m_checked || now - m_checkedAt >= m_reuseMs || now < m_checkedAt) {
        m_connected = m_check();
        m_checkedAt = now;
        m_checked = true;
    }
    return m_connected;
}
