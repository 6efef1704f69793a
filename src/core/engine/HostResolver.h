#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>

// Turns a host name into addresses. Probes go through this so tests can
// answer lookups themselves and never resolve an outside name.
// `done` is called once, with an empty list when the name is not found; an
// implementation may also never call it (the caller must cope via abort).
class HostResolver {
public:
    virtual ~HostResolver();
    virtual void lookup(const QString &name, std::function<void(QList<QHostAddress>)> done) = 0;
};
