#include "stats/ResponseFigures.h"

#include <algorithm>
#include <cmath>

int ResponseFigures::median(std::vector<int> values)
{
    if (values.empty())
        return -1;
    const size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + qsizetype(mid), values.end());
    const int upper = values[mid];
    if (values.size() % 2 == 1)
        return upper;
    const int lower = *std::max_element(values.begin(), values.begin() + qsizetype(mid));
    // Half up, without overflow for large values.
    return int((qint64(lower) + upper + 1) / 2);
}

int ResponseFigures::percentile(std::vector<int> values, double p)
{
    if (values.empty() || !(p > 0))
        return -1;
    const double rank = std::ceil(std::min(p, 100.0) / 100.0 * double(values.size()));
    const size_t index = size_t(std::clamp(rank, 1.0, double(values.size()))) - 1;
    std::nth_element(values.begin(), values.begin() + qsizetype(index), values.end());
    return values[index];
}

ResponseSpread ResponseFigures::spread(std::vector<int> answers)
{
    ResponseSpread s;
    s.answers = int(answers.size());
    s.p95Ms = percentile(answers, 95);
    s.medianMs = median(std::move(answers));
    return s;
}

ResponseFigures ResponseFigures::of(const QList<HistoryPoint> &points, qint64 nowMs)
{
    ResponseFigures f;
    std::vector<int> day, month;
    for (const HistoryPoint &p : points) {
        if (!f.last || p.utcMs >= f.last->utcMs)
            f.last = p;
        if (!p.answered())
            continue;
        // A point from the future (the clock was put back) counts as recent.
        const qint64 age = nowMs - p.utcMs;
        if (age < MonthMs)
            month.push_back(p.responseMs);
        if (age < DayMs)
            day.push_back(p.responseMs);
    }
    f.day = spread(std::move(day));
    f.month = spread(std::move(month));
    return f;
}

static QString spreadText(const char *window, const ResponseSpread &s)
{
    if (s.answers == 0)
        return QStringLiteral("%1: no answers").arg(QLatin1String(window));
    return QStringLiteral("%1: median %2 ms, 95% %3 ms")
        .arg(QLatin1String(window))
        .arg(s.medianMs)
        .arg(s.p95Ms);
}

QStringList ResponseFigures::lines() const
{
    if (!last)
        return {QStringLiteral("Response times: no data yet")};
    QString lastText;
    if (!last->answered())
        lastText = QStringLiteral("Last response: none (no answer)");
    else if (last->up)
        lastText = QStringLiteral("Last response: %1 ms").arg(last->responseMs);
    else
        lastText = QStringLiteral("Last response: %1 ms (failed)").arg(last->responseMs);
    return {lastText, spreadText("24 h", day), spreadText("30 d", month)};
}
