#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>

class QThread;

// Keeps the last good copy of the settings store fresh while the program
// runs: a first copy shortly after a successful start, then one whenever the
// store changed, looked at on a timer, never on a write. The copy is made on
// a thread of its own, so the window never waits for it.
class LastGoodKeeper : public QObject {
    Q_OBJECT

public:
    explicit LastGoodKeeper(const QString &storePath, QObject *parent = nullptr);
    // Waits for a copy in progress.
    ~LastGoodKeeper() override;

    void start(std::chrono::milliseconds first = std::chrono::seconds(2),
               std::chrono::milliseconds interval = std::chrono::minutes(3));
    // At exit: waits for a copy in progress, then copies once more when the
    // store changed since the last copy.
    void finish();

signals:
    // A copy ended; error is empty when it was saved.
    void copied(const QString &error);

private:
    // What tells a change of the store: its file and its WAL, which every
    // commit writes.
    struct Stamp {
        QDateTime storeModified, walModified;
        qint64 storeSize = -1, walSize = -1;
        bool operator==(const Stamp &) const = default;
    };
    Stamp stamp() const;
    void look();

    QString m_storePath;
    QTimer m_timer;
    QThread *m_worker = nullptr;
    std::optional<Stamp> m_copiedAt;
};
