#include "HostLookup.h"

#include "base/Subs.h"
#include "engine/HostResolver.h"
#include "engine/net/EventWait.h"

#include <QStringList>

#include <memory>

namespace {

QHostAddress decimalAddress(const QString &text)
{
    quint32 address = 0;
    for (const QString &part : text.split(QLatin1Char('.')))
        address = (address << 8) | part.toUInt();
    return QHostAddress(address);
}

} // namespace

LookupToken startHostLookup(HostResolver &resolver, const QString &host, DottedIPv4 reading,
                            std::function<void(QList<QHostAddress>)> found)
{
    auto token = std::make_shared<int>(0);
    if (IsDottedIPv4(host)) {
        found({reading == DottedIPv4::Decimal ? decimalAddress(host) : QHostAddress(host)});
    } else if (host.isEmpty()) {
        found({});
    } else {
        std::weak_ptr<int> alive = token;
        resolver.lookup(host, [alive, found = std::move(found)](QList<QHostAddress> addresses) {
            if (alive.lock())
                found(std::move(addresses));
        });
    }
    return token;
}

std::optional<QList<QHostAddress>> lookUpHost(HostResolver &resolver, const QString &host,
                                              DottedIPv4 reading, EventWait &wait,
                                              QDeadlineTimer deadline,
                                              const std::function<bool()> &aborted)
{
    std::optional<QList<QHostAddress>> answer;
    // Declared after the answer it fills in, so it goes first: a late
    // answer is dropped.
    const LookupToken lookup =
        startHostLookup(resolver, host, reading, [&](QList<QHostAddress> found) {
            answer = std::move(found);
            wait.wake();
        });
    if (wait.until([&] { return answer.has_value(); }, deadline, aborted) != EventWait::End::Ready)
        return std::nullopt;
    return answer;
}

bool connectToEach(const QList<QHostAddress> &addresses,
                   const std::function<ConnectAttempt(const QHostAddress &)> &attempt)
{
    for (const QHostAddress &address : addresses) {
        switch (attempt(address)) {
        case ConnectAttempt::Connected:
            return true;
        case ConnectAttempt::Failed:
            break;
        case ConnectAttempt::GiveUp:
            return false;
        }
    }
    return false;
}
