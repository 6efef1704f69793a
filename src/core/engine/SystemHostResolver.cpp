#include "SystemHostResolver.h"

#include <QHostInfo>

SystemHostResolver::SystemHostResolver() = default;
SystemHostResolver::~SystemHostResolver() = default;

void SystemHostResolver::lookup(const QString &name, std::function<void(QList<QHostAddress>)> done)
{
    QHostInfo::lookupHost(name, &m_context, [done = std::move(done)](const QHostInfo &info) {
        done(info.error() == QHostInfo::NoError ? info.addresses() : QList<QHostAddress>());
    });
}
