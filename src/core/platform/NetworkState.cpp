#include "platform/NetworkState.h"

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
