#pragma once

#include <QHostAddress>
#include <QList>
#include <QNetworkInterface>

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
