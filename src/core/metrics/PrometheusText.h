#pragma once

#include "metrics/MetricsSnapshot.h"

#include <QByteArray>
#include <QString>

// The Prometheus text exposition format (version 0.0.4) of a snapshot:
// every metric family with its HELP and TYPE lines and its samples grouped
// together, services in the order given, labels service, type, host and
// port. Families without a sample are left out. UTF-8, lines end in "\n".
class PrometheusText {
public:
    static QByteArray format(const MetricsSnapshot &snapshot);
    // A label value as the format wants it between its quotes: backslash,
    // double quote and line feed escaped.
    static QString escapeLabelValue(const QString &value);
    // The Content-Type of a scrape's answer.
    static QByteArray contentType()
    {
        return QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8");
    }
};
