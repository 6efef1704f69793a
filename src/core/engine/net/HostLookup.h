#pragma once

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class EventWait;
class HostResolver;

// How a host given as a dotted IPv4 address is read. The probes read it as
// the socket library does (a part with a leading zero is octal), the mail
// client part by part as decimal numbers.
enum class DottedIPv4 { SocketLibrary, Decimal };

// Starts finding the addresses to try for `host`, in the resolver's order:
// a dotted IPv4 address as it stands (never looked up, `found` is called at
// once), any other name through the resolver; an empty list when the name
// is not found or the host is empty. An answer that comes after the
// returned token is gone is dropped.
using LookupToken = std::shared_ptr<void>;
LookupToken startHostLookup(HostResolver &resolver, const QString &host, DottedIPv4 reading,
                            std::function<void(QList<QHostAddress>)> found);

// The same, waited for: the addresses to try for `host`, in the resolver's order: a dotted IPv4
// address as it stands (never looked up), any other name through the
// resolver. Empty when the name is not found or the host is empty. No
// value when the wait ended first: `aborted` said so or the deadline
// passed. An answer that comes after that is dropped.
std::optional<QList<QHostAddress>> lookUpHost(HostResolver &resolver, const QString &host,
                                              DottedIPv4 reading, EventWait &wait,
                                              QDeadlineTimer deadline,
                                              const std::function<bool()> &aborted = {});

// What one connect attempt came to.
enum class ConnectAttempt { Connected, Failed, GiveUp };

// Tries the addresses in order until one connects; GiveUp ends the tries
// at once. True when one connected.
bool connectToEach(const QList<QHostAddress> &addresses,
                   const std::function<ConnectAttempt(const QHostAddress &)> &attempt);
