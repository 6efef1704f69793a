#pragma once

#include <QString>

struct sqlite3;

// Holds the write lock of a settings store file from a second connection,
// as another program writing to it would, so the store's own writes fail
// once their busy wait is over.
class StoreWriteLock {
public:
    explicit StoreWriteLock(const QString &storePath);
    ~StoreWriteLock();
    StoreWriteLock(const StoreWriteLock &) = delete;
    StoreWriteLock &operator=(const StoreWriteLock &) = delete;

    bool isHeld() const { return m_held; }
    void release();

private:
    sqlite3 *m_db = nullptr;
    bool m_held = false;
};
