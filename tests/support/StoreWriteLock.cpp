#include "StoreWriteLock.h"

#include <QFile>

#include <sqlite3.h>

StoreWriteLock::StoreWriteLock(const QString &storePath)
{
    if (sqlite3_open(QFile::encodeName(storePath).constData(), &m_db) != SQLITE_OK)
        return;
    m_held = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
}

StoreWriteLock::~StoreWriteLock()
{
    release();
    sqlite3_close(m_db);
}

void StoreWriteLock::release()
{
    if (m_held)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    m_held = false;
}
