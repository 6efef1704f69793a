#include "platform/NetworkState.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QNetworkAddressEntry>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr quint32 RouteUp = 0x0001;     // RTF_UP
constexpr quint32 RouteReject = 0x0200; // RTF_REJECT: an "unreachable" route
// Far more than a desktop's tables hold; a longer text is not trusted.
constexpr int MaxRouteLines = 16384;
constexpr int MaxInterfaceName = 15; // IFNAMSIZ without its terminating zero

// Loopback and link-local addresses only reach this machine or the local link
// (an IPv6 fe80:: address exists on every up interface, even without a
// network), so they do not make a connection.
bool isRoutable(const QHostAddress &address)
{
    return !address.isNull() && !address.isLoopback() && !address.isLinkLocal();
}

bool interfaceWorks(const NetworkInterfaceState &state)
{
    if (state.flags.testFlag(QNetworkInterface::IsLoopBack) ||
        !state.flags.testFlag(QNetworkInterface::IsUp) ||
        !state.flags.testFlag(QNetworkInterface::IsRunning))
        return false;
    for (const QHostAddress &address : state.addresses) {
        if (isRoutable(address))
            return true;
    }
    return false;
}

// How a column of a route table reads: an interface name, hexadecimal digits
// or a decimal number (the kernel prints some signed), of these lengths.
struct Column {
    enum Kind { Name, Hex, Decimal } kind;
    int minLength;
    int maxLength;
};
// Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT
const Column IPv4Columns[] = {{Column::Name, 1, MaxInterfaceName},
                              {Column::Hex, 8, 8},
                              {Column::Hex, 8, 8},
                              {Column::Hex, 4, 8},
                              {Column::Decimal, 1, 11},
                              {Column::Decimal, 1, 11},
                              {Column::Decimal, 1, 11},
                              {Column::Hex, 8, 8},
                              {Column::Decimal, 1, 11},
                              {Column::Decimal, 1, 11},
                              {Column::Decimal, 1, 11}};
// Destination and its prefix length, source and its prefix length, next
// hop, metric, reference count, use, flags, interface.
const Column IPv6Columns[] = {{Column::Hex, 32, 32}, {Column::Hex, 2, 2},
                              {Column::Hex, 32, 32}, {Column::Hex, 2, 2},
                              {Column::Hex, 32, 32}, {Column::Hex, 8, 8},
                              {Column::Hex, 8, 8},   {Column::Hex, 8, 8},
                              {Column::Hex, 8, 8},   {Column::Name, 1, MaxInterfaceName}};

bool fitsCharacter(char c, Column::Kind kind, bool first)
{
    const bool digit = c >= '0' && c <= '9';
    switch (kind) {
    case Column::Hex:
        return digit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    case Column::Decimal:
        return digit || (c == '-' && first);
    case Column::Name:
        return c > ' ' && c <= '~' && c != '/';
    }
    return false;
}

bool fits(const QByteArray &field, const Column &column)
{
    if (field.size() < column.minLength || field.size() > column.maxLength)
        return false;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (!fitsCharacter(field.at(i), column.kind, i == 0))
            return false;
    }
    return true;
}

template <std::size_t N>
bool fitsColumns(const QList<QByteArray> &fields, const Column (&columns)[N])
{
    if (fields.size() != qsizetype(N))
        return false;
    for (std::size_t i = 0; i < N; ++i) {
        if (!fits(fields.at(qsizetype(i)), columns[i]))
            return false;
    }
    return true;
}

// A route the kernel uses (not an "unreachable" one).
bool usable(const QByteArray &flags)
{
    const quint32 value = flags.toUInt(nullptr, 16);
    return (value & RouteUp) && !(value & RouteReject);
}
} // namespace

bool anyInterfaceConnected(const QList<NetworkInterfaceState> &interfaces)
{
    return std::any_of(interfaces.begin(), interfaces.end(), interfaceWorks);
}

std::optional<QStringList> defaultRouteInterfaces(RouteTable table, const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    if (lines.last().isEmpty())
        lines.removeLast();
    if (lines.size() > MaxRouteLines)
        return std::nullopt;
    qsizetype first = 0;
    if (table == RouteTable::IPv4) {
        // The IPv4 table starts with its column names.
        if (lines.isEmpty() || !lines.first().startsWith("Iface\t"))
            return std::nullopt;
        first = 1;
    }
    QStringList interfaces;
    for (qsizetype i = first; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines.at(i).simplified().split(' ');
        QByteArray name;
        bool isDefault = false;
        if (table == RouteTable::IPv4) {
            if (!fitsColumns(fields, IPv4Columns))
                return std::nullopt;
            name = fields.at(0);
            isDefault =
                fields.at(1) == "00000000" && fields.at(7) == "00000000" && usable(fields.at(3));
        } else {
            if (!fitsColumns(fields, IPv6Columns))
                return std::nullopt;
            name = fields.at(9);
            isDefault =
                fields.at(0) == QByteArray(32, '0') && fields.at(1) == "00" && usable(fields.at(8));
        }
        if (isDefault && !interfaces.contains(QString::fromLatin1(name)))
            interfaces.append(QString::fromLatin1(name));
    }
    return interfaces;
}

std::optional<QByteArray> readRouteFile(const QString &path, qint64 maxBytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray text;
    char buffer[16384];
    bool failed = false;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || text.size() + got > maxBytes) {
            failed = true;
            break;
        }
        if (got == 0)
            break;
        text.append(buffer, got);
    }
    ::close(fd);
    if (failed)
        return std::nullopt;
    return text;
}

bool internetConnectedFrom(const std::optional<QByteArray> &ipv4Routes,
                           const std::optional<QByteArray> &ipv6Routes,
                           const QList<NetworkInterfaceState> &interfaces)
{
    const std::optional<QStringList> ipv4 =
        ipv4Routes ? defaultRouteInterfaces(RouteTable::IPv4, *ipv4Routes) : std::nullopt;
    const std::optional<QStringList> ipv6 =
        ipv6Routes ? defaultRouteInterfaces(RouteTable::IPv6, *ipv6Routes) : std::nullopt;
    if (!ipv4 && !ipv6)
        return anyInterfaceConnected(interfaces);
    const QStringList routed = ipv4.value_or(QStringList()) + ipv6.value_or(QStringList());
    return std::any_of(interfaces.begin(), interfaces.end(),
                       [&routed](const NetworkInterfaceState &state) {
                           return routed.contains(state.name) && interfaceWorks(state);
                       });
}

QList<NetworkInterfaceState> currentInterfaceStates()
{
    QList<NetworkInterfaceState> states;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        NetworkInterfaceState state;
        state.flags = interface.flags();
        state.name = interface.name();
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries)
            state.addresses.append(entry.ip());
        states.append(state);
    }
    return states;
}

bool InternetConnected()
{
    return internetConnectedFrom(readRouteFile(QStringLiteral("/proc/net/route")),
                                 readRouteFile(QStringLiteral("/proc/net/ipv6_route")),
                                 currentInterfaceStates());
}

RecentInternetCheck::RecentInternetCheck(qint64 reuseMs, std::function<bool()> check,
                                         std::function<qint64()> clockMs)
    : m_reuseMs(reuseMs),
      m_check(check ? std::move(check) : std::function<bool()>(InternetConnected)),
      m_clockMs(clockMs ? std::move(clockMs) : std::function<qint64()>([] {
          return QDeadlineTimer::current(Qt::CoarseTimer).deadline();
      }))
{
}

bool RecentInternetCheck::operator()()
{
    const qint64 now = m_clockMs();
    if (!m_checked || now - m_checkedAt >= m_reuseMs || now < m_checkedAt)
        return refresh();
    return m_connected;
}

bool RecentInternetCheck::refresh()
{
    m_connected = m_check();
    m_checkedAt = m_clockMs();
    m_checked = true;
    return m_connected;
}
