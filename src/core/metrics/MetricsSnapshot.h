#pragma once

#include <QList>
#include <QString>

#include <optional>

// What one service contributes to the metrics. A value the program does not
// know (a service not checked since the start, an http service) is left
// out rather than given as a made-up number.
struct ServiceMetrics {
    QString service; // the name as the service list shows it
    QString type;    // protocol, lower case
    QString host;
    int port = 0;
    std::optional<bool> up;
    std::optional<int> actualFailures;
    std::optional<qint64> lastCheckMs;         // UTC, milliseconds since the epoch
    std::optional<int> responseMs;             // time to the complete answer
    std::optional<qint64> certificateExpiryMs; // UTC, milliseconds since the epoch
};

// The program's state as the metrics tell it, taken after a poll.
struct MetricsSnapshot {
    QString version;
    int pollsTotal = 0;
    std::optional<qint64> lastPollMs;
    std::optional<bool> internetConnected;
    QList<ServiceMetrics> services;
};
