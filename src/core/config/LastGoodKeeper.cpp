#include "config/LastGoodKeeper.h"

#include "config/LastGoodCopy.h"
#include "config/RegistryStore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>

#include <memory>

LastGoodKeeper::LastGoodKeeper(const QString &storePath, QObject *parent)
    : QObject(parent), m_storePath(storePath)
{
    connect(&m_timer, &QTimer::timeout, this, &LastGoodKeeper::look);
}

LastGoodKeeper::~LastGoodKeeper()
{
    if (m_worker) {
        m_worker->wait();
        delete m_worker;
    }
}

void LastGoodKeeper::start(std::chrono::milliseconds first, std::chrono::milliseconds interval)
{
    m_timer.setInterval(interval);
    m_timer.start();
    QTimer::singleShot(first, this, &LastGoodKeeper::look);
}

LastGoodKeeper::Stamp LastGoodKeeper::stamp() const
{
    const QFileInfo store(m_storePath);
    const QFileInfo wal(m_storePath + QStringLiteral("-wal"));
    return {store.lastModified(), wal.exists() ? wal.lastModified() : QDateTime(), store.size(),
            wal.exists() ? wal.size() : -1};
}

void LastGoodKeeper::look()
{
    if (m_worker)
        return;
    const Stamp now = stamp();
    if (m_copiedAt == now)
        return;
    auto error = std::make_shared<QString>();
    m_worker = QThread::create([path = m_storePath, error] {
        try {
            LastGoodCopy(path).save();
        } catch (const RegistryError &failure) {
            *error = failure.message();
        }
    });
    connect(m_worker, &QThread::finished, this, [this, now, error] {
        // Finished is sent just before the thread ends; deleted here, not
        // later, so that one ending with the program is not left behind.
        m_worker->wait();
        delete m_worker;
        m_worker = nullptr;
        // Changes made while the copy ran show as a new stamp next time.
        if (error->isEmpty())
            m_copiedAt = now;
        emit copied(*error);
    });
    m_worker->start(QThread::LowPriority);
}

void LastGoodKeeper::finish()
{
    m_timer.stop();
    if (m_worker) {
        m_worker->wait();
        QCoreApplication::sendPostedEvents(this);
    }
    const Stamp now = stamp();
    if (m_copiedAt == now)
        return;
    try {
        LastGoodCopy(m_storePath).save();
        m_copiedAt = now;
        emit copied(QString());
    } catch (const RegistryError &failure) {
        emit copied(failure.message());
    }
}
