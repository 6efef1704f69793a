#pragma once

#include <QString>

// One running instance per mode: an flock()ed file. The kernel drops the lock
// when the process ends, however it ends, so a crash never leaves a stale lock.
class InstanceLock {
public:
    explicit InstanceLock(const QString &filePath);
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    // "Quellmark_MUTEX.lock" or "QuellmarkTEST_MUTEX.lock" in the runtime folder.
    static QString pathForMode(bool testMode);

    // True when this process now holds the lock; false when another one does
    // (or the file cannot be opened at all).
    bool tryLock();
    bool isLocked() const { return m_fd >= 0; }
    // Lets go early, for example before a restart starts the next instance.
    void release();

private:
    QString m_path;
    int m_fd = -1;
};
