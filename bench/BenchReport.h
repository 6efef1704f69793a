#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// Prints the figures in the one format the suite uses:
//   BENCH <name> <value> <unit>[ ratio=<r>]
// and the small statistics the benchmarks share.
class BenchReport {
public:
    static void figure(const QString &name, double value, const QString &unit,
                       std::optional<double> ratio = std::nullopt);
    // A line for the reader that is not a figure ("# ...").
    static void note(const QString &text);

    static double median(std::vector<double> values);
    // Seconds since some fixed point, with nanosecond resolution.
    static double now();
};
