#pragma once

#include <QByteArray>
#include <QString>

// Ways a settings store file gets damaged on a real disk, for tests.
namespace StoreDamage {
// "half": cut to half its size (a full disk, a copy that stopped);
// "random": overwritten with random bytes of the same size (a bad copy);
// "empty": cut to nothing.
void apply(const QString &storePath, const QString &kind);
QByteArray readAll(const QString &path);
// A store at path with one value, closed again (its WAL folded in).
void makeStore(const QString &path, const QString &value);
// The value makeStore wrote, read from the store at path.
QString valueIn(const QString &path);
} // namespace StoreDamage
