#pragma once

#include "config/LastGoodCopy.h"

#include <QDateTime>
#include <QString>

// The ways forward from a damaged settings store (DamagedStoreError). The
// damaged file is never overwritten or deleted: it is kept aside under
// "<store>.damaged-<yyyyMMdd-HHmmss>", with its -wal and -shm files.
class StoreRecovery {
public:
    explicit StoreRecovery(const QString &storePath);

    QString storePath() const { return m_storePath; }
    const LastGoodCopy &lastGood() const { return m_lastGood; }

    // Puts the last good copy in the store's place. Returns where the store
    // that was there is kept (empty when there was none). Throws
    // RegistryError, with nothing changed, when there is no sound copy or
    // another process has the store open.
    QString restoreLastGood(const QDateTime &now = QDateTime::currentDateTime()) const;
    // Moves the store aside, so that the next open makes a new one, and the
    // last good copy, if any, with it ("<aside>.last-good"). Returns where
    // the store is kept. Throws RegistryError as above.
    QString startNew(const QDateTime &now = QDateTime::currentDateTime()) const;

private:
    void refuseWhileInUse() const;
    QString freeAsideName(const QDateTime &now) const;
    void moveSideFiles(const QString &aside) const;

    QString m_storePath;
    LastGoodCopy m_lastGood;
};
