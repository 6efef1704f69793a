#pragma once

#include "engine/HostResolver.h"

#include <QObject>

// The platform's name resolution (asynchronous, so the event loop keeps
// running). Answers still pending when the resolver is destroyed are dropped.
class SystemHostResolver : public HostResolver {
public:
    SystemHostResolver();
    ~SystemHostResolver() override;
    void lookup(const QString &name, std::function<void(QList<QHostAddress>)> done) override;

private:
    QObject m_context;
};
