#include "FakeResolver.h"

#include <QTimer>

#include <algorithm>

FakeResolver::FakeResolver(const QStringList &localNames)
{
    for (const QString &name : localNames)
        answers.insert(name, {QHostAddress(QHostAddress::LocalHost)});
}

void FakeResolver::lookup(const QString &name, std::function<void(QList<QHostAddress>)> done)
{
    asked.append(name);
    if (never || silent.contains(name))
        return;
    const QList<QHostAddress> found = answers.value(name);
    QTimer::singleShot(std::max(0, delayMs), Qt::PreciseTimer,
                       [done = std::move(done), found] { done(found); });
}
