#pragma once

#include <QDateTime>
#include <QString>

// The last good copy of the settings store, kept beside it
// ("registry.sqlite.last-good"), private like it. It is taken with SQLite's
// online backup while the store is in use, checked, and only then put in
// place of the previous copy, so it never holds a damaged store.
class LastGoodCopy {
public:
    explicit LastGoodCopy(const QString &storePath);

    QString path() const;
    bool exists() const;
    // When the copy was taken; invalid when there is none.
    QDateTime savedAt() const;

    // Copies the store as it is now. Throws RegistryError, leaving the
    // previous copy as it was, when the store cannot be read or the copy
    // fails its check. Runs on any thread (connections of its own).
    void save() const;

private:
    QString m_storePath;
};
