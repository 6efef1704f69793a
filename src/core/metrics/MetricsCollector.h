#pragma once

#include "config/ProgramContext.h"
#include "metrics/MetricsSnapshot.h"
#include "stats/ResponseFigures.h"

#include <QDateTime>
#include <QHash>
#include <QObject>

#include <functional>
#include <optional>

class Monitor;

// Gathers what the metrics tell from a running monitor: each service's last
// result as it comes in, and at the end of each poll the program's figures.
// Failure counts come from the store, certificates from the poll cycle.
class MetricsCollector : public QObject {
    Q_OBJECT
public:
    // The clock tells when a poll ended; the system's when empty.
    MetricsCollector(Monitor *monitor, const ProgramContext &context,
                     std::function<QDateTime()> now = {}, QObject *parent = nullptr);

    // The metrics of the services listed now, as of the last results.
    MetricsSnapshot snapshot() const;

signals:
    // A poll ended and its results are in.
    void pollCollected();

private:
    void cycleFinished();

    Monitor *m_monitor;
    ProgramContext m_context;
    std::function<QDateTime()> m_now;
    QHash<QString, HistoryPoint> m_last;
    std::optional<qint64> m_lastPollMs;
    std::optional<bool> m_connected;
};
