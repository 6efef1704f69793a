#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QNetworkInterface>
#include <QStringList>

#include <functional>
#include <optional>

// What the connection check needs to know of one network interface.
struct NetworkInterfaceState {
    QNetworkInterface::InterfaceFlags flags;
    QList<QHostAddress> addresses;
    QString name = {};
};

// True when some interface other than loopback is up, running and has an
// address that can reach beyond the local link.
bool anyInterfaceConnected(const QList<NetworkInterfaceState> &interfaces);

// The kernel's route tables as text, one a file.
enum class RouteTable { IPv4, IPv6 };

// The interfaces that carry a default route (0.0.0.0/0 or ::/0, usable, not a
// reject route) in the text of a route table, in table order. Empty when there
// is none; nothing when the text is not such a table (a line that does not
// read as a route, more lines than any real table holds).
std::optional<QStringList> defaultRouteInterfaces(RouteTable table, const QByteArray &text);

// The text of a route table file; nothing when it is missing, cannot be read
// or is larger than maxBytes.
std::optional<QByteArray> readRouteFile(const QString &path, qint64 maxBytes = 1024 * 1024);

// The connection decision from what was read: connected when a default route
// leads through an interface that is up, running, not loopback and has an
// address beyond the local link. A table that could not be read (nothing)
// counts as having no routes; when neither could be read, the interface rule
// of anyInterfaceConnected decides.
bool internetConnectedFrom(const std::optional<QByteArray> &ipv4Routes,
                           const std::optional<QByteArray> &ipv6Routes,
                           const QList<NetworkInterfaceState> &interfaces);

// The system's interfaces as the check sees them.
QList<NetworkInterfaceState> currentInterfaceStates();

// Whether the computer has a way out to the internet: a default route through
// an interface that works (see internetConnectedFrom), from the system's
// route tables and interfaces.
bool InternetConnected();

// The same answer, reused for a moment: reading the routes and interfaces is
// a round trip to the kernel, and a poll cycle asks before every service. A
// change of the connection is seen at most reuseMs late, or at once by a
// caller that refreshes.
class RecentInternetCheck {
public:
    static constexpr qint64 DefaultReuseMs = 500;

    // check and clock (milliseconds, steady) are for tests; by default the
    // system's routes and interfaces and a steady clock.
    explicit RecentInternetCheck(qint64 reuseMs = DefaultReuseMs, std::function<bool()> check = {},
                                 std::function<qint64()> clockMs = {});

    bool operator()();
    // Reads the state now; the answer is then reused as any other.
    bool refresh();

private:
    qint64 m_reuseMs;
    std::function<bool()> m_check;
    std::function<qint64()> m_clockMs;
    qint64 m_checkedAt = 0;
    bool m_checked = false;
    bool m_connected = false;
};
