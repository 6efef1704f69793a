#pragma once

#include "engine/HostResolver.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

// A host resolver for tests: it answers from its own table, never from the
// system, so no test resolves an outside name. Every name asked is kept in
// order. The answer comes from the event loop, as a real lookup's would; a
// name not in the table is not found; every answer can be made to take a
// while (delayMs). Names in `silent`, or every name while
// `never` is set, get no answer at all.
class FakeResolver : public HostResolver {
public:
    FakeResolver() = default;
    // Each of the names answers with the loopback address.
    explicit FakeResolver(const QStringList &localNames);

    void lookup(const QString &name, std::function<void(QList<QHostAddress>)> done) override;

    QHash<QString, QList<QHostAddress>> answers;
    QSet<QString> silent;
    bool never = false;
    // How long every answer takes to come, in milliseconds.
    int delayMs = 0;
    QStringList asked;
};
