#include "BenchReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <time.h>

namespace {

// Three significant digits at least, never exponent notation.
QString valueText(double value)
{
    const double magnitude = std::fabs(value);
    int decimals = 0;
    if (magnitude < 10)
        decimals = 3;
    else if (magnitude < 100)
        decimals = 2;
    else if (magnitude < 1000)
        decimals = 1;
    return QString::number(value, 'f', decimals);
}

} // namespace

void BenchReport::figure(const QString &name, double value, const QString &unit,
                         std::optional<double> ratio)
{
    QString line = QStringLiteral("BENCH ") + name + QLatin1Char(' ') + valueText(value) +
                   QLatin1Char(' ') + unit;
    if (ratio)
        line += QStringLiteral(" ratio=") + QString::number(*ratio, 'f', 2);
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

void BenchReport::note(const QString &text)
{
    std::printf("# %s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

double BenchReport::median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

double BenchReport::now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}
