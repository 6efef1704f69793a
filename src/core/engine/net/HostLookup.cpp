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

std::optional<QList<QHostAddress>> lookUpHost(HostResolver &resolver, const QString &host,
                                              DottedIPv4 reading, EventWait &wait,
                                              QDeadlineTimer deadline,
                                              const std::function<bool()> &aborted)
{
    if (IsDottedIPv4(host)) {
        return QList<QHostAddress>{reading == DottedIPv4::Decimal ? decimalAddress(host)
                                                                  : QHostAddress(host)};
    }
    if (host.isEmpty())
        return QList<QHostAddress>();

    // The slot lives only as long as this call waits: a late answer finds it
    // gone and is dropped, and never touches a wait that has ended.
    auto answer = std::make_shared<std::optional<QList<QHostAddress>>>();
    std::weak_ptr<std::optional<QList<QHostAddress>>> slot = answer;
    resolver.lookup(host, [slot, &wait](QList<QHostAddress> found) {
        if (auto s = slot.lock()) {
            *s = std::move(found);
            wait.wake();
        }
    });
    if (wait.until([&] { return answer->has_value(); }, deadline, aborted) != EventWait::End::Ready)
        return std::nullopt;
    return answer->value();
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
